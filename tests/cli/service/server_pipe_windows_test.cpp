#include "cli/service/server_pipe_windows.h"

#include <gtest/gtest.h>
#include <windows.h>

// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <chrono>
#include <string>
#include <thread>

#include "nivalto/hal/service_pipe.h"

namespace nivalto {
namespace {

using Clock = std::chrono::steady_clock;

// The client end, opened the way the backlight access opens it.
HANDLE open_client() {
  const std::wstring name(PIPE_NAME_WIDE);
  for (int attempt = 0; attempt < 200; ++attempt) {
    const HANDLE client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (client != INVALID_HANDLE_VALUE) return client;
    Sleep(10);
  }
  return INVALID_HANDLE_VALUE;
}

std::string read_to_end(HANDLE client) {
  std::string text;
  char buffer[256];
  DWORD got = 0;
  while (ReadFile(client, buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  return text;
}

std::string_view text_of(std::span<const std::byte> bytes, std::size_t count) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), count);
}

class ServerPipeWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    events = factory.create_events();
    ASSERT_NE(events, nullptr);
    auto created = factory.create_pipe(*events);
    ASSERT_TRUE(created.has_value()) << created.error();
    pipe = std::move(*created);
  }

  WindowsPipeServerFactory factory;
  std::unique_ptr<ServiceEvents> events;
  std::unique_ptr<ServerPipe> pipe;
  std::byte buffer[PIPE_BUFFER_SIZE];
};

