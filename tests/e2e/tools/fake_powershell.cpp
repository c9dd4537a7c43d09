// Stands in for powershell.exe in the system folder (and, as a decoy that
// must never run, elsewhere), so that the service's requests can be answered
// without a backlight. Its behaviour comes from
// scenario.txt in its own directory, one key=value per line:
//   exit=N        exit code (default 0)
//   sleep_ms=N    wait this long before answering (default 0)
//   stdout=TEXT   printed followed by a line feed; {mode} and {level} are
//                 replaced by the -Mode and -Level arguments
// Each run first appends "mode=M level=L framework=F script=present|missing
// file=NAME" (NAME: the script's file name, which carries the process id of
// whoever ran it) to calls.log beside it, so a test can see what it was given and when, and
// writes its current folder and PATH to environment.log beside it.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

std::string to_utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring own_directory() {
  wchar_t path[4096];
  const DWORD n = GetModuleFileNameW(nullptr, path, 4096);
  std::wstring full(path, n);
  return full.substr(0, full.find_last_of(L"\\/") + 1);
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::map<std::wstring, std::wstring> options;
  for (int i = 1; i + 1 < argc; ++i) {
    const std::wstring name = argv[i];
    if (name == L"-Mode" || name == L"-Level" || name == L"-FrameworkDir" || name == L"-File") {
      options[name] = argv[++i];
    }
  }
  const std::wstring dir = own_directory();
  const std::string mode = to_utf8(options[L"-Mode"]);
  const std::string level = to_utf8(options[L"-Level"]);
  const std::wstring script = options[L"-File"];
  const bool script_present = GetFileAttributesW(script.c_str()) != INVALID_FILE_ATTRIBUTES;
  {
    std::ofstream log((dir + L"calls.log").c_str(), std::ios::app | std::ios::binary);
    log << "mode=" << mode << " level=" << level
        << " framework=" << to_utf8(options[L"-FrameworkDir"])
        << " script=" << (script_present ? "present" : "missing")
        << " file=" << to_utf8(script.substr(script.find_last_of(L"\\/") + 1)) << "\n";
  }
  {
    wchar_t current[4096];
    const DWORD length = GetCurrentDirectoryW(4096, current);
    const wchar_t* path = _wgetenv(L"PATH");
    std::ofstream log((dir + L"environment.log").c_str(), std::ios::trunc | std::ios::binary);
    log << "cwd=" << to_utf8(std::wstring(current, length < 4096 ? length : 0)) << "\n"
        << "path=" << to_utf8(path ? path : L"") << "\n";
  }

  std::map<std::string, std::string> scenario;
  std::ifstream file((dir + L"scenario.txt").c_str(), std::ios::binary);
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto eq = line.find('=');
    if (eq != std::string::npos) scenario[line.substr(0, eq)] = line.substr(eq + 1);
  }

  if (scenario.count("sleep_ms")) Sleep(static_cast<DWORD>(std::stoul(scenario["sleep_ms"])));
  if (scenario.count("stdout")) {
    std::string text = scenario["stdout"];
    replace_all(text, "{mode}", mode);
    replace_all(text, "{level}", level);
    text += '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
  }
  return scenario.count("exit") ? std::stoi(scenario["exit"]) : 0;
}
