#include "cli/service/pipe_server.h"

#include <algorithm>
#include <memory>

#include "nivalto/hal/service_pipe.h"

namespace nivalto {
namespace {

enum class Next : std::uint8_t { Serve, EndLoop };

// Takes the pending power work, if any, and does it.
void do_power_work(StopSignal& signal, BacklightKeeper& keeper) {
  const TakenWork taken = signal.take_work();
  switch (taken.work) {
    case PowerWork::GiveBack:
      keeper.give_back();
      break;
    case PowerWork::ReadAtSleep:
    case PowerWork::ReadAtShutdown:
      keeper.remember();
      break;
    case PowerWork::None:
      break;
  }
  signal.work_done(taken.ticket);
}

// The decision on the pair ConnectNamedPipe leaves behind.
Next await_client(ServerPipe& pipe, StopSignal& signal, BacklightKeeper& keeper) {
  const ConnectCall call = pipe.connect();
  if (!call.returned_nonzero) {
    if (call.last_error != IO_PENDING_CODE) {
      // ERROR_PIPE_CONNECTED: a client came before the call. Any other error
      // leaves a connection the read will find broken, and drop.
      return Next::Serve;
    }
    // The connection stays pending while the work is done: a client that
    // comes meanwhile is served right after it.
    std::uint32_t waited = pipe.wait_for_client();
    while (waited == POWER_WORK_WAIT && !signal.stop_requested()) {
      do_power_work(signal, keeper);
      waited = pipe.wait_for_client();
    }
    // The stop event, or a wait that failed: either way nobody is served.
    return waited == CLIENT_CONNECTED_WAIT ? Next::Serve : Next::EndLoop;
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

void run_connection_loop(ServerPipe& pipe, StopSignal& signal, RequestHandler& handler,
                         BacklightKeeper& keeper) {
  while (!signal.stop_requested()) {
    // Work asked during a request waits for it, and no stream of clients can
    // hold it back any longer than one request.
    do_power_work(signal, keeper);
    if (await_client(pipe, signal, keeper) == Next::EndLoop) return;
    if (serve_client(pipe, handler) == Next::EndLoop) return;
  }
}

void finish_power_work(StopSignal& signal, BacklightKeeper& keeper) {
  const TakenWork taken = signal.take_work();
  if (taken.work == PowerWork::ReadAtShutdown) keeper.remember();
  signal.work_done(taken.ticket);
}

}  // namespace nivalto
