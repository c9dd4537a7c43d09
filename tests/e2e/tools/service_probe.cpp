// Prints what the end-to-end tests watch of the NivaltoHal service:
//   "state=S processes=N handles=H commit=B managers=M exit=E pid=P"
// S is the service manager's state number (1 stopped, 2 start pending,
// 4 running; 0 when the service is not registered), E the exit code it
// last reported. N is the number of
// nivalto.exe processes; H and B are the handle count and the committed
// private memory (bytes) of the one such process and P its process id, 0
// when N is not 1.
// The handle count comes from the system-wide handle table, because Wine
// answers 0 to GetProcessHandleCount for another process; likewise its
// PrivateUsage is 0, so PagefileUsage (the same figure on Windows) is used.
//
// "service_probe hold" prints "holding" and then only waits for its standard
// input to end. Wine shuts its service manager down whenever no program of
// the prefix is left running, and starts it afresh (starting the automatic
// services with it) for the next program; a held probe keeps one manager
// alive across a test's commands, as on a running Windows machine.
//
// "service_probe config" prints the registration as the service manager
// gives it back (QueryServiceConfigW and the description), one "key=value"
// line each, in UTF-8: display, type, start, error, binary, group, tag,
// dependencies (separated by "/"), account, description; or "missing" and
// status 1 when NivaltoHal is not registered.
//
// "service_probe parameters" prints the service's Parameters key: "missing"
// when there is no such key, else "dacl=SDDL" (the key's access list) and,
// when the value KeyboardLevel exists, "type=T size=N dword=D" (D: its first
// four bytes as a number, 0 when shorter).
//
// "service_probe products {UPGRADE-CODE}" prints one "product={CODE}
// version=V" line for each installed product of that upgrade code, as the
// installer (msi.dll) knows them, and nothing when there is none.
#include <windows.h>

#include <psapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The state and the exit code of the last stopped report (dwWin32ExitCode).
std::pair<DWORD, DWORD> service_state() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return {0, 0};
  SERVICE_STATUS status{};
  if (SC_HANDLE service = OpenServiceW(manager, L"NivaltoHal", SERVICE_QUERY_STATUS)) {
    if (!QueryServiceStatus(service, &status)) status = SERVICE_STATUS{};
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return {status.dwCurrentState, status.dwWin32ExitCode};
}

std::vector<DWORD> processes_named(const wchar_t* name) {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, name) == 0) ids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

// SYSTEM_HANDLE_INFORMATION (class 16), as ntdll lays it out.
struct HandleEntry {
  ULONG process_id;
  BYTE object_type;
  BYTE flags;
  USHORT handle;
  PVOID object;
  ACCESS_MASK access;
};
struct HandleTable {
  ULONG count;
  HandleEntry entries[1];
};

DWORD handle_count(DWORD process_id) {
  using Query = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
  if (query == nullptr) return 0;
  std::vector<BYTE> buffer(1 << 16);
  ULONG needed = 0;
  LONG status = 0;
  while ((status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
         static_cast<LONG>(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return 0;
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  DWORD mine = 0;
  for (ULONG i = 0; i < table->count; ++i)
    mine += table->entries[i].process_id == process_id ? 1 : 0;
  return mine;
}

SIZE_T committed_bytes(DWORD process_id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id);
  if (process == nullptr) return 0;
  PROCESS_MEMORY_COUNTERS counters{};
  SIZE_T bytes = 0;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters)) bytes = counters.PagefileUsage;
  CloseHandle(process);
  return bytes;
}

