#include "nivalto/hal/process_runner_windows.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <utility>

#include "nivalto/hal/command_line_quoting.h"
#include "nivalto/hal/private_security_windows.h"
#include "nivalto/hal/unique_handle_windows.h"
#include "nivalto/hal/win32_text_windows.h"

namespace nivalto {
namespace {

using Clock = std::chrono::steady_clock;

DWORD milliseconds_until(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<DWORD>(std::clamp<long long>(left, 0, INFINITE - 1));
}

std::unexpected<ProcessFailure> failure(ProcessFailure::Kind kind, DWORD code) {
  return std::unexpected(ProcessFailure{kind, win32::error_text(code)});
}

// Reads one output stream with overlapped I/O, so that one thread can wait
// on both streams and the process at once.
class OutputReader {
 public:
  OutputReader(UniqueHandle pipe, UniqueHandle event)
      : pipe_(std::move(pipe)), event_(std::move(event)) {}
  OutputReader(const OutputReader&) = delete;
  OutputReader& operator=(const OutputReader&) = delete;
  // A read still in flight would write into freed memory.
  ~OutputReader() { stop(); }

  [[nodiscard]] bool pending() const { return pending_; }
  [[nodiscard]] HANDLE event() const { return event_.get(); }

  // Issues reads until one is in flight or the stream has ended.
  void pump() {
    while (!ended_ && !pending_) {
      overlapped_ = OVERLAPPED{};
      overlapped_.hEvent = event_.get();
      if (ReadFile(pipe_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr,
                   &overlapped_)) {
        DWORD bytes = 0;
        if (GetOverlappedResult(pipe_.get(), &overlapped_, &bytes, FALSE)) keep(bytes);
        continue;
      }
      if (GetLastError() == ERROR_IO_PENDING) {
        pending_ = true;
      } else {
        ended_ = true;  // ERROR_BROKEN_PIPE: every writer has closed its end
      }
    }
  }

  // The event of the read in flight was signalled.
  void complete() {
    pending_ = false;
    DWORD bytes = 0;
    if (GetOverlappedResult(pipe_.get(), &overlapped_, &bytes, FALSE)) {
      keep(bytes);
    } else {
      ended_ = true;
    }
    pump();
  }

  void stop() {
    if (pending_) {
      CancelIoEx(pipe_.get(), &overlapped_);
      DWORD bytes = 0;
      if (GetOverlappedResult(pipe_.get(), &overlapped_, &bytes, TRUE)) keep(bytes);
      pending_ = false;
    }
    ended_ = true;
  }

  [[nodiscard]] std::string take() { return std::move(data_); }

 private:
  void keep(DWORD bytes) {
    const std::size_t room = MAX_CAPTURED_OUTPUT - std::min(MAX_CAPTURED_OUTPUT, data_.size());
    data_.append(buffer_.data(), std::min<std::size_t>(bytes, room));
  }

  UniqueHandle pipe_;
  UniqueHandle event_;
  OVERLAPPED overlapped_{};
  std::array<char, 4096> buffer_{};
  bool pending_ = false;
  bool ended_ = false;
  std::string data_;
};

struct OutputPipe {
  UniqueHandle ours;    // overlapped, read end
  UniqueHandle theirs;  // inheritable, write end for the child
};

std::atomic<unsigned> output_pipe_counter{0};

// Anonymous pipes cannot be read with overlapped I/O, so each stream gets a
// named pipe of its own under a fresh name. It admits only this account, and
// only one client, which we connect at once.
std::expected<OutputPipe, DWORD> make_output_pipe(PrivateSecurity& security) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::wstring name =
        L"\\\\.\\pipe\\nivalto-output-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
        std::to_wstring(++output_pipe_counter) + L"-" + std::to_wstring(GetTickCount64());
    UniqueHandle ours(CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
        64 * 1024, 0, security.attributes()));
    if (!ours) {
      const DWORD code = GetLastError();
      if (code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY) continue;  // name taken
      return std::unexpected(code);
    }
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueHandle theirs(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!theirs) return std::unexpected(GetLastError());
    return OutputPipe{std::move(ours), std::move(theirs)};
  }
  return std::unexpected(static_cast<DWORD>(ERROR_PIPE_BUSY));
}

