#include "session_table.h"

#include <gtest/gtest.h>

namespace owwired {
namespace {

TEST(SessionTableTest, IdsCountUpAndWrapBelowTheSignedLimitSkippingIdsInUse) {
  SessionTable table(0x7FFFFFFE, 10);
  EXPECT_EQ(table.Create()->id, 0x7FFFFFFEu);
  EXPECT_EQ(table.Create()->id, 0x7FFFFFFFu);
  EXPECT_EQ(table.Create()->id, 1u);
  SessionTable reused(5, 10);
  reused.Create();
  EXPECT_NE(reused.Find(5), nullptr);
  EXPECT_EQ(reused.Find(6), nullptr);
}

TEST(SessionTableTest, FullTableForgetsTheLeastRecentlyUsedIdleSession) {
  SessionTable table(1, 3);
  Session* first = table.Create();
  Session* second = table.Create();
  Session* third = table.Create();
  Connection* holder = reinterpret_cast<Connection*>(&table);  // only compared, never used
  first->holder = holder;                                      // held: never forgotten
  table.Touch(second);                                         // now more recent than the third
  EXPECT_EQ(table.Create()->id, 4u);
  EXPECT_NE(table.Find(1), nullptr);
  EXPECT_NE(table.Find(2), nullptr);
  EXPECT_EQ(table.Find(3), nullptr);
  (void)third;
}

TEST(SessionTableTest, NoRoomWhenEverySessionIsHeld) {
  SessionTable table(1, 1);
  table.Create()->holder = reinterpret_cast<Connection*>(&table);
  EXPECT_EQ(table.Create(), nullptr);
  table.Erase(1);
  EXPECT_NE(table.Create(), nullptr);
}

}  // namespace
}  // namespace owwired
