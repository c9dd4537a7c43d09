#include "cli/service/level_store_windows.h"

#include <windows.h>

#include <string>
#include <utility>

#include "cli/service/service_name.h"

namespace nivalto {
namespace {

// Sole owner of one open registry key, closed exactly once.
class UniqueRegistryKey {
 public:
  UniqueRegistryKey() noexcept = default;
  UniqueRegistryKey(UniqueRegistryKey&& other) noexcept
      : key_(std::exchange(other.key_, nullptr)) {}
  UniqueRegistryKey& operator=(UniqueRegistryKey&&) = delete;
  UniqueRegistryKey(const UniqueRegistryKey&) = delete;
  UniqueRegistryKey& operator=(const UniqueRegistryKey&) = delete;
  ~UniqueRegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }

  [[nodiscard]] HKEY get() const noexcept { return key_; }
  // For the calls that return the key through an HKEY*; only on an empty owner.
  [[nodiscard]] HKEY* out() noexcept { return &key_; }

 private:
  HKEY key_ = nullptr;
};

std::wstring service_key_path() {
  return L"SYSTEM\\CurrentControlSet\\Services\\" + std::wstring(SERVICE_NAME_WIDE);
}

constexpr const wchar_t* PARAMETERS_SUBKEY = L"Parameters";
constexpr const wchar_t* LEVEL_VALUE = L"KeyboardLevel";

}  // namespace

std::optional<std::uint32_t> RegistryLevelStore::read() {
  UniqueRegistryKey key;
  const std::wstring path = service_key_path() + L"\\" + PARAMETERS_SUBKEY;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, key.out()) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof value;
  // Only a REG_DWORD of four bytes is ours; a longer value of any type fails
  // with ERROR_MORE_DATA, a shorter one is caught by its size.
  const LSTATUS status = RegQueryValueExW(key.get(), LEVEL_VALUE, nullptr, &type,
                                          reinterpret_cast<BYTE*>(&value), &size);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
  return value;
}

std::expected<void, std::uint32_t> RegistryLevelStore::write(std::uint32_t level) {
  // Through the service's own key, never creating it: once the service is
  // deleted, a level kept by a process still ending must not leave a key of
  // that name behind for the service manager to find.
  UniqueRegistryKey service;
  const std::wstring path = service_key_path();
  if (const LSTATUS opened =
          RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_CREATE_SUB_KEY, service.out());
      opened != ERROR_SUCCESS) {
    return std::unexpected(static_cast<std::uint32_t>(opened));
  }
  // No security attributes: the key takes the inheritable entries of the
  // service's key, which inherits those of the Services key (administrators
  // and SYSTEM change it, users read it). A security descriptor of our own
  // could only widen or narrow that, and nothing here needs either.
  UniqueRegistryKey parameters;
  if (const LSTATUS created =
          RegCreateKeyExW(service.get(), PARAMETERS_SUBKEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE, nullptr, parameters.out(), nullptr);
      created != ERROR_SUCCESS) {
    return std::unexpected(static_cast<std::uint32_t>(created));
  }
  const DWORD value = level;
  if (const LSTATUS set = RegSetValueExW(parameters.get(), LEVEL_VALUE, 0, REG_DWORD,
                                         reinterpret_cast<const BYTE*>(&value), sizeof value);
      set != ERROR_SUCCESS) {
    return std::unexpected(static_cast<std::uint32_t>(set));
  }
  return {};
}

}  // namespace nivalto
