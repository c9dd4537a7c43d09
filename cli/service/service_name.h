#pragma once

#include <string_view>

namespace nivalto {

// The name under which the service manager knows the service.
inline constexpr std::string_view SERVICE_NAME = "NivaltoHal";
inline constexpr std::wstring_view SERVICE_NAME_WIDE = L"NivaltoHal";

}  // namespace nivalto
