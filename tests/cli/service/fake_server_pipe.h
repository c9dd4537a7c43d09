#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "cli/service/pipe_server.h"

namespace nivalto::testing {

struct ScriptedRead {
  ReadStatus status = ReadStatus::Received;
  std::string bytes;  // what the client wrote; the read takes what fits
};

// Plays the platform's part of each step from queued outcomes and logs every
// call in order. When a queue runs dry the pipe behaves as an idle server
// that is then told to stop: connect pends, the wait returns the stop event.
class FakeServerPipe final : public ServerPipe {
 public:
  explicit FakeServerPipe(std::vector<std::string>& log) : log_(log) {}
  ~FakeServerPipe() override { log_.push_back("close pipe"); }

  ConnectCall connect() override {
    log_.push_back("connect");
    return next(connects, ConnectCall{false, IO_PENDING_CODE});
  }
  std::uint32_t wait_for_client() override {
    log_.push_back("wait");
    if (on_wait) on_wait();
    return next(waits, std::uint32_t{1});
  }
  ReadResult read(std::span<std::byte> buffer) override {
    log_.push_back("read " + std::to_string(buffer.size()));
    const ScriptedRead scripted = next(reads, ScriptedRead{ReadStatus::Failed, ""});
    if (scripted.status != ReadStatus::Received) return ReadResult{scripted.status, 0};
    const std::size_t count = std::min(buffer.size(), scripted.bytes.size());
    std::memcpy(buffer.data(), scripted.bytes.data(), count);
    return ReadResult{ReadStatus::Received, count};
  }
  bool write(std::string_view bytes) override {
    log_.push_back("write " + std::string(bytes));
    return next(writes, true);
  }
  void flush() override { log_.push_back("flush"); }
  void cancel_io() override { log_.push_back("cancel"); }
  void disconnect() override { log_.push_back("disconnect"); }

  std::deque<ConnectCall> connects;
  std::deque<std::uint32_t> waits;
  std::deque<ScriptedRead> reads;
  std::deque<bool> writes;
  std::function<void()> on_wait;

 private:
  template <typename T>
  static T next(std::deque<T>& queue, T otherwise) {
    if (queue.empty()) return otherwise;
    T value = queue.front();
    queue.pop_front();
    return value;
  }

  std::vector<std::string>& log_;
};

// Answers "answer N" to the Nth request and keeps the requests.
class RecordingHandler final : public RequestHandler {
 public:
  std::string answer(std::string_view request) override {
    requests.emplace_back(request);
    if (during) during();
    return "answer " + std::to_string(requests.size());
  }
  std::vector<std::string> requests;
  std::function<void()> during;
};

// Logs the power work into the pipe's log, where it shows between the steps
// of the connections; `during` runs inside each piece of work.
class RecordingKeeper final : public BacklightKeeper {
 public:
  explicit RecordingKeeper(std::vector<std::string>& log) : log_(log) {}
  void give_back() override {
    log_.push_back("give back");
    if (during) during();
  }
  void remember() override {
    log_.push_back("remember");
    if (during) during();
  }
  std::function<void()> during;

 private:
  std::vector<std::string>& log_;
};

class RecordingSetter final : public EventSetter {
 public:
  void set(EventHandle event) override { signalled.push_back(event); }
  std::vector<EventHandle> signalled;
};

// The logs of several steps, one after the other.
inline std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace nivalto::testing
