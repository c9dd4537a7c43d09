#include "cli/service/service_body.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cli/service/service_host.h"
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

const EventHandle STOP_EVENT = reinterpret_cast<EventHandle>(0x51);
const EventHandle CONNECT_EVENT = reinterpret_cast<EventHandle>(0xC0);
const EventHandle WORK_EVENT = reinterpret_cast<EventHandle>(0x3C);

class FakeStatus final : public ServiceStatusReporter {
 public:
  explicit FakeStatus(Log& log) : log_(log) {}
  bool register_control_handler() override {
    log_.push_back("register handler");
    return registers;
  }
  void report(ServiceState state, std::uint32_t exit_code) override {
    if (exit_code != 0) log_.push_back("exit code " + std::to_string(exit_code));
    switch (state) {
      case ServiceState::StartPending:
        log_.push_back("report start pending");
        break;
      case ServiceState::Running:
        log_.push_back("report running");
        break;
      case ServiceState::Stopped:
        log_.push_back("report stopped");
        break;
    }
  }
  bool registers = true;

 private:
  Log& log_;
};

class FakeEvents final : public ServiceEvents {
 public:
  FakeEvents(Log& log, std::function<void()> on_close)
      : log_(log), on_close_(std::move(on_close)) {}
  ~FakeEvents() override {
    if (on_close_) on_close_();
    log_.push_back("close events");
  }
  EventHandle stop_event() const override { return STOP_EVENT; }
  EventHandle connect_event() const override { return CONNECT_EVENT; }
  EventHandle work_event() const override { return WORK_EVENT; }

 private:
  Log& log_;
  std::function<void()> on_close_;
};

class FakeFactory final : public PipeServerFactory {
 public:
  explicit FakeFactory(Log& log) : log_(log) {}
  std::unique_ptr<ServiceEvents> create_events() override {
    log_.push_back("create events");
    if (!events_created) return nullptr;
    return std::make_unique<FakeEvents>(log_, on_events_closed);
  }
  std::expected<std::unique_ptr<ServerPipe>, std::uint32_t> create_pipe(
      const ServiceEvents& events) override {
    log_.push_back("create pipe");
    EXPECT_EQ(events.stop_event(), STOP_EVENT);
    EXPECT_EQ(events.connect_event(), CONNECT_EVENT);
    if (on_create_pipe) on_create_pipe();
    if (pipe_error != 0) return std::unexpected(pipe_error);
    auto pipe = std::make_unique<FakeServerPipe>(log_);
    if (script_pipe) script_pipe(*pipe);
    return std::unique_ptr<ServerPipe>(std::move(pipe));
  }
  bool events_created = true;
  std::uint32_t pipe_error = 0;  // nonzero: the creation fails with it
  std::function<void()> on_events_closed;
  std::function<void()> on_create_pipe;
  std::function<void(FakeServerPipe&)> script_pipe;

 private:
  Log& log_;
};

const Log STARTED = {"register handler", "report start pending", "report running"};

class ServiceBodyTest : public ::testing::Test {
 protected:
  void run() { run_service_body(status, factory, stop, handler, keeper); }

  Log log;
  FakeStatus status{log};
  FakeFactory factory{log};
  StopSignal stop;
  RecordingHandler handler;
  RecordingSetter setter;
  RecordingKeeper keeper{log};
};

TEST_F(ServiceBodyTest, RunsTheLoopBetweenRunningAndStopped) {
  factory.script_pipe = [](FakeServerPipe& pipe) {
    pipe.waits = {0};
    pipe.reads = {ScriptedRead{ReadStatus::Received, "request"}};
  };
  run();
  EXPECT_EQ(log, concat({STARTED,
                         {"create events", "create pipe", "give back", "connect", "wait",
                          "read 4096", "write answer 1\n", "flush", "disconnect", "connect", "wait",
                          "close pipe", "close events", "report stopped"}}));
  EXPECT_EQ(handler.requests, std::vector<std::string>{"request"});
}

