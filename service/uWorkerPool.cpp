#include "service/uWorkerPool.h"

#include <utility>

namespace dct {

TWorkerPool::TWorkerPool(int threads) {
  for (int i = 0; i < threads; ++i) FWorkers.push_back(std::make_unique<TWorker>());
  // Pushed in reverse so that the first worker is the first one woken.
  for (auto it = FWorkers.rbegin(); it != FWorkers.rend(); ++it) FIdle.push_back(it->get());
  for (auto& w : FWorkers) w->Thread = std::thread([this, worker = w.get()] { Run(*worker); });
}

TWorkerPool::~TWorkerPool() { Join(); }

void TWorkerPool::Post(TJob job) {
  std::unique_lock<std::mutex> lock(FLock);
  if (FIdle.empty()) {
    FQueue.push_back(std::move(job));
    return;
  }
  TWorker* worker = FIdle.back();
  FIdle.pop_back();
  worker->Job = std::move(job);
  worker->Woken = true;
  lock.unlock();
  worker->Wake.notify_one();
}

void TWorkerPool::Run(TWorker& self) {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    self.Wake.wait(lock, [&self] { return self.Woken; });
    self.Woken = false;
    if (!self.Job) return;  // woken to end
    for (;;) {
      TJob job = std::move(self.Job);
      self.Job = nullptr;
      lock.unlock();
      job();
      job = nullptr;  // what the job holds goes before the worker counts as idle
      lock.lock();
      if (FQueue.empty()) break;
      self.Job = std::move(FQueue.front());
      FQueue.pop_front();
    }
    if (FStopping) return;
    FIdle.push_back(&self);
  }
}

int TWorkerPool::IdleWorkers() {
  std::lock_guard<std::mutex> lock(FLock);
  return static_cast<int>(FIdle.size());
}

void TWorkerPool::Join() {
  std::vector<TWorker*> idle;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (FJoined) return;
    FJoined = true;
    FStopping = true;
    idle.swap(FIdle);                         // the busy ones end when they find no more work
    for (TWorker* w : idle) w->Woken = true;  // with no job: woken to end
  }
  for (TWorker* w : idle) w->Wake.notify_one();
  for (auto& w : FWorkers) w->Thread.join();
}

}  // namespace dct
