// The service host: what the service manager sees of the program when it
// runs as NivaltoHal. The manager starts `nivalto --service`; the main thread
// gives itself to the control dispatcher, which starts service_main on a
// thread of its own and delivers controls (stop) to the handler on the main
// thread. The body (service_body.cpp) and the pipe loop (pipe_server.cpp) hold
// the decisions; this file only connects them to the Win32 calls.
#include "cli/service/service_host.h"

#include <windows.h>

#include <string>

#include "cli/service/level_store_windows.h"
#include "cli/service/protocol.h"
#include "cli/service/server_pipe_windows.h"
#include "cli/service/service_body.h"
#include "cli/service/service_name.h"
#include "nivalto/hal/backlight_access.h"
#include "nivalto/hal/keyboard_backlight.h"

namespace nivalto {
namespace {

// Shared by the service thread and the handler: the stop flag and the slot of
// the stop event. Process-wide because the handler gets no context.
StopSignal& stop_signal() {
  static StopSignal signal;
  return signal;
}

class Win32EventSetter final : public EventSetter {
 public:
  void set(EventHandle event) override { SetEvent(event); }
};

// Runs on the dispatcher's thread. It must return quickly and never report a
// status itself: the service thread reports "stopped" once the loop is over.
DWORD WINAPI service_control_handler(DWORD control, DWORD event_type, LPVOID, LPVOID) {
  Win32EventSetter setter;
  return handle_control(control, event_type, stop_signal(), setter);
}

class Win32StatusReporter final : public ServiceStatusReporter {
 public:
  bool register_control_handler() override {
    const std::wstring name(SERVICE_NAME_WIDE);
    status_handle_ = RegisterServiceCtrlHandlerExW(name.c_str(), service_control_handler, nullptr);
    return status_handle_ != nullptr;
  }

  void report(ServiceState state, std::uint32_t exit_code) override {
    // All seven fields; no checkpoint or wait hint, since start-pending is
    // followed at once by running.
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwWin32ExitCode = exit_code;
    switch (state) {
      case ServiceState::StartPending:
        status.dwCurrentState = SERVICE_START_PENDING;
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
        break;
      case ServiceState::Running:
        // Preshutdown rather than shutdown: the manager then waits for the
        // read of the level (bounded) before the machine goes down.
        status.dwCurrentState = SERVICE_RUNNING;
        status.dwControlsAccepted =
            SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_POWEREVENT | SERVICE_ACCEPT_PRESHUTDOWN;
        break;
      case ServiceState::Stopped:
        status.dwCurrentState = SERVICE_STOPPED;
        status.dwControlsAccepted = 0;
        break;
    }
    SetServiceStatus(status_handle_, &status);
  }

 private:
  // Owned by the manager; never closed.
  SERVICE_STATUS_HANDLE status_handle_ = nullptr;
};

class HalKeyboardBacklight final : public KeyboardBacklight {
 public:
  HalResult<KeyboardState> read() override { return read_keyboard_backlight(); }
  HalResult<KeyboardState> write(std::uint8_t level) override {
    return write_keyboard_backlight(level);
  }
};

class ProtocolHandler final : public RequestHandler {
 public:
  explicit ProtocolHandler(LevelStore& store) : remembering_(backlight_, store) {}
  std::string answer(std::string_view request) override {
    return handle_request(request, remembering_);
  }

 private:
  HalKeyboardBacklight backlight_;
  RememberingBacklight remembering_;
};

// Outside a request the pipe's single instance waits for a client, and the
// access routine, which tries the pipe first, would connect to this very
// service. Told that the pipe is busy, as it is inside a request, it runs
// the script itself.
class OwnPipe final : public ServicePipeClient {
 public:
  PipeExchange exchange(std::string_view) override { return {PipeExchange::Outcome::Busy, {}}; }
  bool wait_for_pipe(std::chrono::milliseconds) override { return false; }
};

// The service's own access to the backlight, for the give-back (bounded like
// a request) and the reads at sleep and shutdown (bounded by the time the
// machine gives).
class OwnBacklight final : public KeyboardBacklight {
 public:
  HalResult<KeyboardState> read() override {
    return read_keyboard_backlight(platform(SLEEP_ANSWER_LIMIT));
  }
  HalResult<KeyboardState> write(std::uint8_t level) override {
    return write_keyboard_backlight(level, platform(SCRIPT_TIME_LIMIT));
  }

 private:
  BacklightPlatform platform(std::chrono::milliseconds time_limit) {
    const BacklightPlatform& base = platform_backlight();
    return BacklightPlatform{.pipe = own_pipe_,
                             .files = base.files,
                             .runner = base.runner,
                             .process = base.process,
                             .script = base.script,
                             .program = base.program,
                             .time_limit = time_limit,
                             .caller = base.caller,
                             .turn_wait = base.turn_wait,
                             .devices = base.devices};
  }

  OwnPipe own_pipe_;
};

// Started by the dispatcher on its service thread; the arguments (the start
// parameters) are ignored: the service takes none.
void WINAPI service_main(DWORD, LPWSTR*) {
  Win32StatusReporter status;
  WindowsPipeServerFactory factory;
  RegistryLevelStore store;
  ProtocolHandler handler(store);
  OwnBacklight own;
  LevelKeeper keeper(store, own);
  run_service_body(status, factory, stop_signal(), handler, keeper);
}

class Win32ServiceDispatcher final : public ServiceDispatcher {
 public:
  std::expected<void, std::uint32_t> run() override {
    std::wstring name(SERVICE_NAME_WIDE);
    const SERVICE_TABLE_ENTRYW table[] = {{name.data(), service_main}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table)) return {};
    return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
  }
};

}  // namespace

int run_service_dispatcher(Console& console) {
  Win32ServiceDispatcher dispatcher;
  return run_service_dispatcher(console, dispatcher);
}

}  // namespace nivalto
