#include "runtime/dl_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using owc::DLList;

std::vector<int> Contents(const DLList<int>& list) {
  std::vector<int> out;
  for (auto pos = list.GetHeadPosition(); pos != nullptr;) out.push_back(list.GetNext(pos));
  return out;
}

TEST(DLList, RemovingTheOnlyElementLeavesHeadTailAndCountEmpty) {
  DLList<int> list;
  list.AddTail(7);
  EXPECT_EQ(7, list.RemoveHead());
  EXPECT_EQ(nullptr, list.GetHeadPosition());
  EXPECT_EQ(nullptr, list.GetTailPosition());
  EXPECT_EQ(0u, list.GetCount());
  list.AddTail(8);  // still usable
  EXPECT_EQ(std::vector<int>{8}, Contents(list));
}

TEST(DLList, InsertAfterNullPositionMakesTheNewNodeTheHead) {
  DLList<int> list;
  list.AddTail(2);
  list.AddTail(3);
  list.InsertAfter(nullptr, 1);
  EXPECT_EQ((std::vector<int>{1, 2, 3}), Contents(list));
  EXPECT_EQ(3, list.GetAt(list.GetTailPosition()));
}

TEST(DLList, InsertAfterTheTailMovesTheTail) {
  DLList<int> list;
  auto first = list.AddTail(1);
  list.InsertAfter(first, 2);
  EXPECT_EQ(2, list.GetAt(list.GetTailPosition()));
  list.InsertAfter(first, 5);
  EXPECT_EQ((std::vector<int>{1, 5, 2}), Contents(list));
}

TEST(DLList, RemoveWhileIteratingWithACopiedPosition) {
  DLList<int> list;
  for (int i = 1; i <= 6; ++i) list.AddTail(i);
  for (auto pos = list.GetHeadPosition(); pos != nullptr;) {
    auto current = pos;
    int value = list.GetNext(pos);
    if (value % 2 == 0) list.RemoveAt(current);
  }
  EXPECT_EQ((std::vector<int>{1, 3, 5}), Contents(list));
  EXPECT_EQ(3u, list.GetCount());
  list.RemoveAt(list.GetTailPosition());
  list.RemoveAt(list.GetHeadPosition());
  list.RemoveAt(nullptr);
  EXPECT_EQ(std::vector<int>{3}, Contents(list));
  EXPECT_EQ(list.GetHeadPosition(), list.GetTailPosition());
}

TEST(DLList, RemoveAllEmptiesAndAllowsReuse) {
  DLList<int> list;
  for (int i = 0; i < 100; ++i) list.AddTail(i);
  list.RemoveAll();
  EXPECT_EQ(0u, list.GetCount());
  EXPECT_TRUE(Contents(list).empty());
  list.AddTail(1);
  EXPECT_EQ(1u, list.GetCount());
}

}  // namespace
