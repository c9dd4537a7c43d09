// A stand-in program for the Windows process tests. It reports what it was
// given the way a test can check exactly, and misbehaves on request:
//   echo ARG...            each argument as UTF-8 followed by a NUL byte
//   flood N                N bytes on standard output and N on standard error, interleaved
//   exit N                 prints "bye" and exits with N
//   sleep MS               sleeps
//   stdin                  the number of bytes standard input held
//   spawn-and-sleep FILE MS  starts a sleeping copy of itself that shares its
//                            output, writes that copy's process id into FILE, sleeps MS
//   spawn-and-exit FILE    the same, but exits at once with 3 after printing "parent done"
//   -NoProfile ...         plays the backlight script: reports its arguments and
//                          what it could do with the script file as a KeyboardJson
#include <windows.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), needed,
                      nullptr, nullptr);
  return text;
}

void write_all(DWORD which, std::string_view bytes) {
  const HANDLE stream = GetStdHandle(which);
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written == 0) {
      return;
    }
    bytes.remove_prefix(written);
  }
}

void out(std::string_view bytes) { write_all(STD_OUTPUT_HANDLE, bytes); }

std::string json_escaped(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      escaped += '\\';
      escaped += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      escaped += "?";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

// A copy of this program sleeping ten minutes, inheriting our output.
DWORD spawn_sleeper() {
  wchar_t self[MAX_PATH * 2];
  GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
  std::wstring command = L"\"" + std::wstring(self) + L"\" sleep 600000";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION created{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &created)) {
    return 0;
  }
  CloseHandle(created.hThread);
  CloseHandle(created.hProcess);
  return created.dwProcessId;
}

void write_file(const std::wstring& path, const std::string& text) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

int play_script(const std::vector<std::wstring>& arguments) {
  std::string report;
  std::wstring script;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    // Appended piece by piece: for `"|" + std::string(...)` mingw's GCC 12
    // warns of a memcpy that may overlap itself (-Wrestrict), a known false
    // positive of its string code.
    if (i > 1) report += '|';
    report += utf8(arguments[i]);
    if (arguments[i] == L"-File" && i + 1 < arguments.size()) script = arguments[i + 1];
  }
  // PowerShell reads its script sharing only reading.
  const HANDLE reader = CreateFileW(script.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  std::string contents;
  if (reader != INVALID_HANDLE_VALUE) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(reader, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      contents.append(buffer, got);
    }
    CloseHandle(reader);
    report += "|lu:" + contents;
  } else {
    report += "|illisible";
  }
  const HANDLE writer = CreateFileW(script.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  report += writer == INVALID_HANDLE_VALUE ? "|écriture refusée" : "|écriture permise";
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  report += DeleteFileW(script.c_str()) ? "|suppression permise" : "|suppression refusée";

  out("{\"available\":false,\"known\":false,\"level\":0,\"max_level\":2,\"source\":\"\","
      "\"applied\":false,\"verified\":false,\"reason\":\"" +
      json_escaped(report) + "\"}\r\n");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::vector<std::wstring> arguments(argv, argv + argc);
  if (arguments.size() < 2) return 2;
  const std::wstring& mode = arguments[1];
  const auto number = [&](std::size_t i) {
    return i < arguments.size() ? std::wcstoul(arguments[i].c_str(), nullptr, 10) : 0UL;
  };

  if (mode == L"-NoProfile") return play_script(arguments);
  if (mode == L"echo") {
    for (std::size_t i = 2; i < arguments.size(); ++i) {
      std::string argument = utf8(arguments[i]);
      argument += '\0';
      out(argument);
    }
    return 0;
  }
  if (mode == L"flood") {
    const std::string out_chunk(4096, 'o');
    const std::string err_chunk(4096, 'e');
    for (unsigned long done = 0; done < number(2); done += 4096) {
      write_all(STD_OUTPUT_HANDLE, out_chunk);
      write_all(STD_ERROR_HANDLE, err_chunk);
    }
    return 0;
  }
  if (mode == L"exit") {
    out("bye");
    return static_cast<int>(number(2));
  }
  if (mode == L"sleep") {
    Sleep(number(2));
    return 0;
  }
  if (mode == L"stdin") {
    char buffer[4096];
    DWORD got = 0;
    unsigned long total = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) &&
           got > 0) {
      total += got;
    }
    out(std::to_string(total));
    return 0;
  }
  if ((mode == L"spawn-and-sleep" || mode == L"spawn-and-exit") && arguments.size() >= 3) {
    write_file(arguments[2], std::to_string(spawn_sleeper()));
    if (mode == L"spawn-and-exit") {
      out("parent done");
      return 3;
    }
    Sleep(number(3));
    return 0;
  }
  return 2;
}
