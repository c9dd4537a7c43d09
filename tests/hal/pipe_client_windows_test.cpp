#include "nivalto/hal/pipe_client_windows.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "nivalto/hal/unique_handle_windows.h"
#include "tests/support/argument_echo_windows.h"

namespace nivalto {
namespace {

using namespace std::chrono_literals;
using testing::unique_test_name;

std::wstring fresh_pipe_name() { return L"\\\\.\\pipe\\" + unique_test_name(L"nivalto-test"); }

// One server instance like the service's, serving a single client on its own
// thread with whatever `serve` does once the client is connected.
class OneShotServer {
 public:
  OneShotServer(const std::wstring& name, std::function<void(HANDLE)> serve)
      : pipe_(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, PIPE_BUFFER_SIZE,
                               PIPE_BUFFER_SIZE, 0, nullptr)) {
    EXPECT_TRUE(pipe_.valid());
    thread_ = std::thread([this, serve = std::move(serve)] {
      if (ConnectNamedPipe(pipe_.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
        serve(pipe_.get());
      }
    });
  }
  ~OneShotServer() {
    thread_.join();
    DisconnectNamedPipe(pipe_.get());
  }

  [[nodiscard]] HANDLE pipe() const { return pipe_.get(); }

 private:
  UniqueHandle pipe_;
  std::thread thread_;
};

std::string read_once(HANDLE pipe) {
  std::string request(PIPE_BUFFER_SIZE, '\0');
  DWORD got = 0;
  if (!ReadFile(pipe, request.data(), static_cast<DWORD>(request.size()), &got, nullptr)) return {};
  request.resize(got);
  return request;
}

void write_all(HANDLE pipe, std::string_view bytes) {
  DWORD written = 0;
  WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  FlushFileBuffers(pipe);
}

TEST(WindowsServicePipeClient, SendsTheRequestAndReturnsTheAnswer) {
  const std::wstring name = fresh_pipe_name();
  std::string received;
  {
    OneShotServer server(name, [&](HANDLE pipe) {
      received = read_once(pipe);
      write_all(pipe, "{\"reason\":\"été\"}\n");
    });
    WindowsServicePipeClient client(name);
    EXPECT_EQ(client.exchange("{\"op\":\"keyboard_read\"}\n"),
              (PipeExchange{PipeExchange::Outcome::Answered, "{\"reason\":\"été\"}\n"}));
  }
  EXPECT_EQ(received, "{\"op\":\"keyboard_read\"}\n");
}

bool under_wine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(WindowsServicePipeClient, OpensForDataOnlyWithIdentificationQualityOfService) {
  EXPECT_EQ(PIPE_CLIENT_OPEN_FLAGS,
            static_cast<unsigned long>(FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT |
                                       SECURITY_IDENTIFICATION));
  EXPECT_EQ(PIPE_CLIENT_ACCESS & FILE_APPEND_DATA, 0UL);
  EXPECT_EQ(PIPE_CLIENT_ACCESS & GENERIC_WRITE, 0UL);
}

TEST(WindowsServicePipeClient, ServerMayIdentifyTheCallerButNeverActAsIt) {
  // Wine hands a pipe server an impersonation token whatever the client asked.
  if (under_wine()) GTEST_SKIP() << "Wine ignores the client's quality of service";
  // A server squatting the name impersonates its client: the token it gets is
  // an identification token, which opens nothing in the caller's name.
  const std::wstring name = fresh_pipe_name();
  DWORD impersonated = 0;
  SECURITY_IMPERSONATION_LEVEL level = SecurityDelegation;
  {
    OneShotServer server(name, [&](HANDLE pipe) {
      (void)read_once(pipe);
      if (ImpersonateNamedPipeClient(pipe)) {
        impersonated = 1;
        HANDLE token = nullptr;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
          DWORD size = 0;
          if (GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof level, &size)) {
            impersonated = 2;
          }
          CloseHandle(token);
        }
        RevertToSelf();
      }
      write_all(pipe, "{}\n");
    });
    EXPECT_EQ(WindowsServicePipeClient(name).exchange("{}\n").outcome,
              PipeExchange::Outcome::Answered);
  }
  ASSERT_EQ(impersonated, 2U);
  EXPECT_EQ(level, SecurityIdentification);
}

