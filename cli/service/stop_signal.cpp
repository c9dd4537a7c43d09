#include "cli/service/stop_signal.h"

#include <thread>

namespace nivalto {
namespace {

constexpr std::uint64_t packed(std::uint32_t ticket, PowerWork work) {
  return (std::uint64_t{ticket} << 8) | static_cast<std::uint8_t>(work);
}
constexpr std::uint32_t ticket_of(std::uint64_t word) {
  return static_cast<std::uint32_t>(word >> 8);
}
constexpr PowerWork work_of(std::uint64_t word) { return static_cast<PowerWork>(word & 0xFF); }

}  // namespace

void StopSignal::signal(std::atomic<EventHandle>& slot, EventSetter& setter) noexcept {
  signalling_.fetch_add(1);
  if (const EventHandle event = slot.load(); event != nullptr) setter.set(event);
  signalling_.fetch_sub(1);
}

void StopSignal::request_stop(EventSetter& setter) noexcept {
  // The flag first: a service thread that misses the event (not yet
  // published) still sees the flag before its next connection.
  stop_requested_.exchange(true);
  signal(slot_, setter);
}

bool StopSignal::stop_requested() const noexcept { return stop_requested_.load(); }

std::uint32_t StopSignal::request_work(PowerWork work, EventSetter& setter) noexcept {
  // The work before the event, so that a thread woken by the event finds it.
  std::uint64_t seen = work_.load();
  while (!work_.compare_exchange_weak(seen, packed(ticket_of(seen) + 1, work))) {
  }
  signal(work_slot_, setter);
  return ticket_of(seen) + 1;
}

bool StopSignal::wait_for_work(std::uint32_t ticket,
                               std::chrono::milliseconds limit) const noexcept {
  // Polled rather than waited on an event: the handler then holds no kernel
  // object the service thread could close under it.
  constexpr std::chrono::milliseconds STEP{10};
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (done_.load() < ticket) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(STEP);
  }
  return true;
}

TakenWork StopSignal::take_work() noexcept {
  std::uint64_t seen = work_.load();
  while (!work_.compare_exchange_weak(seen, packed(ticket_of(seen), PowerWork::None))) {
  }
  return TakenWork{work_of(seen), ticket_of(seen)};
}

void StopSignal::work_done(std::uint32_t ticket) noexcept {
  std::uint32_t seen = done_.load();
  while (seen < ticket && !done_.compare_exchange_weak(seen, ticket)) {
  }
}

void StopSignal::publish(EventHandle stop_event, EventHandle work_event) noexcept {
  slot_.exchange(stop_event);
  work_slot_.exchange(work_event);
}

void StopSignal::withdraw() noexcept {
  slot_.exchange(nullptr);
  work_slot_.exchange(nullptr);
  // A handler still inside holds at most one SetEvent call; yielding beats
  // a lock the dispatcher's thread would have to take.
  while (signalling_.load() != 0) std::this_thread::yield();
}

}  // namespace nivalto
