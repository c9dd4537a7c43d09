// Writes the raw 'RSMB' firmware table, as GetSystemFirmwareTable returns it,
// to standard output. Used to learn what Wine builds from /sys/class/dmi/id.
#include <windows.h>

#include <cstdio>
#include <vector>

int wmain() {
  const DWORD rsmb = 0x52534D42;
  const UINT size = GetSystemFirmwareTable(rsmb, 0, nullptr, 0);
  if (size == 0) {
    std::fprintf(stderr, "no table (error %lu)\n", GetLastError());
    return 1;
  }
  std::vector<unsigned char> buffer(size);
  const UINT written = GetSystemFirmwareTable(rsmb, 0, buffer.data(), size);
  DWORD n = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer.data(), written, &n, nullptr);
  return 0;
}
