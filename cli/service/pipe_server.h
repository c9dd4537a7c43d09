#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cli/service/level_store.h"
#include "cli/service/stop_signal.h"

namespace nivalto {

// The Win32 codes the connection decision looks at (named apart from the
// platform's macros, which this header must not collide with).
inline constexpr std::uint32_t IO_PENDING_CODE = 997;      // ERROR_IO_PENDING
inline constexpr std::uint32_t PIPE_CONNECTED_CODE = 535;  // ERROR_PIPE_CONNECTED
inline constexpr std::uint32_t CLIENT_CONNECTED_WAIT = 0;  // WAIT_OBJECT_0: the connect event
inline constexpr std::uint32_t POWER_WORK_WAIT = 2;        // WAIT_OBJECT_0 + 2: the work event

// How long a connected client has to deliver its request. A client that
// connects and never writes would otherwise hold the only pipe instance, and
// keep the service from stopping, for as long as it likes.
inline constexpr std::chrono::milliseconds REQUEST_READ_TIME_LIMIT{5000};

// What ConnectNamedPipe returned and what GetLastError said right after,
// which the loop reads together.
struct ConnectCall {
  bool returned_nonzero = false;
  std::uint32_t last_error = 0;
};

enum class ReadStatus : std::uint8_t {
  Received,  // `count` bytes are in the buffer
  Failed,    // the client is gone, or the read failed some other way
  TimedOut,  // nothing arrived within REQUEST_READ_TIME_LIMIT
  Stopped,   // the stop event was signalled first
};

struct ReadResult {
  ReadStatus status = ReadStatus::Failed;
  std::size_t count = 0;
};

// The server end of the single pipe instance, one operation per platform
// step of a connection. The Windows implementation drives overlapped I/O on
// the pipe; tests drive the loop through a recording fake.
class ServerPipe {
 public:
  virtual ~ServerPipe() = default;
  // ResetEvent(connect event), then ConnectNamedPipe with a fresh OVERLAPPED
  // carrying that event, then GetLastError.
  [[nodiscard]] virtual ConnectCall connect() = 0;
  // WaitForMultipleObjects on [connect event, stop event, work event]: the
  // raw result. The work event is reset before POWER_WORK_WAIT is returned,
  // so that work asked after the caller takes the pending work signals it
  // again.
  [[nodiscard]] virtual std::uint32_t wait_for_client() = 0;
  // One read of at most buffer.size() bytes, waiting for the data, the stop
  // event or REQUEST_READ_TIME_LIMIT. Returns only once no I/O into the buffer
  // is outstanding (a read that did not complete has been cancelled).
  [[nodiscard]] virtual ReadResult read(std::span<std::byte> buffer) = 0;
  // One WriteFile of all the bytes; true when it completed (at once, or after
  // waiting for it).
  [[nodiscard]] virtual bool write(std::string_view bytes) = 0;
  // FlushFileBuffers: returns once the client has read the answer.
  virtual void flush() = 0;
  // CancelIoEx on all I/O of the pipe.
  virtual void cancel_io() = 0;
  virtual void disconnect() = 0;
};

// Turns the bytes of one request into the answer line (without its line feed).
class RequestHandler {
 public:
  virtual ~RequestHandler() = default;
  [[nodiscard]] virtual std::string answer(std::string_view request) = 0;
};

// Serves one client after the other until a stop is requested or the wait
// for a client fails. A stop is looked at before each connection, while
// waiting for a client and while waiting for a request; a request already
// read is handled and answered first. The power work is done in turn with
// the clients: before each connection and while waiting for a client, never
// during a request. A read at shutdown, which comes with the stop, is left
// pending for the caller (finish_power_work).
void run_connection_loop(ServerPipe& pipe, StopSignal& signal, RequestHandler& handler,
                         BacklightKeeper& keeper);

// Once the loop is over: the read of a shutdown, if one is pending. Any other
// work is dropped, since a stop asked by a person ends as promptly as ever.
void finish_power_work(StopSignal& signal, BacklightKeeper& keeper);

}  // namespace nivalto
