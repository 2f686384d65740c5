// The helper pool: every run has left the task when run_shared returns, with
// callers at once and across fork().

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "columnar/pool.hpp"

namespace vexlor::columnar {
namespace {

struct Work {
  std::atomic<int> next{0};
  std::atomic<int> done{0};
  std::atomic<int> inside{0};
  int items = 0;
};

void share(void* arg) {
  auto& w = *static_cast<Work*>(arg);
  w.inside.fetch_add(1);
  while (w.next.fetch_add(1) < w.items) w.done.fetch_add(1);
  w.inside.fetch_sub(1);
}

// Waits (up to 10 s) until a helper runs the task too.
void meet(void* arg) {
  auto& inside = *static_cast<std::atomic<int>*>(arg);
  inside.fetch_add(1);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (inside.load() < 2 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
}

bool helper_came() {
  std::atomic<int> inside{0};
  run_shared(1, meet, &inside);
  return inside.load() == 2;
}

// run_shared with `helpers`; true when every item was done and no run is left.
bool shared_run(unsigned helpers, int items) {
  Work w;
  w.items = items;
  run_shared(helpers, share, &w);
  return w.done.load() == items && w.inside.load() == 0;
}

TEST(Pool, CallersAtOnceEachWaitForTheirOwnHelpers) {
  std::atomic<int> bad{0};
  std::vector<std::thread> callers;
  for (int c = 0; c < 6; ++c) {
    callers.emplace_back([c, &bad] {
      const unsigned helpers[] = {0, 1, 3, 12};
      for (int i = 0; i < 150; ++i) {
        if (!shared_run(helpers[(c + i) % 4], 1 + (i * 37) % 5000)) bad.fetch_add(1);
      }
    });
  }
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST(Pool, ChildOfForkHasHelpersOfItsOwn) {
#ifdef __SANITIZE_THREAD__
  GTEST_SKIP() << "ThreadSanitizer cannot start threads in the child of a multi-threaded process";
#endif
  ASSERT_TRUE(helper_came());  // the parent's pool has a thread now
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(20);  // a child stuck on the parent's pool is killed, and the test fails
    bool ok = helper_came();
    for (int i = 0; i < 50; ++i) ok = ok && shared_run(2, 10000);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(helper_came());
}

}  // namespace
}  // namespace vexlor::columnar