void print_utf8(std::wstring_view text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void print_field(std::wstring_view key, const wchar_t* value) {
  print_utf8(std::wstring(key) + L"=" + (value != nullptr ? value : L"") + L"\n");
}

int print_config() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service =
      manager != nullptr ? OpenServiceW(manager, L"NivaltoHal", SERVICE_QUERY_CONFIG) : nullptr;
  int status = 1;
  DWORD needed = 0;
  if (service == nullptr) {
    std::printf("missing\n");
  } else if (QueryServiceConfigW(service, nullptr, 0, &needed) ||
             GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    std::vector<BYTE> more(8192);
    auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(more.data());
    if (QueryServiceConfigW(service, config, needed, &needed) &&
        QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, more.data(),
                             static_cast<DWORD>(more.size()), &needed)) {
      std::wstring dependencies;
      for (const wchar_t* d = config->lpDependencies; d != nullptr && *d != 0; d += wcslen(d) + 1)
        dependencies += (dependencies.empty() ? L"" : L"/") + std::wstring(d);
      print_field(L"display", config->lpDisplayName);
      print_field(L"type", std::to_wstring(config->dwServiceType).c_str());
      print_field(L"start", std::to_wstring(config->dwStartType).c_str());
      print_field(L"error", std::to_wstring(config->dwErrorControl).c_str());
      print_field(L"binary", config->lpBinaryPathName);
      print_field(L"group", config->lpLoadOrderGroup);
      print_field(L"tag", std::to_wstring(config->dwTagId).c_str());
      print_field(L"dependencies", dependencies.c_str());
      print_field(L"account", config->lpServiceStartName);
      print_field(L"description", description->lpDescription);
      status = 0;
    } else {
      std::printf("query failed %lu\n", GetLastError());
    }
  }
  if (service != nullptr) CloseServiceHandle(service);
  if (manager != nullptr) CloseServiceHandle(manager);
  return status;
}

int print_parameters() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"SYSTEM\\CurrentControlSet\\Services\\NivaltoHal\\Parameters", 0,
                    KEY_QUERY_VALUE | READ_CONTROL, &key) != ERROR_SUCCESS) {
    std::printf("missing\n");
    return 0;
  }
  std::vector<BYTE> security(4096);
  DWORD size = static_cast<DWORD>(security.size());
  wchar_t* sddl = nullptr;
  if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, security.data(), &size) == ERROR_SUCCESS &&
      ConvertSecurityDescriptorToStringSecurityDescriptorW(
          security.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
    print_field(L"dacl", sddl);
    LocalFree(sddl);
  } else {
    std::printf("dacl=unreadable %lu\n", GetLastError());
  }
  DWORD type = 0;
  BYTE data[64] = {};
  size = sizeof data;
  if (RegQueryValueExW(key, L"KeyboardLevel", nullptr, &type, data, &size) == ERROR_SUCCESS) {
    DWORD dword = 0;
    if (size >= sizeof dword) std::memcpy(&dword, data, sizeof dword);
    std::printf("type=%lu size=%lu dword=%lu\n", type, size, dword);
  }
  RegCloseKey(key);
  return 0;
}

// msi.dll is loaded when asked for: the other modes run in every test.
int print_products(const wchar_t* upgrade_code) {
  using Enumerate = UINT(WINAPI*)(LPCWSTR, DWORD, DWORD, LPWSTR);
  using Info = UINT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);
  HMODULE msi = LoadLibraryW(L"msi.dll");
  if (msi == nullptr) return 1;
  const auto enumerate =
      reinterpret_cast<Enumerate>(GetProcAddress(msi, "MsiEnumRelatedProductsW"));
  const auto info = reinterpret_cast<Info>(GetProcAddress(msi, "MsiGetProductInfoW"));
  if (enumerate == nullptr || info == nullptr) return 1;
  wchar_t product[39];
  for (DWORD i = 0; enumerate(upgrade_code, 0, i, product) == ERROR_SUCCESS; ++i) {
    wchar_t version[64] = L"";
    DWORD size = 64;
    info(product, L"VersionString", version, &size);
    print_utf8(std::wstring(L"product=") + product + L" version=" + version + L"\n");
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring_view(argv[1]) == L"config") return print_config();
  if (argc > 1 && std::wstring_view(argv[1]) == L"parameters") return print_parameters();
  if (argc > 2 && std::wstring_view(argv[1]) == L"products") return print_products(argv[2]);
  if (argc > 1 && std::wstring_view(argv[1]) == L"hold") {
    std::printf("holding\n");
    std::fflush(stdout);
    char byte = 0;
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr) && got != 0) {
    }
    return 0;
  }
  const auto [state, exit_code] = service_state();
  const std::vector<DWORD> processes = processes_named(L"nivalto.exe");
  const std::size_t managers = processes_named(L"services.exe").size();
  DWORD handles = 0;
  SIZE_T commit = 0;
  if (processes.size() == 1) {
    handles = handle_count(processes.front());
    commit = committed_bytes(processes.front());
  }
  std::printf("state=%lu processes=%zu handles=%lu commit=%llu managers=%zu exit=%lu pid=%lu\n",
              state, processes.size(), handles, static_cast<unsigned long long>(commit), managers,
              exit_code, processes.size() == 1 ? processes.front() : 0UL);
  return 0;
}