TEST(WindowsServicePipeClient, TakesAtMostOneBufferOfAnswer) {
  const std::wstring name = fresh_pipe_name();
  OneShotServer server(name, [](HANDLE pipe) {
    (void)read_once(pipe);
    write_all(pipe, std::string(PIPE_BUFFER_SIZE + 100, 'x'));
  });
  const PipeExchange exchange = WindowsServicePipeClient(name).exchange("{}\n");
  EXPECT_EQ(exchange.outcome, PipeExchange::Outcome::Answered);
  EXPECT_EQ(exchange.answer, std::string(PIPE_BUFFER_SIZE, 'x'));
}

TEST(WindowsServicePipeClient, NobodyServingMeansNoPipe) {
  WindowsServicePipeClient client(fresh_pipe_name());
  EXPECT_EQ(client.exchange("{}\n").outcome, PipeExchange::Outcome::NoPipe);
  // Waiting for a pipe that does not exist ends at once: the next open says so.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(client.wait_for_pipe(10s));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
}

TEST(WindowsServicePipeClient, BusyPipeMeansBusyWithoutWaiting) {
  const std::wstring name = fresh_pipe_name();
  HANDLE first_client = INVALID_HANDLE_VALUE;
  OneShotServer server(name, [&](HANDLE pipe) { (void)read_once(pipe); });
  first_client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             0, nullptr);
  ASSERT_NE(first_client, INVALID_HANDLE_VALUE);

  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(WindowsServicePipeClient(name).exchange("{}\n").outcome, PipeExchange::Outcome::Busy);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  CloseHandle(first_client);  // lets the server's read end
}

TEST(WindowsServicePipeClient, WaitForABusyPipeEndsWithItsTurnOrTheLimit) {
  const std::wstring name = fresh_pipe_name();
  UniqueHandle pipe(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                                     PIPE_BUFFER_SIZE, PIPE_BUFFER_SIZE, 0, nullptr));
  ASSERT_TRUE(pipe.valid());
  HANDLE first_client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(first_client, INVALID_HANDLE_VALUE);
  WindowsServicePipeClient client(name);
  ASSERT_EQ(client.exchange("{}\n").outcome, PipeExchange::Outcome::Busy);
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.wait_for_pipe(300ms));
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, 250ms);
  EXPECT_LT(waited, 5s);

  // The server listens again after a while: the wait ends with the turn.
  std::thread server([&] {
    std::this_thread::sleep_for(500ms);
    CloseHandle(first_client);
    DisconnectNamedPipe(pipe.get());
    if (ConnectNamedPipe(pipe.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
      write_all(pipe.get(), read_once(pipe.get()) + "ok\n");
    }
  });
  started = std::chrono::steady_clock::now();
  const bool turn = client.wait_for_pipe(10s);
  waited = std::chrono::steady_clock::now() - started;
  const PipeExchange served = client.exchange("{}\n");
  server.join();
  EXPECT_TRUE(turn);
  EXPECT_GE(waited, 300ms);
  EXPECT_LT(waited, 5s);
  EXPECT_EQ(served, (PipeExchange{PipeExchange::Outcome::Answered, "{}\nok\n"}));
}

TEST(WindowsServicePipeClient, ServerClosingWithoutAnswerIsInterrupted) {
  const std::wstring name = fresh_pipe_name();
  OneShotServer server(name, [](HANDLE pipe) {
    (void)read_once(pipe);
    DisconnectNamedPipe(pipe);
  });
  EXPECT_EQ(WindowsServicePipeClient(name).exchange("{}\n").outcome,
            PipeExchange::Outcome::Interrupted);
}

TEST(WindowsServicePipeClient, SilentServerIsGivenUpAfterTheTimeLimit) {
  const std::wstring name = fresh_pipe_name();
  UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OneShotServer server(name, [&](HANDLE pipe) {
    (void)read_once(pipe);
    WaitForSingleObject(release.get(), 10000);
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(WindowsServicePipeClient(name, 300ms).exchange("{}\n").outcome,
            PipeExchange::Outcome::Interrupted);
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, 250ms);
  EXPECT_LT(waited, 5s);
  SetEvent(release.get());
}

}  // namespace
}  // namespace nivalto
