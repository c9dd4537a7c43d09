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
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
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
