#include "service/uWorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace dct {
namespace {

template <typename Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

std::thread::id RunOne(TWorkerPool& pool) {
  std::promise<std::thread::id> ran;
  pool.Post([&ran] { ran.set_value(std::this_thread::get_id()); });
  return ran.get_future().get();
}

// With every worker idle, the one that finished last takes the next job.
TEST(WorkerPoolTest, TheLastIdleWorkerTakesTheNextJob) {
  TWorkerPool pool(4);
  const std::thread::id first = RunOne(pool);
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(WaitFor([&] { return pool.IdleWorkers() == 4; }));
    EXPECT_EQ(RunOne(pool), first);
  }
  // Two at once: the second goes to another thread; afterwards that one is the warmest.
  ASSERT_TRUE(WaitFor([&] { return pool.IdleWorkers() == 4; }));
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  std::promise<std::thread::id> held, other;
  pool.Post([&, gate] {
    held.set_value(std::this_thread::get_id());
    gate.wait();
  });
  EXPECT_EQ(held.get_future().get(), first);
  pool.Post([&] { other.set_value(std::this_thread::get_id()); });
  const std::thread::id second = other.get_future().get();
  EXPECT_NE(second, first);
  ASSERT_TRUE(WaitFor([&] { return pool.IdleWorkers() == 3; }));
  EXPECT_EQ(RunOne(pool), second);
  release.set_value();
}

// Jobs posted while every worker is busy wait; Join runs them all before it ends.
TEST(WorkerPoolTest, QueuedJobsRunBeforeJoinEnds) {
  std::atomic<int> ran{0};
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  TWorkerPool pool(2);
  for (int i = 0; i < 10; ++i) {
    pool.Post([&ran, gate] {
      gate.wait();
      ++ran;
    });
  }
  EXPECT_EQ(pool.IdleWorkers(), 0);
  release.set_value();
  pool.Join();
  EXPECT_EQ(ran.load(), 10);
  pool.Join();  // a second Join is harmless
}

}  // namespace
}  // namespace dct
