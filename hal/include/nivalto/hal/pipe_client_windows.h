#pragma once

#include <windows.h>

#include <chrono>
#include <string>

#include "nivalto/hal/backlight_access.h"
#include "nivalto/hal/service_pipe.h"

namespace nivalto {

// The service may itself run the script for up to SCRIPT_TIME_LIMIT before
// it answers; past that margin it is taken as hung.
inline constexpr std::chrono::milliseconds PIPE_TIME_LIMIT = PIPE_TURN_WAIT;

// How the client opens the pipe: overlapped, and with the quality-of-service
// flags that let the server identify the caller but never act as it.
inline constexpr unsigned long PIPE_CLIENT_OPEN_FLAGS =
    FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
// Reading and writing data only, all the service's pipe grants a user.
inline constexpr unsigned long PIPE_CLIENT_ACCESS = FILE_GENERIC_READ | FILE_WRITE_DATA;

// The client side of the service's pipe: CreateFileW on the name, one write,
// one read of at most PIPE_BUFFER_SIZE bytes, close. The server may identify
// the caller but never act as it, and a server that stops answering is
// given up after `time_limit`. A busy pipe is awaited with WaitNamedPipeW.
class WindowsServicePipeClient final : public ServicePipeClient {
 public:
  explicit WindowsServicePipeClient(std::wstring pipe_name = std::wstring(PIPE_NAME_WIDE),
                                    std::chrono::milliseconds time_limit = PIPE_TIME_LIMIT);

  [[nodiscard]] PipeExchange exchange(std::string_view request) override;
  [[nodiscard]] bool wait_for_pipe(std::chrono::milliseconds limit) override;

 private:
  std::wstring pipe_name_;
  std::chrono::milliseconds time_limit_;
};

}  // namespace nivalto
