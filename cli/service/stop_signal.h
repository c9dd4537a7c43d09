#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace nivalto {

// An event of the platform, seen only as an opaque value (a HANDLE on Windows).
using EventHandle = void*;

// SetEvent, for whoever signals the stop event.
class EventSetter {
 public:
  virtual ~EventSetter() = default;
  virtual void set(EventHandle event) = 0;
};

// The keyboard work a power event or the shutdown asks of the service thread,
// besides its clients. Only the latest one counts: a resume after a sleep
// whose read never ran makes that read pointless.
enum class PowerWork : std::uint8_t {
  None,
  GiveBack,        // the machine resumed: set the kept level again
  ReadAtSleep,     // the machine is about to sleep: keep the level it has
  ReadAtShutdown,  // the machine shuts down: keep the level, then stop
};

// One piece of power work as the service thread takes it: what, and the
// number of the request it answers, to be given to work_done().
struct TakenWork {
  PowerWork work = PowerWork::None;
  std::uint32_t ticket = 0;
};

// What the service thread and the service manager's control handler share:
// the stop flag, the pending power work, and the slots through which the
// handler finds the stop event and the work event. Lock-free, because the
// handler runs on the dispatcher's thread and must never wait for the
// service thread (beyond the bounded wait of a sleep's read).
class StopSignal {
 public:
  // Control handler side: sets the flag (never reset), then signals the
  // published stop event, if any.
  void request_stop(EventSetter& setter) noexcept;
  [[nodiscard]] bool stop_requested() const noexcept;

  // Control handler side: makes `work` the pending work (replacing any not yet
  // taken), then signals the published work event, if any. Returns the
  // request's ticket, for wait_for_work().
  std::uint32_t request_work(PowerWork work, EventSetter& setter) noexcept;
  // Control handler side: returns once the service thread has done the work
  // of `ticket` (or later work), or once `limit` has passed: true when done.
  [[nodiscard]] bool wait_for_work(std::uint32_t ticket,
                                   std::chrono::milliseconds limit) const noexcept;

  // Service thread side: takes the pending work, leaving none.
  [[nodiscard]] TakenWork take_work() noexcept;
  // Service thread side: the work taken with `ticket` is over (also when
  // nothing was pending: every request up to `ticket` is then answered).
  void work_done(std::uint32_t ticket) noexcept;

  // Service thread side. The events must be published before the pipe exists
  // and withdrawn before they are closed.
  void publish(EventHandle stop_event, EventHandle work_event = nullptr) noexcept;
  // Empties the slots, then returns only once no handler call can still be
  // signalling an event it took from them, so the caller may close them.
  void withdraw() noexcept;

 private:
  void signal(std::atomic<EventHandle>& slot, EventSetter& setter) noexcept;

  std::atomic<bool> stop_requested_{false};
  std::atomic<EventHandle> slot_{nullptr};
  std::atomic<EventHandle> work_slot_{nullptr};
  // The pending work and the number of the latest request, in one word so
  // that a request and a take never see half of each other. Requests are
  // numbered from 1; `done_` is the number of the latest request whose work
  // (or later work) is over.
  std::atomic<std::uint64_t> work_{0};
  std::atomic<std::uint32_t> done_{0};
  // Handler calls between their read of a slot and the end of their
  // SetEvent. All accesses are sequentially consistent: a handler that
  // announced itself before withdraw() looked at this count is waited for,
  // and one that did not reads the slot after it was emptied.
  std::atomic<int> signalling_{0};
};

}  // namespace nivalto
