#include "cli/service/pipe_server.h"

#include <algorithm>
#include <memory>

#include "nivalto/hal/service_pipe.h"

namespace nivalto {
namespace {

enum class Next : std::uint8_t { Serve, EndLoop };

// The decision on the pair ConnectNamedPipe leaves behind.
Next await_client(ServerPipe& pipe) {
  const ConnectCall call = pipe.connect();
  if (!call.returned_nonzero) {
    if (call.last_error != IO_PENDING_CODE) {
      // ERROR_PIPE_CONNECTED: a client came before the call. Any other error
      // leaves a connection the read will find broken, and drop.
      return Next::Serve;
    }
    // The stop event, or a wait that failed: either way nobody is served.
    return pipe.wait_for_client() == CLIENT_CONNECTED_WAIT ? Next::Serve : Next::EndLoop;
  }
  // An overlapped ConnectNamedPipe should never return nonzero; when it does,
  // only "already connected" means there is a client.
  return call.last_error == PIPE_CONNECTED_CODE ? Next::Serve : Next::EndLoop;
}

// One request, one answer. Returns EndLoop when the stop event cut the wait
// for the request short.
Next serve_client(ServerPipe& pipe, RequestHandler& handler) {
  const auto request = std::make_unique<std::byte[]>(PIPE_BUFFER_SIZE);
  const ReadResult read = pipe.read(std::span(request.get(), PIPE_BUFFER_SIZE));
  if (read.status != ReadStatus::Received) {
    // No request, no answer: the client is dropped.
    pipe.disconnect();
    return read.status == ReadStatus::Stopped ? Next::EndLoop : Next::Serve;
  }

  // Exactly one read: whatever the client wrote after it is never looked at.
  const std::size_t count = std::min(read.count, PIPE_BUFFER_SIZE);
  std::string line =
      handler.answer(std::string_view(reinterpret_cast<const char*>(request.get()), count));
  line += '\n';
  if (pipe.write(line)) {
    pipe.flush();
  } else {
    pipe.cancel_io();
  }
  pipe.disconnect();
  return Next::Serve;
}

}  // namespace

void run_connection_loop(ServerPipe& pipe, const StopSignal& stop, RequestHandler& handler) {
  while (!stop.stop_requested()) {
    if (await_client(pipe) == Next::EndLoop) return;
    if (serve_client(pipe, handler) == Next::EndLoop) return;
  }
}

}  // namespace nivalto
