#include "cli/service/pipe_server.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/cli/service/fake_server_pipe.h"

namespace nivalto {
namespace {

using testing::concat;
using testing::FakeServerPipe;
using testing::RecordingHandler;
using testing::RecordingKeeper;
using testing::RecordingSetter;
using testing::ScriptedRead;
using Log = std::vector<std::string>;

constexpr std::uint32_t STOP_EVENT_WAIT = 1;       // WAIT_OBJECT_0 + 1
constexpr std::uint32_t FAILED_WAIT = 0xFFFFFFFF;  // WAIT_FAILED
constexpr std::uint32_t NO_DATA_CODE = 232;        // ERROR_NO_DATA
const ScriptedRead READ_REQUEST{ReadStatus::Received, R"({"op":"keyboard_read"})"};

// One served client, as the log shows it.
Log served(const std::string& answer) {
  return {"read 4096", "write " + answer + "\n", "flush", "disconnect"};
}

// The log of an idle server that is stopped while waiting.
const Log STOPPED_WHILE_WAITING = {"connect", "wait"};

class PipeServerTest : public ::testing::Test {
 protected:
  void run() { run_connection_loop(pipe, stop, handler, keeper); }

  Log log;
  FakeServerPipe pipe{log};
  StopSignal stop;
  RecordingHandler handler;
  RecordingSetter setter;
  RecordingKeeper keeper{log};
};

TEST_F(PipeServerTest, PendingConnectThenClientServesOneRequestPerConnection) {
  pipe.waits = {0, 0};
  pipe.reads = {READ_REQUEST, ScriptedRead{ReadStatus::Received, "second"}};
  run();
  EXPECT_EQ(log, concat({{"connect", "wait"},
                         served("answer 1"),
                         {"connect", "wait"},
                         served("answer 2"),
                         STOPPED_WHILE_WAITING}));
  EXPECT_EQ(handler.requests, (std::vector<std::string>{R"({"op":"keyboard_read"})", "second"}));
}

TEST_F(PipeServerTest, WaitEndedByTheStopEventOrAFailureEndsTheLoop) {
  for (const std::uint32_t result : {STOP_EVENT_WAIT, FAILED_WAIT, std::uint32_t{0x102}}) {
    Log log;
    FakeServerPipe pipe(log);
    pipe.waits = {result};
    run_connection_loop(pipe, stop, handler, keeper);
    EXPECT_EQ(log, STOPPED_WHILE_WAITING) << result;
  }
  EXPECT_TRUE(handler.requests.empty());
}

TEST_F(PipeServerTest, ZeroReturnWithAnyOtherErrorGoesStraightToTheRead) {
  // 535: the client connected before the call; 232: a broken connection that
  // the read finds broken.
  pipe.connects = {{false, PIPE_CONNECTED_CODE}, {false, NO_DATA_CODE}};
  pipe.reads = {READ_REQUEST, ScriptedRead{ReadStatus::Failed, ""}};
  run();
  EXPECT_EQ(log, concat({{"connect"},
                         served("answer 1"),
                         {"connect", "read 4096", "disconnect"},
                         STOPPED_WHILE_WAITING}));
  EXPECT_EQ(handler.requests.size(), 1U);
}

TEST_F(PipeServerTest, NonzeroReturnServesOnlyWhenAlreadyConnected) {
  pipe.connects = {{true, PIPE_CONNECTED_CODE}, {true, 0}};
  pipe.reads = {READ_REQUEST};
  run();
  EXPECT_EQ(log, concat({{"connect"}, served("answer 1"), {"connect"}}));
}

TEST_F(PipeServerTest, StopRequestedBeforeAConnectionServesNobody) {
  stop.request_stop(setter);
  run();
  EXPECT_TRUE(log.empty());
}

TEST_F(PipeServerTest, StopDuringARequestLetsItBeAnsweredThenEndsTheLoop) {
  pipe.waits = {0, 0};
  pipe.reads = {READ_REQUEST, READ_REQUEST};
  handler.during = [&] { stop.request_stop(setter); };
  run();
  EXPECT_EQ(log, concat({{"connect", "wait"}, served("answer 1")}));
}

TEST_F(PipeServerTest, FailedReadDropsTheClientWithoutAnswerAndServesTheNext) {
  pipe.waits = {0, 0};
  pipe.reads = {ScriptedRead{ReadStatus::Failed, ""}, READ_REQUEST};
  run();
  EXPECT_EQ(log, concat({{"connect", "wait", "read 4096", "disconnect"},
                         {"connect", "wait"},
                         served("answer 1"),
                         STOPPED_WHILE_WAITING}));
}

TEST_F(PipeServerTest, SilentClientIsDroppedAfterTheTimeLimitAndTheNextIsServed) {
  pipe.waits = {0, 0};
  pipe.reads = {ScriptedRead{ReadStatus::TimedOut, ""}, READ_REQUEST};
  run();
  EXPECT_EQ(log, concat({{"connect", "wait", "read 4096", "disconnect"},
                         {"connect", "wait"},
                         served("answer 1"),
                         STOPPED_WHILE_WAITING}));
}

TEST_F(PipeServerTest, StopWhileWaitingForTheRequestDropsTheClientAndEndsTheLoop) {
  pipe.waits = {0, 0};
  pipe.reads = {ScriptedRead{ReadStatus::Stopped, ""}, READ_REQUEST};
  run();
  EXPECT_EQ(log, (Log{"connect", "wait", "read 4096", "disconnect"}));
  EXPECT_TRUE(handler.requests.empty());
}

TEST_F(PipeServerTest, FailedWriteCancelsThePipeInsteadOfFlushing) {
  pipe.waits = {0, 0};
  pipe.reads = {READ_REQUEST, READ_REQUEST};
  pipe.writes = {false, true};
  run();
  EXPECT_EQ(log,
            concat({{"connect", "wait", "read 4096", "write answer 1\n", "cancel", "disconnect"},
                    {"connect", "wait"},
                    served("answer 2"),
                    STOPPED_WHILE_WAITING}));
}

TEST_F(PipeServerTest, OnlyTheBytesOfTheOneReadReachTheHandler) {
  pipe.waits = {0, 0};
  pipe.reads = {ScriptedRead{ReadStatus::Received, std::string(5000, 'x')},
                ScriptedRead{ReadStatus::Received, ""}};
  run();
  ASSERT_EQ(handler.requests.size(), 2U);
  EXPECT_EQ(handler.requests[0], std::string(4096, 'x'));
  // A zero-byte request is still a request, and is answered.
  EXPECT_EQ(handler.requests[1], "");
  EXPECT_EQ(std::count(log.begin(), log.end(), "flush"), 2);
}

// What each power event asks of the service thread, as the keeper logs it.
const std::vector<std::pair<PowerWork, std::string>> POWER_WORK = {
    {PowerWork::GiveBack, "give back"},
    {PowerWork::ReadAtSleep, "remember"},
};

TEST_F(PipeServerTest, PowerWorkWhileWaitingKeepsTheConnectionPending) {
  for (const auto& [work, done] : POWER_WORK) {
    Log log;
    FakeServerPipe pipe(log);
    RecordingKeeper keeper(log);
    RecordingHandler handler;
    pipe.waits = {POWER_WORK_WAIT, 0};
    pipe.reads = {READ_REQUEST};
    bool asked = false;
    pipe.on_wait = [&] {
      if (!std::exchange(asked, true)) (void)stop.request_work(work, setter);
    };
    run_connection_loop(pipe, stop, handler, keeper);
    // No second connect: the client that comes after the work is served on
    // the connection that was pending all along.
    EXPECT_EQ(
        log, concat({{"connect", "wait", done, "wait"}, served("answer 1"), STOPPED_WHILE_WAITING}))
        << done;
  }
}

TEST_F(PipeServerTest, PowerWorkAskedDuringARequestWaitsForItsAnswer) {
  for (const auto& [work, done] : POWER_WORK) {
    Log log;
    FakeServerPipe pipe(log);
    RecordingKeeper keeper(log);
    RecordingHandler handler;
    pipe.waits = {0, 0};
    pipe.reads = {READ_REQUEST, READ_REQUEST};
    handler.during = [&] {
      if (handler.requests.size() == 1) (void)stop.request_work(work, setter);
    };
    // A second client already waiting does not hold the work back further.
    run_connection_loop(pipe, stop, handler, keeper);
    EXPECT_EQ(log, concat({{"connect", "wait"},
                           served("answer 1"),
                           {done, "connect", "wait"},
                           served("answer 2"),
                           STOPPED_WHILE_WAITING}))
        << done;
  }
}

TEST_F(PipeServerTest, OnlyTheLatestPowerWorkIsDone) {
  // A sleep whose read never ran, then the resume: reading now would keep
  // whatever the firmware set while waking.
  pipe.waits = {0};
  pipe.reads = {READ_REQUEST};
  handler.during = [&] {
    (void)stop.request_work(PowerWork::ReadAtSleep, setter);
    (void)stop.request_work(PowerWork::GiveBack, setter);
  };
  run();
  EXPECT_EQ(
      log, concat({{"connect", "wait"}, served("answer 1"), {"give back"}, STOPPED_WHILE_WAITING}));
}

TEST_F(PipeServerTest, AfterTheLoopOnlyAShutdownReadIsDone) {
  // A person's stop drops pending work; a shutdown's stop reads first.
  for (const auto& [work, done] :
       std::vector<std::pair<PowerWork, Log>>{{PowerWork::ReadAtShutdown, {"remember"}},
                                              {PowerWork::ReadAtSleep, {}},
                                              {PowerWork::GiveBack, {}},
                                              {PowerWork::None, {}}}) {
    Log log;
    StopSignal stop;
    RecordingKeeper keeper(log);
    (void)stop.request_work(work, setter);
    stop.request_stop(setter);
    finish_power_work(stop, keeper);
    EXPECT_EQ(log, done);
  }
}

}  // namespace
}  // namespace nivalto
