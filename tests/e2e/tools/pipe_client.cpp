// A client of \\.\pipe\NivaltoHal for the end-to-end tests.
//   pipe_client send FILE [--no-wait]   sends the bytes of FILE in one write,
//                                       prints the answer bytes exactly
//   pipe_client repeat N FILE...        sends N requests in a row, taking the
//                                       files in turn; prints "answered=K
//                                       distinct=D" (K requests that got an
//                                       answer, D different answers)
//   pipe_client hold MS                 connects, writes nothing, closes after MS
//   pipe_client squat                   creates the pipe's one instance itself,
//                                       as another program could before the
//                                       service starts; prints "squatting",
//                                       holds it until its standard input ends
//   pipe_client listen FILE             creates the pipe's one instance itself,
//                                       prints "listening", serves one client:
//                                       answers with the bytes of FILE, then
//                                       prints the bytes of its request exactly
// PIPE_CLIENT_TRACE=FILE: each step is logged to FILE (see trace below).
// Exit codes: 0 done, 3 busy (the single instance is taken; printed as "busy"
// on standard error), 2 other open failure, 4 exchange failure.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr wchar_t PIPE[] = L"\\\\.\\pipe\\NivaltoHal";

void print(const std::string& bytes, DWORD which = STD_OUTPUT_HANDLE) {
  DWORD written = 0;
  WriteFile(GetStdHandle(which), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// PIPE_CLIENT_TRACE=FILE appends each step, with the tick count and the
// process id, to FILE, "start" first: the harness reads it to tell a client
// that Wine never let run from one that ran and lost its answer, and shows
// it when a case fails.
void trace(const char* what, DWORD a, DWORD b) {
  static wchar_t path[1024];
  static const bool on = GetEnvironmentVariableW(L"PIPE_CLIENT_TRACE", path, 1024) != 0;
  if (!on) return;
  char line[200];
  const int n = std::snprintf(line, sizeof line, "%llu pid=%lu %s %lu %lu\n", GetTickCount64(),
                              GetCurrentProcessId(), what, a, b);
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
  CloseHandle(file);
}

// Opens the pipe. Between two clients the server disconnects and connects
// again; an open in that gap is refused as busy too, so unless told not to
// wait the client waits for the instance to listen again, for a while.
HANDLE open_pipe(bool wait, DWORD& error) {
  const ULONGLONG deadline = GetTickCount64() + 20000;
  for (;;) {
    HANDLE pipe =
        CreateFileW(PIPE, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      trace("opened", 0, 0);
      return pipe;
    }
    error = GetLastError();
    trace("open-failed", error, 0);
    if (!wait || error != ERROR_PIPE_BUSY || GetTickCount64() > deadline) return nullptr;
    if (!WaitNamedPipeW(PIPE, 1000)) Sleep(10);
  }
}

int fail_open(DWORD error) {
  if (error == ERROR_PIPE_BUSY) {
    print("busy\n", STD_ERROR_HANDLE);
    return 3;
  }
  print("open failed " + std::to_string(error) + "\n", STD_ERROR_HANDLE);
  return 2;
}

// One exchange: the request in one write, then everything up to the end of
// the connection.
bool exchange(HANDLE pipe, const std::string& request, std::string& answer) {
  DWORD written = 0;
  trace("write", static_cast<DWORD>(request.size()), 0);
  if (!request.empty() &&
      !WriteFile(pipe, request.data(), static_cast<DWORD>(request.size()), &written, nullptr)) {
    trace("write-failed", GetLastError(), 0);
    return false;
  }
  trace("written", written, 0);
  char buffer[8192];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, sizeof buffer, &got, nullptr)) {
      const DWORD error = GetLastError();
      trace("read-failed", error, static_cast<DWORD>(answer.size()));
      return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
    }
    trace("read", got, 0);
    if (got == 0) return true;
    answer.append(buffer, got);
  }
}

std::string read_file(const wchar_t* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  trace("start", static_cast<DWORD>(argc), 0);
  if (argc < 2) return 64;
  const std::wstring command = argv[1];
  if (argc < 3 && command != L"squat") return 64;
  DWORD error = 0;

  if (command == L"hold") {
    HANDLE pipe = open_pipe(true, error);
    if (pipe == nullptr) return fail_open(error);
    print("connected\n");
    Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    CloseHandle(pipe);
    return 0;
  }

  if (command == L"send") {
    const std::string request = read_file(argv[2]);
    const bool wait = !(argc > 3 && std::wstring(argv[3]) == L"--no-wait");
    HANDLE pipe = open_pipe(wait, error);
    if (pipe == nullptr) return fail_open(error);
    std::string answer;
    const bool ok = exchange(pipe, request, answer);
    CloseHandle(pipe);
    print(answer);
    return ok ? 0 : 4;
  }

  if (command == L"squat") {
    HANDLE pipe = CreateNamedPipeW(PIPE, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                   4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return fail_open(GetLastError());
    print("squatting\n");
    char byte = 0;
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &got, nullptr) && got != 0) {
    }
    CloseHandle(pipe);
    return 0;
  }

  if (command == L"listen") {
    HANDLE pipe = CreateNamedPipeW(PIPE, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                   4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return fail_open(GetLastError());
    const std::string answer = read_file(argv[2]);
    print("listening\n");
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return 4;
    std::string request(4096, '\0');
    DWORD got = 0;
    if (!ReadFile(pipe, request.data(), 4096, &got, nullptr)) return 4;
    request.resize(got);
    DWORD written = 0;
    WriteFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr);
    FlushFileBuffers(pipe);
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    print(request);
    return 0;
  }

  if (command == L"repeat" && argc > 3) {
    const int count = _wtoi(argv[2]);
    std::vector<std::string> requests;
    for (int i = 3; i < argc; ++i) requests.push_back(read_file(argv[i]));
    int answered = 0;
    std::set<std::string> distinct;
    for (int i = 0; i < count; ++i) {
      HANDLE pipe = open_pipe(true, error);
      if (pipe == nullptr) return fail_open(error);
      std::string answer;
      const bool ok =
          exchange(pipe, requests[static_cast<std::size_t>(i) % requests.size()], answer);
      CloseHandle(pipe);
      if (ok && !answer.empty() && answer.back() == '\n') {
        ++answered;
        distinct.insert(answer);
      }
    }
    print("answered=" + std::to_string(answered) + " distinct=" + std::to_string(distinct.size()) +
          "\n");
    return 0;
  }
  return 64;
}
