// A blocking call that the caller waits for only until a deadline: the
// platform's name resolution has no time-out of its own, so it runs on a
// thread of its own. When the deadline comes first, that thread is left to
// finish alone and to hand its late result to `discard` (which frees it); the
// state both sides share lives as long as the longer of them.
//
// Used by the socket seams; safe from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace kestrune::transport {

// Runs `work` and returns its result, or nullopt when `deadline` passes first.
// `work` and `discard` must not refer to the caller's stack: they may run after
// this returns. Without a thread to spare, `work` runs on the caller's thread.
template <typename T>
std::optional<T> CallWithin(std::function<T()> work, std::function<void(T&)> discard,
                            std::chrono::steady_clock::time_point deadline) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable finished;
    std::optional<T> result;
    bool abandoned = false;
  };
  auto shared = std::make_shared<Shared>();
  try {
    std::thread([shared, work, discard]() mutable {
      T result = work();
      std::unique_lock lock(shared->mutex);
      if (shared->abandoned) {
        lock.unlock();
        discard(result);
        return;
      }
      shared->result = std::move(result);
      shared->finished.notify_one();
    }).detach();
  } catch (const std::system_error&) {
    return work();
  }
  std::unique_lock lock(shared->mutex);
  if (!shared->finished.wait_until(lock, deadline, [&] { return shared->result.has_value(); })) {
    shared->abandoned = true;
    return std::nullopt;
  }
  return std::move(shared->result);
}

}  // namespace kestrune::transport
