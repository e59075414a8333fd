#include "host/StopSignal.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

namespace dct {
namespace {

TEST(StopSignalTest, SignalSentBeforeTheWaitIsNotLost) {
  TStopSignal stop;
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);  // pending, not fatal
  EXPECT_EQ(stop.Wait(), SIGTERM);
  ASSERT_EQ(kill(getpid(), SIGINT), 0);
  EXPECT_EQ(stop.Wait(), SIGINT);
}

TEST(StopSignalTest, LaterThreadsInheritTheBlockAndTheWaiterGetsTheirSignal) {
  TStopSignal stop;
  bool blockedInThread = false;
  std::thread worker([&] {
    sigset_t current;
    pthread_sigmask(SIG_BLOCK, nullptr, &current);
    blockedInThread = sigismember(&current, SIGTERM) == 1 && sigismember(&current, SIGINT) == 1;
    kill(getpid(), SIGTERM);  // a process-directed signal, as systemd sends it
  });
  EXPECT_EQ(stop.Wait(), SIGTERM);
  worker.join();
  EXPECT_TRUE(blockedInThread);
}

}  // namespace
}  // namespace dct
