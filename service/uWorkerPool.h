// TWorkerPool: a fixed set of threads that run posted jobs, one job per thread at a time.
//
// The worker that became idle last takes the next job. Consecutive requests thus land on
// a thread whose caches and allocator arena are warm, a large request reuses the memory
// the previous one freed instead of growing another arena, and in a quiet period the other
// threads stay asleep. Jobs posted while every worker is busy wait in order.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace dct {

class TWorkerPool {
 public:
  using TJob = std::function<void()>;

  explicit TWorkerPool(int threads);
  ~TWorkerPool();  // joins
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;

  // REQUIRES: Join has not been called.
  void Post(TJob job);
  // Runs every job posted so far to its end, then ends and joins every thread.
  void Join();
  // Workers waiting for a job (for tests and monitoring).
  int IdleWorkers();

 private:
  // A worker sleeps on its own condition variable (std::binary_semaphore spins with
  // sched_yield before it sleeps, which on a small machine takes the CPU from the very
  // threads that would hand it work).
  struct TWorker {
    std::condition_variable Wake;
    bool Woken = false;  // guarded by FLock
    TJob Job;            // set by Post before Woken; empty when woken to end
    std::thread Thread;
  };
  void Run(TWorker& self);

  std::mutex FLock;  // guards FIdle, FQueue, FStopping and every worker's Woken
  std::vector<std::unique_ptr<TWorker>> FWorkers;
  std::vector<TWorker*> FIdle;  // a stack: the last to become idle is woken first
  std::deque<TJob> FQueue;
  bool FStopping = false;
  bool FJoined = false;
};

}  // namespace dct
