#include "cli/service/server_pipe_windows.h"

#include <gtest/gtest.h>
#include <windows.h>

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
    pipe = factory.create_pipe(*events);
    ASSERT_NE(pipe, nullptr);
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
  EXPECT_NE(factory.create_pipe(*events), nullptr);
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
  EXPECT_EQ(factory.create_pipe(*events), nullptr);
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

}  // namespace
}  // namespace nivalto
