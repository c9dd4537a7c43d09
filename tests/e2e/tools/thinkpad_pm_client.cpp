// Sets up the suite's stand-in ThinkPad power-management driver
// (thinkpad_pm_driver.c) and talks to it as the product does, so that a test
// can tell a fault of the driver from one of the product:
//   thinkpad_pm_client install NAME SYS_PATH STATE
//       registers SYS_PATH as the kernel driver service NAME, with STATE as
//       its first state word (Parameters\State), and starts it
//   thinkpad_pm_client get          prints the state word
//   thinkpad_pm_client set ARGUMENT prints the word the set call returns
//   thinkpad_pm_client record NAME  prints the set arguments the driver
//       received, one a line
//   thinkpad_pm_client remove NAME  stops and deletes the service, and checks
//       that \\.\IBMPmDrv is gone with it
// Numbers are printed as 0x%08x. On a failure it prints the step and the
// Windows error code to the error stream and exits 1.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr DWORD get_state = 0x222680;
constexpr DWORD set_state = 0x222684;
constexpr const wchar_t* device_path = L"\\\\.\\IBMPmDrv";

int fail(const char* step, DWORD error = GetLastError()) {
    std::fprintf(stderr, "%s failed: error %lu\n", step, error);
    return 1;
}

// The driver's Parameters key; a name too long for it yields an empty path,
// which no call below accepts.
struct ParametersKey {
    wchar_t path[512];
    explicit ParametersKey(const wchar_t* name) {
        if (std::swprintf(path, 512, L"System\\CurrentControlSet\\Services\\%ls\\Parameters",
                          name) < 0)
            path[0] = 0;
    }
};

DWORD number(const wchar_t* text) {
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 0));
}

int call(DWORD code, DWORD input) {
    // The same access, sharing and disposition as the product's open.
    HANDLE device = CreateFileW(device_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return fail("CreateFileW");
    unsigned char in[4] = {static_cast<unsigned char>(input), static_cast<unsigned char>(input >> 8),
                           static_cast<unsigned char>(input >> 16),
                           static_cast<unsigned char>(input >> 24)};
    unsigned char out[4] = {};
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(device, code, in, sizeof in, out, sizeof out, &returned, nullptr);
    int status = ok ? 0 : fail("DeviceIoControl");
    CloseHandle(device);
    if (status != 0) return status;
    if (returned != sizeof out) {
        std::fprintf(stderr, "DeviceIoControl returned %lu bytes\n", returned);
        return 1;
    }
    std::printf("0x%08lx\n", static_cast<unsigned long>(out[0] | out[1] << 8 | out[2] << 16 |
                                                          static_cast<DWORD>(out[3]) << 24));
    return 0;
}

bool wait_for(SC_HANDLE service, DWORD state) {
    SERVICE_STATUS status{};
    for (int i = 0; i < 200; ++i) {
        if (!QueryServiceStatus(service, &status)) return false;
        if (status.dwCurrentState == state) return true;
        Sleep(50);
    }
    SetLastError(ERROR_TIMEOUT);
    return false;
}

int install(const wchar_t* name, const wchar_t* path, DWORD state) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return fail("OpenSCManagerW");
    SC_HANDLE service = CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                       SERVICE_ERROR_NORMAL, path, nullptr, nullptr, nullptr,
                                       nullptr, nullptr);
    int status = 0;
    if (!service) {
        status = fail("CreateServiceW");
    } else {
        // Written before the start: the driver reads it in DriverEntry.
        HKEY key;
        LSTATUS error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ParametersKey(name).path, 0,
                                        nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
        if (error == ERROR_SUCCESS) {
            error = RegSetValueExW(key, L"State", 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&state), sizeof state);
            RegCloseKey(key);
        }
        if (error != ERROR_SUCCESS)
            status = fail("RegSetValueExW", error);
        else if (!StartServiceW(service, 0, nullptr))
            status = fail("StartServiceW");
        else if (!wait_for(service, SERVICE_RUNNING))
            status = fail("waiting for the driver to run");
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return status;
}

int record(const wchar_t* name) {
    unsigned char sets[4 * 64];
    DWORD size = sizeof sets;
    LSTATUS error = RegGetValueW(HKEY_LOCAL_MACHINE, ParametersKey(name).path, L"Sets",
                                 RRF_RT_REG_BINARY, nullptr, sets, &size);
    // No value: no set call since the start.
    if (error == ERROR_FILE_NOT_FOUND) return 0;
    if (error != ERROR_SUCCESS) return fail("RegGetValueW", error);
    for (DWORD i = 0; i + 4 <= size; i += 4)
        std::printf("0x%08lx\n", static_cast<unsigned long>(
                                     sets[i] | sets[i + 1] << 8 | sets[i + 2] << 16 |
                                     static_cast<DWORD>(sets[i + 3]) << 24));
    return 0;
}

int remove(const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return fail("OpenSCManagerW");
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
    int status = 0;
    if (!service) {
        status = GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : fail("OpenServiceW");
    } else {
        SERVICE_STATUS stopped{};
        if (!ControlService(service, SERVICE_CONTROL_STOP, &stopped) &&
            GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
            status = fail("ControlService");
        else if (!wait_for(service, SERVICE_STOPPED))
            status = fail("waiting for the driver to stop");
        if (!DeleteService(service) && status == 0) status = fail("DeleteService");
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    if (status != 0) return status;
    // A device left behind would answer the requests of the tests after this one.
    HANDLE device = CreateFileW(device_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        std::fprintf(stderr, "\\\\.\\IBMPmDrv still opens after the driver stopped\n");
        return 1;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    auto is = [&](const wchar_t* command, int count) {
        return argc == count && std::wcscmp(argv[1], command) == 0;
    };
    if (is(L"install", 5)) return install(argv[2], argv[3], number(argv[4]));
    if (is(L"get", 2)) return call(get_state, 0);
    if (is(L"set", 3)) return call(set_state, number(argv[2]));
    if (is(L"record", 3)) return record(argv[2]);
    if (is(L"remove", 3)) return remove(argv[2]);
    std::fprintf(stderr, "usage: thinkpad_pm_client install NAME SYS_PATH STATE | get | "
                         "set ARGUMENT | record NAME | remove NAME\n");
    return 2;
}