// Lists the handles the child may inherit, so that it gets its three
// standard handles and nothing else this process has open.
class InheritedHandles {
 public:
  explicit InheritedHandles(std::array<HANDLE, 3> handles) : handles_(handles) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    if (size == 0) return;
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    initialised_ = true;
    if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                  sizeof(HANDLE) * handles_.size(), nullptr, nullptr)) {
      list_ = list;
    }
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;
  ~InheritedHandles() {
    if (initialised_) {
      DeleteProcThreadAttributeList(
          reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data()));
    }
  }

  // Null when the system would not take the list; the child then inherits
  // every inheritable handle, which only our three are in a single thread.
  [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

 private:
  std::array<HANDLE, 3> handles_;
  std::vector<std::byte> storage_;
  bool initialised_ = false;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// A job that ends every process in it once closed; null when the system
// refuses one, and then only the child itself can be ended.
UniqueHandle make_kill_on_close_job() {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof(limits))) {
    job.reset();
  }
  return job;
}

void end_all(HANDLE job, HANDLE process) {
  if (job == nullptr || !TerminateJobObject(job, 1)) TerminateProcess(process, 1);
  WaitForSingleObject(process, 5000);
}

}  // namespace

std::expected<ProcessExit, ProcessFailure> WindowsProcessRunner::run(
    std::string_view program, const std::vector<std::string>& arguments,
    std::chrono::milliseconds time_limit) {
  using Kind = ProcessFailure::Kind;
  const auto deadline = Clock::now() + time_limit;

  auto security = PrivateSecurity::for_current_account();
  if (!security) return failure(Kind::NotStarted, security.error());
  auto out = make_output_pipe(**security);
  if (!out) return failure(Kind::NotStarted, out.error());
  auto err = make_output_pipe(**security);
  if (!err) return failure(Kind::NotStarted, err.error());
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  UniqueHandle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!input) return failure(Kind::NotStarted, GetLastError());
  UniqueHandle out_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle err_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!out_event || !err_event) return failure(Kind::NotStarted, GetLastError());

  const InheritedHandles inherited({input.get(), out->theirs.get(), err->theirs.get()});
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(STARTUPINFOW);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input.get();
  startup.StartupInfo.hStdOutput = out->theirs.get();
  startup.StartupInfo.hStdError = err->theirs.get();
  DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED;
  if (inherited.list() != nullptr) {
    startup.StartupInfo.cb = sizeof(STARTUPINFOEXW);
    startup.lpAttributeList = inherited.list();
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }

  std::wstring command_line = win32::to_wide(build_command_line(program, arguments));
  const std::wstring application = win32::to_wide(program);
  PROCESS_INFORMATION created{};
  if (!CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags,
                      nullptr, nullptr, &startup.StartupInfo, &created)) {
    return failure(Kind::NotStarted, GetLastError());
  }
  UniqueHandle process(created.hProcess);
  UniqueHandle thread(created.hThread);

  // Started suspended so that it is in the job before it can start anything.
  UniqueHandle job = make_kill_on_close_job();
  if (job && !AssignProcessToJobObject(job.get(), process.get())) job.reset();
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    const DWORD code = GetLastError();
    end_all(job.get(), process.get());
    return failure(Kind::Lost, code);
  }
  thread.reset();
  // Only the child may hold the write ends, or the streams would never end.
  input.reset();
  out->theirs.reset();
  err->theirs.reset();

  OutputReader out_reader(std::move(out->ours), std::move(out_event));
  OutputReader err_reader(std::move(err->ours), std::move(err_event));
  out_reader.pump();
  err_reader.pump();

  bool exited = false;
  while (!exited || out_reader.pending() || err_reader.pending()) {
    std::array<HANDLE, 3> waits{};
    DWORD count = 0;
    if (!exited) waits[count++] = process.get();
    if (out_reader.pending()) waits[count++] = out_reader.event();
    if (err_reader.pending()) waits[count++] = err_reader.event();

    const DWORD woken =
        WaitForMultipleObjects(count, waits.data(), FALSE, milliseconds_until(deadline));
    if (woken == WAIT_TIMEOUT) {
      // Ended in time, but something it left behind holds the output open.
      if (exited) break;
      end_all(job.get(), process.get());
      return std::unexpected(ProcessFailure{Kind::TimedOut, {}});
    }
    if (woken >= WAIT_OBJECT_0 + count) {
      const DWORD code = GetLastError();
      end_all(job.get(), process.get());
      return failure(Kind::Lost, code);
    }
    const HANDLE signalled = waits[woken - WAIT_OBJECT_0];
    if (signalled == process.get()) {
      exited = true;
      // Whatever it started and left running goes with it.
      if (job) TerminateJobObject(job.get(), 0);
    } else if (signalled == out_reader.event()) {
      out_reader.complete();
    } else {
      err_reader.complete();
    }
  }
  out_reader.stop();
  err_reader.stop();

  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.get(), &exit_code)) return failure(Kind::Lost, GetLastError());
  return ProcessExit{exit_code, out_reader.take(), err_reader.take()};
}

}  // namespace nivalto