TEST_F(ServiceBodyTest, FailedRegistrationReportsNothingAndCreatesNothing) {
  status.registers = false;
  run();
  EXPECT_EQ(log, Log{"register handler"});
}

TEST_F(ServiceBodyTest, MissingEventsStillEndWithTheStoppedReport) {
  factory.events_created = false;
  run();
  EXPECT_EQ(log, concat({STARTED, {"create events", "report stopped"}}));
}

TEST_F(ServiceBodyTest, PipeThatCannotBeCreatedEndsWithItsErrorAsExitCode) {
  // 5: what the first-instance flag gives when another process made the pipe.
  for (const std::uint32_t code : {5U, 231U}) {
    log.clear();
    factory.pipe_error = code;
    run();
    EXPECT_EQ(log, concat({STARTED,
                           {"create events", "create pipe", "close events",
                            "exit code " + std::to_string(code), "report stopped"}}));
  }
}

TEST_F(ServiceBodyTest, StopEventIsPublishedBeforeThePipeExists) {
  // A stop control arriving while the pipe is created already reaches the
  // event, so the first wait for a client ends at once.
  factory.on_create_pipe = [&] { stop.request_stop(setter); };
  run();
  EXPECT_EQ(setter.signalled, std::vector<EventHandle>{STOP_EVENT});
  EXPECT_EQ(
      log,
      concat({STARTED,
              {"create events", "create pipe", "close pipe", "close events", "report stopped"}}));
}

TEST_F(ServiceBodyTest, StopDuringTheGiveBackAtStartEndsTheRunRightAfterIt) {
  // The give-back is bounded like one request, and a stop meanwhile is
  // answered as a stop during a request is: no client is waited for.
  keeper.during = [&] { stop.request_stop(setter); };
  run();
  EXPECT_EQ(log, concat({STARTED,
                         {"create events", "create pipe", "give back", "close pipe", "close events",
                          "report stopped"}}));
}

TEST_F(ServiceBodyTest, StopControlWhileWaitingSignalsTheStopEvent) {
  factory.script_pipe = [&](FakeServerPipe& pipe) {
    pipe.on_wait = [&] { stop.request_stop(setter); };
  };
  run();
  EXPECT_EQ(setter.signalled, std::vector<EventHandle>{STOP_EVENT});
  EXPECT_TRUE(stop.stop_requested());
}

TEST_F(ServiceBodyTest, NoControlCanSignalTheStopEventOnceItIsBeingClosed) {
  for (const std::uint32_t pipe_error : {0U, 5U}) {
    StopSignal stop;
    RecordingSetter late;
    factory.pipe_error = pipe_error;
    factory.on_events_closed = [&] { stop.request_stop(late); };
    run_service_body(status, factory, stop, handler, keeper);
    EXPECT_TRUE(late.signalled.empty());
  }
}

TEST_F(ServiceBodyTest, OnlyAStopThatComesWithAShutdownReadsTheLevel) {
  // The handler's calls, made while the service waits for a client: the
  // person's stop ends the run at once, the preshutdown reads first.
  for (const std::uint32_t control : {CONTROL_STOP, CONTROL_PRESHUTDOWN}) {
    Log log;
    FakeStatus status(log);
    FakeFactory factory(log);
    StopSignal stop;
    RecordingKeeper keeper(log);
    factory.script_pipe = [&](FakeServerPipe& pipe) {
      pipe.on_wait = [&] { (void)handle_control(control, 0, stop, setter); };
    };
    run_service_body(status, factory, stop, handler, keeper);
    const Log read = control == CONTROL_PRESHUTDOWN ? Log{"remember"} : Log{};
    EXPECT_EQ(log, concat({STARTED,
                           {"create events", "create pipe", "give back", "connect", "wait"},
                           read,
                           {"close pipe", "close events", "report stopped"}}))
        << control;
  }
}

}  // namespace
}  // namespace nivalto
