#include "nivalto/hal/pipe_client_windows.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "nivalto/hal/unique_handle_windows.h"

namespace nivalto {
namespace {

using Clock = std::chrono::steady_clock;

DWORD milliseconds_until(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<DWORD>(std::clamp<long long>(left, 0, INFINITE - 1));
}

// Completes one overlapped transfer that `call_succeeded`/`call_error`
// describe. On time-out the transfer is cancelled and awaited, so that the
// buffer and the OVERLAPPED are no longer in use when this returns.
std::optional<DWORD> finish_transfer(HANDLE pipe, OVERLAPPED& overlapped, bool call_succeeded,
                                     DWORD call_error, Clock::time_point deadline) {
  if (!call_succeeded && call_error != ERROR_IO_PENDING) return std::nullopt;
  DWORD bytes = 0;
  if (WaitForSingleObject(overlapped.hEvent, milliseconds_until(deadline)) != WAIT_OBJECT_0) {
    CancelIoEx(pipe, &overlapped);
    GetOverlappedResult(pipe, &overlapped, &bytes, TRUE);
    return std::nullopt;
  }
  if (!GetOverlappedResult(pipe, &overlapped, &bytes, FALSE)) return std::nullopt;
  return bytes;
}

}  // namespace

WindowsServicePipeClient::WindowsServicePipeClient(std::wstring pipe_name,
                                                   std::chrono::milliseconds time_limit)
    : pipe_name_(std::move(pipe_name)), time_limit_(time_limit) {}

PipeExchange WindowsServicePipeClient::exchange(std::string_view request) {
  // Overlapped only so that a silent server cannot hold us forever. The
  // quality-of-service flags stop whoever serves the name (possibly not our
  // service) from impersonating a caller that may be LocalSystem. Reading and
  // writing data only: the service's pipe grants a user at the keyboard no
  // more (GENERIC_WRITE would also ask for FILE_APPEND_DATA and be refused).
  UniqueHandle pipe(CreateFileW(pipe_name_.c_str(), PIPE_CLIENT_ACCESS, 0, nullptr, OPEN_EXISTING,
                                PIPE_CLIENT_OPEN_FLAGS, nullptr));
  if (!pipe) {
    switch (GetLastError()) {
      case ERROR_FILE_NOT_FOUND:
        return {PipeExchange::Outcome::NoPipe, {}};
      case ERROR_PIPE_BUSY:
        return {PipeExchange::Outcome::Busy, {}};
      default:
        return {PipeExchange::Outcome::NotOpened, {}};
    }
  }

  const PipeExchange interrupted{PipeExchange::Outcome::Interrupted, {}};
  UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return interrupted;
  const auto deadline = Clock::now() + time_limit_;

  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  bool ok = WriteFile(pipe.get(), request.data(), static_cast<DWORD>(request.size()), nullptr,
                      &overlapped) != FALSE;
  const auto written = finish_transfer(pipe.get(), overlapped, ok, GetLastError(), deadline);
  if (!written || *written != request.size()) return interrupted;

  std::string answer(PIPE_BUFFER_SIZE, '\0');
  overlapped = OVERLAPPED{};
  overlapped.hEvent = event.get();
  ok = ReadFile(pipe.get(), answer.data(), static_cast<DWORD>(answer.size()), nullptr,
                &overlapped) != FALSE;
  const auto read = finish_transfer(pipe.get(), overlapped, ok, GetLastError(), deadline);
  if (!read) return interrupted;
  answer.resize(*read);
  return {PipeExchange::Outcome::Answered, std::move(answer)};
}

bool WindowsServicePipeClient::wait_for_pipe(std::chrono::milliseconds limit) {
  // Zero would mean the server's default time-out, and the largest value
  // forever: the limit is kept between the two.
  const auto milliseconds =
      static_cast<DWORD>(std::clamp<long long>(limit.count(), 1, INFINITE - 1));
  if (WaitNamedPipeW(pipe_name_.c_str(), milliseconds)) return true;
  // The server went away while we waited: the next open finds no pipe.
  return GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace nivalto
