#include "service/MemoryBudget.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace dct {
namespace {

TMemoryBudget::TAddress V4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, a, b, c, d};
}

TMemoryBudget::TAddress V6(uint16_t group0, uint16_t group3, uint16_t last) {
  TMemoryBudget::TAddress a{};
  a[0] = static_cast<uint8_t>(group0 >> 8);
  a[1] = static_cast<uint8_t>(group0);
  a[6] = static_cast<uint8_t>(group3 >> 8);
  a[7] = static_cast<uint8_t>(group3);
  a[14] = static_cast<uint8_t>(last >> 8);
  a[15] = static_cast<uint8_t>(last);
  return a;
}

TEST(MemoryBudgetTest, AShareAndTheTotalBothBoundAdmission) {
  TMemoryBudget budget({/*Total=*/1000, /*PerAddress=*/600, /*ConnectionsPerAddress=*/8});
  std::unique_ptr<TMemoryCharge> a1 = budget.Open(V4(10, 0, 0, 1), 100);
  std::unique_ptr<TMemoryCharge> a2 = budget.Open(V4(10, 0, 0, 1), 100);
  std::unique_ptr<TMemoryCharge> b = budget.Open(V4(10, 0, 0, 2), 100);
  ASSERT_TRUE(a1 && a2 && b);

  EXPECT_TRUE(a1->TryReserve(400));  // the address holds 600 of its 600
  EXPECT_FALSE(a2->TryReserve(1));   // its share is used up...
  EXPECT_TRUE(b->TryReserve(300));   // ...not the other address's
  EXPECT_FALSE(b->TryReserve(1));    // the total is: 600 + 400
  EXPECT_EQ(budget.Held(), 1000u);
  EXPECT_EQ(budget.HeldBy(V4(10, 0, 0, 1)), 600u);
  EXPECT_EQ(a1->Held(), 500u);

  a1->ReleaseWork();  // back to the connection's own cost
  EXPECT_EQ(a1->Held(), 100u);
  EXPECT_TRUE(a2->TryReserve(400));
  a2.reset();  // a closed connection gives everything back
  EXPECT_EQ(budget.HeldBy(V4(10, 0, 0, 1)), 100u);
  b.reset();
  a1.reset();
  EXPECT_EQ(budget.Held(), 0u);
}

TEST(MemoryBudgetTest, WhatExistsIsChargedAndStopsNewWorkUntilItIsGone) {
  TMemoryBudget budget({1000, 600, 8});
  std::unique_ptr<TMemoryCharge> a = budget.Open(V4(10, 0, 0, 1), 0);
  std::unique_ptr<TMemoryCharge> other = budget.Open(V4(10, 0, 0, 9), 0);
  EXPECT_FALSE(a->OverShare());
  a->Charge(900);  // an answer that was made: counted whatever the room
  EXPECT_TRUE(a->OverShare());
  EXPECT_FALSE(a->TryReserve(1));
  EXPECT_FALSE(other->OverShare());
  EXPECT_TRUE(other->TryReserve(100));
  EXPECT_FALSE(other->TryReserve(1));  // the total is full now
  EXPECT_TRUE(other->OverShare());
  a->Release(900);
  EXPECT_FALSE(a->OverShare());
  EXPECT_TRUE(a->TryReserve(500));
}

TEST(MemoryBudgetTest, ConnectionsPerAddressAndTheirOwnCost) {
  TMemoryBudget budget({1000, 250, 2});
  std::vector<std::unique_ptr<TMemoryCharge>> open;
  open.push_back(budget.Open(V4(10, 0, 0, 1), 100));
  open.push_back(budget.Open(V4(10, 0, 0, 1), 100));
  EXPECT_EQ(budget.Open(V4(10, 0, 0, 1), 1), nullptr);  // the third from one address
  EXPECT_NE(budget.Open(V4(10, 0, 0, 2), 100), nullptr);
  open.pop_back();
  // A connection's own cost is charged even beyond the share, so that it can be told why
  // its request is refused.
  std::unique_ptr<TMemoryCharge> third = budget.Open(V4(10, 0, 0, 1), 200);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(budget.HeldBy(V4(10, 0, 0, 1)), 300u);
  EXPECT_TRUE(third->OverShare());
  EXPECT_FALSE(third->TryReserve(0));
}

TEST(MemoryBudgetTest, AnIPv6PrefixIsOneClient) {
  TMemoryBudget budget({1000, 500, 8});
  std::unique_ptr<TMemoryCharge> a = budget.Open(V6(0xfd00, 1, 1), 400);
  // Another address of the same /64 shares the share; another /64 does not.
  std::unique_ptr<TMemoryCharge> samePrefix = budget.Open(V6(0xfd00, 1, 2), 0);
  std::unique_ptr<TMemoryCharge> otherPrefix = budget.Open(V6(0xfd00, 2, 2), 0);
  EXPECT_FALSE(samePrefix->TryReserve(200));
  EXPECT_TRUE(otherPrefix->TryReserve(200));
  // Loopback and IPv4 addresses are counted whole.
  std::unique_ptr<TMemoryCharge> loop = budget.Open(V6(0, 0, 1), 0);
  std::unique_ptr<TMemoryCharge> v4 = budget.Open(V4(127, 0, 0, 2), 0);
  EXPECT_TRUE(loop->TryReserve(300));
  EXPECT_FALSE(v4->TryReserve(200)) << "the total is full";
  otherPrefix.reset();
  EXPECT_TRUE(v4->TryReserve(200));
}

TEST(MemoryBudgetTest, TheCurrentAccountIsTheScopesOnItsThreadOnly) {
  TMemoryBudget budget({1000, 1000, 8});
  std::unique_ptr<TMemoryCharge> a = budget.Open(V4(10, 0, 0, 1), 0);
  EXPECT_EQ(TMemoryCharge::Current(), nullptr);
  {
    TMemoryCharge::TScope scope(a.get());
    EXPECT_EQ(TMemoryCharge::Current(), a.get());
  }
  EXPECT_EQ(TMemoryCharge::Current(), nullptr);
}

}  // namespace
}  // namespace dct
