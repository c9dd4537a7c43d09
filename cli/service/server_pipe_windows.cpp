#include "cli/service/server_pipe_windows.h"

#include <windows.h>

#include <string>

#include "nivalto/hal/service_pipe.h"
#include "nivalto/hal/unique_handle_windows.h"

namespace nivalto {
namespace {

class WindowsServiceEvents final : public ServiceEvents {
 public:
  WindowsServiceEvents(UniqueHandle stop, UniqueHandle connect, UniqueHandle work)
      : work_(std::move(work)), connect_(std::move(connect)), stop_(std::move(stop)) {}

  EventHandle stop_event() const override { return stop_.get(); }
  EventHandle connect_event() const override { return connect_.get(); }
  EventHandle work_event() const override { return work_.get(); }

 private:
  // Members go in reverse order: the stop event is closed first.
  UniqueHandle work_;
  UniqueHandle connect_;
  UniqueHandle stop_;
};

UniqueHandle create_manual_reset_event() {
  return UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

// Every operation on the pipe is overlapped, so that each wait can also watch
// the stop event. The OVERLAPPED records live here, not on the stack of a
// call, because the system writes into them until the I/O is over.
class WindowsServerPipe final : public ServerPipe {
 public:
  WindowsServerPipe(UniqueHandle pipe, HANDLE connect_event, HANDLE stop_event, HANDLE work_event)
      : pipe_(std::move(pipe)),
        connect_event_(connect_event),
        stop_event_(stop_event),
        work_event_(work_event) {}

  WindowsServerPipe(const WindowsServerPipe&) = delete;
  WindowsServerPipe& operator=(const WindowsServerPipe&) = delete;

  ~WindowsServerPipe() override {
    // A loop ended by the stop event leaves its ConnectNamedPipe pending;
    // it must be over before its OVERLAPPED goes away with this object.
    if (connect_pending_) {
      CancelIoEx(pipe_.get(), &connect_);
      DWORD ignored = 0;
      GetOverlappedResult(pipe_.get(), &connect_, &ignored, TRUE);
    }
  }

  ConnectCall connect() override {
    // Only the connect event is reset: a stop signalled since the flag was
    // last looked at stays signalled and ends the wait below at once.
    ResetEvent(connect_event_);
    connect_ = OVERLAPPED{};
    connect_.hEvent = connect_event_;
    const BOOL returned = ConnectNamedPipe(pipe_.get(), &connect_);
    const DWORD error = GetLastError();
    connect_pending_ = returned == FALSE && error == ERROR_IO_PENDING;
    return ConnectCall{returned != FALSE, error};
  }

  std::uint32_t wait_for_client() override {
    // In this order: when several are signalled the lowest wins, so a client
    // already connected is served first and a stop ends the wait before any
    // power work.
    const HANDLE events[3] = {connect_event_, stop_event_, work_event_};
    const DWORD result = WaitForMultipleObjects(3, events, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) connect_pending_ = false;
    if (result == WAIT_OBJECT_0 + POWER_WORK_WAIT) ResetEvent(work_event_);
    return result;
  }

  ReadResult read(std::span<std::byte> buffer) override {
    // The connect event is free once a client is connected; it serves as the
    // completion event of the read so that the wait can watch the stop event
    // and the time limit as well.
    ResetEvent(connect_event_);
    io_ = OVERLAPPED{};
    io_.hEvent = connect_event_;
    DWORD count = 0;
    if (ReadFile(pipe_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &io_)) {
      GetOverlappedResult(pipe_.get(), &io_, &count, FALSE);
      return ReadResult{ReadStatus::Received, count};
    }
    if (GetLastError() != ERROR_IO_PENDING) return ReadResult{ReadStatus::Failed, 0};

    const HANDLE events[2] = {connect_event_, stop_event_};
    const DWORD waited = WaitForMultipleObjects(
        2, events, FALSE, static_cast<DWORD>(REQUEST_READ_TIME_LIMIT.count()));
    if (waited != WAIT_OBJECT_0) CancelIoEx(pipe_.get(), &io_);
    // After a cancel this waits for the read to be over, so the buffer can go.
    // A request that arrived just before the cancel is still served.
    if (GetOverlappedResult(pipe_.get(), &io_, &count, TRUE)) {
      return ReadResult{ReadStatus::Received, count};
    }
    if (waited == WAIT_OBJECT_0 + 1) return ReadResult{ReadStatus::Stopped, 0};
    if (waited == WAIT_TIMEOUT) return ReadResult{ReadStatus::TimedOut, 0};
    return ReadResult{ReadStatus::Failed, 0};
  }

  bool write(std::string_view bytes) override {
    ResetEvent(connect_event_);
    io_ = OVERLAPPED{};
    io_.hEvent = connect_event_;
    if (WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &io_)) {
      return true;
    }
    // Only a pending write can still complete; any other failure (the client
    // has gone) leaves nothing to wait for.
    if (GetLastError() != ERROR_IO_PENDING) return false;
    DWORD count = 0;
    return GetOverlappedResult(pipe_.get(), &io_, &count, TRUE) != FALSE;
  }

  void flush() override { FlushFileBuffers(pipe_.get()); }

  void cancel_io() override { CancelIoEx(pipe_.get(), nullptr); }

  void disconnect() override { DisconnectNamedPipe(pipe_.get()); }

 private:
  UniqueHandle pipe_;
  HANDLE connect_event_;
  HANDLE stop_event_;
  HANDLE work_event_;
  OVERLAPPED connect_{};
  OVERLAPPED io_{};
  bool connect_pending_ = false;
};

}  // namespace

std::unique_ptr<ServiceEvents> WindowsPipeServerFactory::create_events() {
  UniqueHandle stop = create_manual_reset_event();
  if (!stop) return nullptr;
  UniqueHandle connect = create_manual_reset_event();
  if (!connect) return nullptr;
  UniqueHandle work = create_manual_reset_event();
  if (!work) return nullptr;
  return std::make_unique<WindowsServiceEvents>(std::move(stop), std::move(connect),
                                                std::move(work));
}

std::expected<std::unique_ptr<WellKnownSecurity>, unsigned long> service_pipe_security() {
  // The platform's default would let only LocalSystem and elevated
  // administrators write, so the very users the service is for could not
  // send a request.
  return WellKnownSecurity::create(
      {
          {WinLocalSystemSid, FILE_ALL_ACCESS},
          {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
          {WinInteractiveSid, FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES},
      },
      0);
}

std::expected<std::unique_ptr<ServerPipe>, std::uint32_t> WindowsPipeServerFactory::create_pipe(
    const ServiceEvents& events) {
  auto security = service_pipe_security();
  if (!security) return std::unexpected(static_cast<std::uint32_t>(security.error()));
  const std::wstring name(PIPE_NAME_WIDE);
  // One instance: while a client is served, any other client's open fails as
  // busy instead of queueing. The first instance, or nothing: a pipe of this
  // name made earlier by another process would otherwise get this instance
  // added under its owner's security, and its owner would answer our clients.
  // Remote clients are refused by the pipe itself.
  UniqueHandle pipe(CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
      static_cast<DWORD>(PIPE_BUFFER_SIZE), static_cast<DWORD>(PIPE_BUFFER_SIZE), 0,
      (*security)->attributes()));
  if (!pipe) return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
  return std::make_unique<WindowsServerPipe>(std::move(pipe), events.connect_event(),
                                             events.stop_event(), events.work_event());
}

}  // namespace nivalto
