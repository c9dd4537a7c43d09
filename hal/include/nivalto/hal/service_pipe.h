#pragma once

#include <cstddef>
#include <string_view>

namespace nivalto {

// The name under which the service manager knows the service.
inline constexpr std::string_view SERVICE_NAME = "NivaltoHal";
inline constexpr std::wstring_view SERVICE_NAME_WIDE = L"NivaltoHal";

// The named pipe of the privileged service, shared by the server and the
// backlight access routine, which tries it as a client first.
inline constexpr std::string_view PIPE_NAME = "\\\\.\\pipe\\NivaltoHal";
inline constexpr std::wstring_view PIPE_NAME_WIDE = L"\\\\.\\pipe\\NivaltoHal";

// Pipe buffers in both directions, and the most bytes one read takes.
inline constexpr std::size_t PIPE_BUFFER_SIZE = 4096;

}  // namespace nivalto
