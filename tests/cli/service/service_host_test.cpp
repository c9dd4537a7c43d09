#include "cli/service/service_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/cli/service/fake_server_pipe.h"
#include "tests/support/recording_console.h"

namespace nivalto {
namespace {

class FakeDispatcher final : public ServiceDispatcher {
 public:
  std::expected<void, std::uint32_t> run() override {
    ++runs;
    return result;
  }
  std::expected<void, std::uint32_t> result;
  int runs = 0;
};

TEST(ServiceDispatcherTest, ReturnsZeroOnceTheServiceHasStopped) {
  testing::RecordingConsole console;
  FakeDispatcher dispatcher;
  EXPECT_EQ(run_service_dispatcher(console, dispatcher), 0);
  EXPECT_EQ(dispatcher.runs, 1);
  EXPECT_EQ(console.out_text, "");
  EXPECT_EQ(console.err_text, "");
}

TEST(ServiceDispatcherTest, RefusalFromAConsolePrintsTheCodeAndReturnsOne) {
  testing::RecordingConsole console;
  FakeDispatcher dispatcher;
  dispatcher.result = std::unexpected(1063U);
  EXPECT_EQ(run_service_dispatcher(console, dispatcher), 1);
  EXPECT_EQ(console.err_text,
            "erreur : démarrage par le Gestionnaire de services refusé (code 1063)\n");
  EXPECT_EQ(console.out_text, "");
}

TEST(ControlHandlerTest, StopSetsTheFlagAndSignalsTheEvent) {
  StopSignal stop;
  testing::RecordingSetter setter;
  const auto event = reinterpret_cast<EventHandle>(0x51);
  stop.publish(event);
  EXPECT_EQ(handle_control(CONTROL_STOP, 0, stop, setter), CONTROL_HANDLED);
  EXPECT_TRUE(stop.stop_requested());
  EXPECT_EQ(setter.signalled, std::vector<EventHandle>{event});
}

TEST(ControlHandlerTest, OtherControlsLeaveTheServiceRunning) {
  StopSignal stop;
  testing::RecordingSetter setter;
  stop.publish(reinterpret_cast<EventHandle>(0x51));
  // Interrogate is sent to every service and must be answered with success.
  EXPECT_EQ(handle_control(CONTROL_INTERROGATE, 0, stop, setter), CONTROL_HANDLED);
  // Pause (2), continue (3), shutdown (5, preshutdown comes first): not accepted.
  for (const std::uint32_t control : {2U, 3U, 5U}) {
    EXPECT_EQ(handle_control(control, 0, stop, setter), CONTROL_NOT_IMPLEMENTED);
  }
  EXPECT_FALSE(stop.stop_requested());
  EXPECT_TRUE(setter.signalled.empty());
  EXPECT_EQ(stop.take_work().work, PowerWork::None);
}

TEST(ControlHandlerTest, PowerEventsAndPreshutdownOnlyAskTheServiceThread) {
  const auto stop_event = reinterpret_cast<EventHandle>(0x51);
  const auto work_event = reinterpret_cast<EventHandle>(0x3C);
  struct Case {
    std::uint32_t control;
    std::uint32_t event_type;
    PowerWork work;
    bool stops;
  };
  // 0x0: a query to suspend, which must never be refused; 0xA: power status.
  for (const Case& c :
       {Case{CONTROL_POWER_EVENT, POWER_RESUME_AUTOMATIC, PowerWork::GiveBack, false},
        Case{CONTROL_POWER_EVENT, POWER_SUSPEND, PowerWork::ReadAtSleep, false},
        Case{CONTROL_POWER_EVENT, 0x0, PowerWork::None, false},
        Case{CONTROL_POWER_EVENT, 0xA, PowerWork::None, false},
        Case{CONTROL_PRESHUTDOWN, 0, PowerWork::ReadAtShutdown, true}}) {
    StopSignal stop;
    testing::RecordingSetter setter;
    stop.publish(stop_event, work_event);
    // No service thread answers here: a suspend gives up after its limit.
    EXPECT_EQ(handle_control(c.control, c.event_type, stop, setter, std::chrono::milliseconds(1)),
              CONTROL_HANDLED);
    EXPECT_EQ(stop.take_work().work, c.work) << c.event_type;
    EXPECT_EQ(stop.stop_requested(), c.stops);
    std::vector<EventHandle> signalled;
    if (c.work != PowerWork::None) signalled.push_back(work_event);
    if (c.stops) signalled.push_back(stop_event);
    EXPECT_EQ(setter.signalled, signalled) << c.event_type;
  }
}

TEST(ControlHandlerTest, SuspendIsAnsweredOnceTheServiceThreadHasRead) {
  StopSignal stop;
  testing::RecordingSetter setter;
  std::atomic<bool> read{false};
  std::thread service([&] {
    TakenWork taken;
    while ((taken = stop.take_work()).work == PowerWork::None) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the read
    read = true;
    stop.work_done(taken.ticket);
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(
      handle_control(CONTROL_POWER_EVENT, POWER_SUSPEND, stop, setter, std::chrono::seconds(30)),
      CONTROL_HANDLED);
  EXPECT_TRUE(read);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  service.join();
}

}  // namespace
}  // namespace nivalto
