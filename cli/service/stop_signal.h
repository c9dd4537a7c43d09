#pragma once

#include <atomic>

namespace nivalto {

// An event of the platform, seen only as an opaque value (a HANDLE on Windows).
using EventHandle = void*;

// SetEvent, for whoever signals the stop event.
class EventSetter {
 public:
  virtual ~EventSetter() = default;
  virtual void set(EventHandle event) = 0;
};

// What the service thread and the service manager's control handler share:
// the stop flag, and the slot through which the handler finds the stop event.
// Lock-free, because the handler runs on the dispatcher's thread and must
// never wait for the service thread.
class StopSignal {
 public:
  // Control handler side: sets the flag (never reset), then signals the
  // published event, if any.
  void request_stop(EventSetter& setter) noexcept;
  [[nodiscard]] bool stop_requested() const noexcept;

  // Service thread side. The event must be published before the pipe exists
  // and withdrawn before the event is closed.
  void publish(EventHandle event) noexcept;
  // Empties the slot, then returns only once no handler call can still be
  // signalling the event it took from the slot, so the caller may close it.
  void withdraw() noexcept;

 private:
  std::atomic<bool> stop_requested_{false};
  std::atomic<EventHandle> slot_{nullptr};
  // Handler calls between their read of the slot and the end of their
  // SetEvent. All accesses are sequentially consistent: a handler that
  // announced itself before withdraw() looked at this count is waited for,
  // and one that did not reads the slot after it was emptied.
  std::atomic<int> signalling_{0};
};

}  // namespace nivalto
