// The helper pool. Its state is guarded by one mutex; no caller's code but the
// task runs on its threads, and the task runs without the mutex held.

#include "columnar/pool.hpp"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace vexlor::columnar {
namespace {

struct Job {
  void (*task)(void*);
  void* arg;
  unsigned wanted;                  // helpers still to join; guarded by the pool's mutex
  std::atomic<unsigned> active{0};  // helpers in the task; changed under the mutex
  Job* next = nullptr;
  bool queued = false;
};

class Pool {
 public:
  Pool() : capacity_(std::min(std::max(std::thread::hardware_concurrency(), 2U) - 1, 255U)) {}

  unsigned capacity() const { return capacity_; }

  // Queues the job for its `wanted` helpers; false when no helper thread runs.
  bool offer(Job& job) {
    const unsigned wanted = job.wanted;  // helpers change it once the job is queued
    if (!grow(wanted)) return false;
    {
      std::lock_guard lock(mutex_);
      *tail_ = &job;
      tail_ = &job.next;
      job.queued = true;
      queued_.fetch_add(1, std::memory_order_relaxed);
    }
    for (unsigned i = 0; i < wanted; ++i) work_.notify_one();
    return true;
  }

  // No helper joins the job from now on; returns once those that joined have left.
  void withdraw(Job& job) {
    {
      std::lock_guard lock(mutex_);
      unlink(job);
      job.wanted = 0;
    }
    // A helper is usually within one block of the end: worth a short spin
    // rather than a sleep and a wake-up.
    const auto left = [&] { return job.active.load(std::memory_order_acquire) == 0; };
    if (spin_until(left, std::chrono::microseconds(100))) return;
    std::unique_lock lock(mutex_);
    done_.wait(lock, left);
  }

  Pool* previous = nullptr;  // a parent process's pool, kept reachable after fork()

 private:
  // True once done() holds; false if it still does not after `limit`.
  template <class Done>
  static bool spin_until(Done done, std::chrono::microseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (unsigned spins = 1; !done(); ++spins) {
      if (spins % 64 == 0 && std::chrono::steady_clock::now() > until) return false;
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#else
      std::this_thread::yield();
#endif
    }
    return true;
  }

  // At least min(n, capacity) helper threads; false when there are none.
  bool grow(unsigned n) {
    unsigned from = 0, to = 0;
    {
      std::lock_guard lock(mutex_);
      from = started_;
      to = std::max(started_, std::min(n, capacity_));
      started_ = to;
    }
    for (unsigned i = from; i < to; ++i) {
      try {
        std::thread(&Pool::serve, this).detach();
      } catch (...) {  // no more threads now: fewer helpers
        std::lock_guard lock(mutex_);
        started_ -= to - i;
        break;
      }
    }
    std::lock_guard lock(mutex_);
    return started_ > 0;
  }

  void unlink(Job& job) {
    if (!job.queued) return;
    queued_.fetch_sub(1, std::memory_order_relaxed);
    Job** at = &head_;
    while (*at != &job) at = &(*at)->next;
    *at = job.next;
    if (tail_ == &job.next) tail_ = at;
    job.next = nullptr;
    job.queued = false;
  }

  [[noreturn]] void serve() {
    // Signals sent to the process are for the interpreter's threads; those a
    // fault raises on this thread stay deliverable (a crash handler still reports it).
    sigset_t sent;
    sigfillset(&sent);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS}) sigdelset(&sent, fault);
    pthread_sigmask(SIG_BLOCK, &sent, nullptr);
    std::unique_lock lock(mutex_);
    for (;;) {
      if (head_ == nullptr) {
        // Calls often come one right after another (a table read batch by
        // batch): a helper that stays awake a little while joins the next at
        // once, instead of after a wake-up that costs about as much as a short call.
        lock.unlock();
        spin_until([&] { return queued_.load(std::memory_order_relaxed) != 0; }, std::chrono::microseconds(50));
        lock.lock();
        work_.wait(lock, [&] { return head_ != nullptr; });
      }
      Job& job = *head_;
      job.active.fetch_add(1, std::memory_order_relaxed);
      if (--job.wanted == 0) unlink(job);
      lock.unlock();
      job.task(job.arg);
      lock.lock();
      // The job may end as soon as this is seen: it is not touched again.
      if (job.active.fetch_sub(1, std::memory_order_release) == 1) done_.notify_all();
    }
  }

  const unsigned capacity_;
  std::mutex mutex_;
  std::condition_variable work_, done_;
  unsigned started_ = 0;
  std::atomic<unsigned> queued_{0};  // jobs in the queue, for helpers that linger without the mutex
  Job* head_ = nullptr;
  Job** tail_ = &head_;
};

std::atomic<Pool*> current_pool{nullptr};
std::atomic<Pool*> abandoned_pools{nullptr};
std::atomic<bool> fork_handler_registered{false};

// In a child made by fork() only the forking thread exists: the pool's threads
// are gone and its mutex may be held. The child starts a pool of its own.
void forget_pool_in_child() {
  if (Pool* old = current_pool.exchange(nullptr)) {
    old->previous = abandoned_pools.load();
    abandoned_pools = old;
  }
}

Pool* pool() {
  if (Pool* p = current_pool.load(std::memory_order_acquire)) return p;
  if (!fork_handler_registered.exchange(true)) pthread_atfork(nullptr, nullptr, forget_pool_in_child);
  auto* made = new (std::nothrow) Pool;
  if (made == nullptr) return nullptr;
  Pool* expected = nullptr;
  if (current_pool.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return made;
  delete made;  // another thread's pool was published first; this one never started a thread
  return expected;
}

}  // namespace

void run_shared(unsigned helpers, void (*task)(void*), void* arg) {
  Pool* p = helpers > 0 ? pool() : nullptr;
  const unsigned pooled = p != nullptr ? std::min(helpers, p->capacity()) : 0;
  Job job{task, arg, pooled};
  const bool queued = pooled > 0 && p->offer(job);
  std::vector<std::thread> extra;
  for (unsigned i = pooled; i < helpers; ++i) {
    try {
      extra.emplace_back(task, arg);
    } catch (...) {  // fewer threads: the task shares its work with those there are
      break;
    }
  }
  task(arg);
  for (std::thread& t : extra) t.join();
  if (queued) p->withdraw(job);
}

}  // namespace vexlor::columnar
