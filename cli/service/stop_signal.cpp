#include "cli/service/stop_signal.h"

#include <thread>

namespace nivalto {

void StopSignal::request_stop(EventSetter& setter) noexcept {
  // The flag first: a service thread that misses the event (not yet
  // published) still sees the flag before its next connection.
  stop_requested_.exchange(true);
  signalling_.fetch_add(1);
  if (const EventHandle event = slot_.load(); event != nullptr) setter.set(event);
  signalling_.fetch_sub(1);
}

bool StopSignal::stop_requested() const noexcept { return stop_requested_.load(); }

void StopSignal::publish(EventHandle event) noexcept { slot_.exchange(event); }

void StopSignal::withdraw() noexcept {
  slot_.exchange(nullptr);
  // A handler still inside holds at most one SetEvent call; yielding beats
  // a lock the dispatcher's thread would have to take.
  while (signalling_.load() != 0) std::this_thread::yield();
}

}  // namespace nivalto