TEST_F(ServerPipeWindowsTest, ServesOneRequestAndOneAnswer) {
  const ConnectCall call = pipe->connect();
  EXPECT_FALSE(call.returned_nonzero);
  EXPECT_EQ(call.last_error, IO_PENDING_CODE);

  std::string answer;
  std::thread client([&] {
    const HANDLE end = open_client();
    ASSERT_NE(end, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(end, "{\"op\":\"keyboard_read\"}\n", 23, &written, nullptr);
    answer = read_to_end(end);
    CloseHandle(end);
  });
  EXPECT_EQ(pipe->wait_for_client(), CLIENT_CONNECTED_WAIT);
  const ReadResult read = pipe->read(buffer);
  EXPECT_EQ(read.status, ReadStatus::Received);
  EXPECT_EQ(text_of(buffer, read.count), "{\"op\":\"keyboard_read\"}\n");
  EXPECT_TRUE(pipe->write("answer\n"));
  pipe->flush();
  pipe->disconnect();
  client.join();
  EXPECT_EQ(answer, "answer\n");
}

TEST_F(ServerPipeWindowsTest, ClientThatCameFirstIsAlreadyConnected) {
  const HANDLE end = open_client();
  ASSERT_NE(end, INVALID_HANDLE_VALUE);
  const ConnectCall call = pipe->connect();
  EXPECT_FALSE(call.returned_nonzero);
  EXPECT_EQ(call.last_error, PIPE_CONNECTED_CODE);
  CloseHandle(end);
  // The client is gone before writing: the read fails.
  EXPECT_EQ(pipe->read(buffer).status, ReadStatus::Failed);
  pipe->disconnect();
}

TEST_F(ServerPipeWindowsTest, StopEventEndsTheWaitForAClient) {
  ASSERT_EQ(pipe->connect().last_error, IO_PENDING_CODE);
  SetEvent(events->stop_event());
  EXPECT_EQ(pipe->wait_for_client(), 1U);
  // The pipe goes with its connection still pending; the next instance can
  // then take the name.
  pipe.reset();
  EXPECT_TRUE(factory.create_pipe(*events).has_value());
}

TEST_F(ServerPipeWindowsTest, WorkEventEndsTheWaitAndIsResetWhileTheConnectionPends) {
  ASSERT_EQ(pipe->connect().last_error, IO_PENDING_CODE);
  SetEvent(events->work_event());
  EXPECT_EQ(pipe->wait_for_client(), POWER_WORK_WAIT);
  EXPECT_EQ(WaitForSingleObject(events->work_event(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // The connection still pends: a client now is the next wait's answer.
  const HANDLE end = open_client();
  ASSERT_NE(end, INVALID_HANDLE_VALUE);
  EXPECT_EQ(pipe->wait_for_client(), CLIENT_CONNECTED_WAIT);
  CloseHandle(end);
  pipe->disconnect();
}

TEST_F(ServerPipeWindowsTest, StopEventCutsTheWaitForARequestShort) {
  ASSERT_EQ(pipe->connect().last_error, IO_PENDING_CODE);
  const HANDLE end = open_client();
  ASSERT_NE(end, INVALID_HANDLE_VALUE);
  ASSERT_EQ(pipe->wait_for_client(), CLIENT_CONNECTED_WAIT);
  std::thread stopper([&] {
    Sleep(200);
    SetEvent(events->stop_event());
  });
  const auto started = Clock::now();
  EXPECT_EQ(pipe->read(buffer).status, ReadStatus::Stopped);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
  stopper.join();
  pipe->disconnect();
  CloseHandle(end);
}

TEST_F(ServerPipeWindowsTest, SilentClientIsGivenUpAfterTheTimeLimit) {
  ASSERT_EQ(pipe->connect().last_error, IO_PENDING_CODE);
  const HANDLE end = open_client();
  ASSERT_NE(end, INVALID_HANDLE_VALUE);
  ASSERT_EQ(pipe->wait_for_client(), CLIENT_CONNECTED_WAIT);
  const auto started = Clock::now();
  EXPECT_EQ(pipe->read(buffer).status, ReadStatus::TimedOut);
  const auto waited = Clock::now() - started;
  EXPECT_GE(waited, REQUEST_READ_TIME_LIMIT - std::chrono::milliseconds(100));
  EXPECT_LT(waited, REQUEST_READ_TIME_LIMIT + std::chrono::seconds(3));
  pipe->disconnect();
  // The dropped client finds its pipe broken.
  DWORD written = 0;
  EXPECT_FALSE(WriteFile(end, "x", 1, &written, nullptr));
  CloseHandle(end);
}

TEST_F(ServerPipeWindowsTest, AnswerToAClientThatLeftIsNotWritten) {
  ASSERT_EQ(pipe->connect().last_error, IO_PENDING_CODE);
  const HANDLE end = open_client();
  ASSERT_NE(end, INVALID_HANDLE_VALUE);
  ASSERT_EQ(pipe->wait_for_client(), CLIENT_CONNECTED_WAIT);
  DWORD written = 0;
  WriteFile(end, "req", 3, &written, nullptr);
  CloseHandle(end);
  const ReadResult read = pipe->read(buffer);
  ASSERT_EQ(read.status, ReadStatus::Received);
  EXPECT_EQ(text_of(buffer, read.count), "req");
  EXPECT_FALSE(pipe->write("answer\n"));
  pipe->cancel_io();
  pipe->disconnect();
}

TEST_F(ServerPipeWindowsTest, OnlyOneInstanceOfThePipeExists) {
  // A second server, like a second copy of the service, cannot take the name.
  // Windows refuses the first-instance flag as access denied; Wine looks at the
  // instance count first and answers busy.
  const auto second_server = factory.create_pipe(*events);
  ASSERT_FALSE(second_server.has_value());
  EXPECT_TRUE(second_server.error() == ERROR_ACCESS_DENIED ||
              second_server.error() == ERROR_PIPE_BUSY)
      << second_server.error();
  // While one client is connected, another one's open fails as busy.
  ASSERT_EQ(pipe->connect().last_error, IO_PENDING_CODE);
  const HANDLE first = open_client();
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  const std::wstring name(PIPE_NAME_WIDE);
  const HANDLE second = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  CloseHandle(first);
}

TEST(ServicePipeSecurity, GrantsSystemAndAdministratorsAllAndInteractiveUsersDataOnly) {
  auto security = service_pipe_security();
  ASSERT_TRUE(security.has_value()) << security.error();
  LPWSTR sddl = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      (*security)->descriptor(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
  const std::wstring text(sddl);
  LocalFree(sddl);
  // FA = FILE_ALL_ACCESS; 0x12018b = FILE_GENERIC_READ | FILE_WRITE_DATA |
  // FILE_WRITE_ATTRIBUTES, without FILE_APPEND_DATA (0x4, the right to make an
  // instance); P: no entry of a parent is inherited.
  EXPECT_EQ(text, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12018b;;;IU)");
}

TEST_F(ServerPipeWindowsTest, PipeCarriesItsDescriptor) {
  const std::wstring name(PIPE_NAME_WIDE);
  const HANDLE end = open_client();
  ASSERT_NE(end, INVALID_HANDLE_VALUE);
  PSECURITY_DESCRIPTOR read_back = nullptr;
  PACL dacl = nullptr;
  const DWORD status = GetSecurityInfo(end, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, &dacl, nullptr, &read_back);
  std::wstring text = L"(unreadable)";
  if (status == ERROR_SUCCESS && read_back != nullptr) {
    LPWSTR sddl = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
            read_back, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
      text = sddl;
      LocalFree(sddl);
    }
  }
  if (read_back != nullptr) LocalFree(read_back);
  CloseHandle(end);
  // Read back through a client's handle, as Windows and Wine both allow.
  ASSERT_EQ(status, static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  EXPECT_EQ(text, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12018b;;;IU)");
}

}  // namespace
}  // namespace nivalto
