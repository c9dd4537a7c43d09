#include "cli/service/stop_signal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "tests/cli/service/fake_server_pipe.h"

namespace nivalto {
namespace {

EventHandle event_at(std::uintptr_t value) { return reinterpret_cast<EventHandle>(value); }

using testing::RecordingSetter;

TEST(StopSignalTest, StopSetsTheFlagAndSignalsThePublishedEvent) {
  StopSignal stop;
  RecordingSetter setter;
  EXPECT_FALSE(stop.stop_requested());

  stop.publish(event_at(0x40));
  stop.request_stop(setter);
  EXPECT_TRUE(stop.stop_requested());
  EXPECT_EQ(setter.signalled, std::vector<EventHandle>{event_at(0x40)});

  // Every later control signals again; the flag is never reset.
  stop.request_stop(setter);
  EXPECT_EQ(setter.signalled.size(), 2U);
  EXPECT_TRUE(stop.stop_requested());
}

TEST(StopSignalTest, StopBeforePublishOrAfterWithdrawOnlySetsTheFlag) {
  StopSignal early;
  RecordingSetter setter;
  early.request_stop(setter);
  EXPECT_TRUE(early.stop_requested());
  EXPECT_TRUE(setter.signalled.empty());

  StopSignal late;
  late.publish(event_at(0x40));
  late.withdraw();
  late.request_stop(setter);
  EXPECT_TRUE(late.stop_requested());
  EXPECT_TRUE(setter.signalled.empty());
}

// A setter that holds the handler inside SetEvent until released.
class BlockingSetter final : public EventSetter {
 public:
  void set(EventHandle event) override {
    signalled = event;
    entered.set_value();
    release.get_future().wait();
  }
  EventHandle signalled = nullptr;
  std::promise<void> entered;
  std::promise<void> release;
};

TEST(StopSignalTest, WithdrawWaitsForAHandlerStillSignalling) {
  StopSignal stop;
  stop.publish(event_at(0x40));
  BlockingSetter setter;
  std::thread handler([&] { stop.request_stop(setter); });
  setter.entered.get_future().wait();

  std::atomic<bool> withdrawn{false};
  std::thread service([&] {
    stop.withdraw();
    withdrawn = true;
  });
  // The event must stay open while the handler can still signal it.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(withdrawn);

  setter.release.set_value();
  handler.join();
  service.join();
  EXPECT_TRUE(withdrawn);
  EXPECT_EQ(setter.signalled, event_at(0x40));
}

TEST(StopSignalTest, RacingHandlersNeverSignalAfterWithdrawReturns) {
  // Many handler calls against one withdraw: any SetEvent must be over by the
  // time withdraw returns, i.e. before the event would be closed.
  for (int round = 0; round < 200; ++round) {
    StopSignal stop;
    stop.publish(event_at(0x40));
    std::atomic<bool> closed{false};
    std::atomic<int> late_signals{0};
    class CheckingSetter final : public EventSetter {
     public:
      CheckingSetter(std::atomic<bool>& closed, std::atomic<int>& late)
          : closed_(closed), late_(late) {}
      void set(EventHandle) override {
        if (closed_) ++late_;
      }

     private:
      std::atomic<bool>& closed_;
      std::atomic<int>& late_;
    } setter(closed, late_signals);

    std::vector<std::thread> handlers;
    for (int i = 0; i < 3; ++i) {
      handlers.emplace_back([&] {
        for (int j = 0; j < 20; ++j) stop.request_stop(setter);
      });
    }
    stop.withdraw();
    closed = true;
    for (auto& thread : handlers) thread.join();
    ASSERT_EQ(late_signals, 0) << "round " << round;
  }
}

}  // namespace
}  // namespace nivalto
