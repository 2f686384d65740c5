#pragma once
// Readers share an object; a writer takes it alone. A conflicting attempt fails
// at once (the caller raises RuntimeError) instead of waiting.
//
// With an interpreter lock every use of a guard happens while holding it (a
// shared use is taken before the lock is released and given back after it is
// re-acquired), so a plain counter suffices; a free-threaded interpreter needs
// the atomic one.

#include <atomic>
#include <cstdint>

namespace vexlor::py {

class AccessGuard {
 public:
  static constexpr const char* ALREADY_BORROWED = "Already borrowed";
  static constexpr const char* ALREADY_MUTABLY_BORROWED = "Already mutably borrowed";

#ifdef Py_GIL_DISABLED
  bool try_share() {
    int64_t state = state_.load(std::memory_order_relaxed);
    while (state >= 0) {
      if (state_.compare_exchange_weak(state, state + 1, std::memory_order_acquire)) return true;
    }
    return false;
  }
  void unshare() { state_.fetch_sub(1, std::memory_order_release); }

  bool try_exclusive() {
    int64_t expected = 0;
    return state_.compare_exchange_strong(expected, EXCLUSIVE, std::memory_order_acquire);
  }
  void release_exclusive() { state_.store(0, std::memory_order_release); }

 private:
  std::atomic<int64_t> state_{0};
#else
  bool try_share() {
    if (state_ < 0) return false;
    ++state_;
    return true;
  }
  void unshare() { --state_; }

  bool try_exclusive() {
    if (state_ != 0) return false;
    state_ = EXCLUSIVE;
    return true;
  }
  void release_exclusive() { state_ = 0; }

 private:
  int64_t state_ = 0;
#endif
  static constexpr int64_t EXCLUSIVE = -1;
};

}  // namespace vexlor::py
