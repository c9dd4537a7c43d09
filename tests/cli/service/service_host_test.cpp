#include "cli/service/service_host.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(handle_control(CONTROL_STOP, stop, setter), CONTROL_HANDLED);
  EXPECT_TRUE(stop.stop_requested());
  EXPECT_EQ(setter.signalled, std::vector<EventHandle>{event});
}

TEST(ControlHandlerTest, OtherControlsLeaveTheServiceRunning) {
  StopSignal stop;
  testing::RecordingSetter setter;
  stop.publish(reinterpret_cast<EventHandle>(0x51));
  // Interrogate is sent to every service and must be answered with success.
  EXPECT_EQ(handle_control(CONTROL_INTERROGATE, stop, setter), CONTROL_HANDLED);
  // Pause (2), continue (3), shutdown (5): not accepted.
  for (const std::uint32_t control : {2U, 3U, 5U}) {
    EXPECT_EQ(handle_control(control, stop, setter), CONTROL_NOT_IMPLEMENTED);
  }
  EXPECT_FALSE(stop.stop_requested());
  EXPECT_TRUE(setter.signalled.empty());
}

}  // namespace
}  // namespace nivalto
