// SPDX-License-Identifier: MIT
#include "runtime/dl_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace owc_test {
namespace {

std::vector<int> Contents(const owc::DLList<int>& list) {
  std::vector<int> out;
  for (auto pos = list.GetHeadPosition(); pos != nullptr;) out.push_back(list.GetNext(pos));
  return out;
}

TEST(DLListTest, PositionsStayValidThroughInsertsAndRemovals) {
  owc::DLList<int> list;
  auto two = list.AddTail(2);
  list.InsertAfter(nullptr, 1);  // the new head
  list.InsertAfter(two, 4);      // the new tail
  list.InsertAfter(two, 3);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), Contents(list));
  for (int i = 5; i <= 8; ++i) list.AddTail(i);
  for (auto pos = list.GetHeadPosition(); pos != nullptr;) {
    auto current = pos;  // removing while iterating: through a copied position
    if (list.GetNext(pos) % 2 == 0) list.RemoveAt(current);
  }
  EXPECT_EQ((std::vector<int>{1, 3, 5, 7}), Contents(list));
  list.RemoveAt(list.GetTailPosition());
  list.RemoveAt(nullptr);
  EXPECT_EQ(1, list.RemoveHead());
  EXPECT_EQ(3, list.RemoveHead());
  EXPECT_EQ(list.GetHeadPosition(), list.GetTailPosition());
  EXPECT_EQ(5, list.RemoveHead());  // the only element
  EXPECT_EQ(nullptr, list.GetHeadPosition());
  EXPECT_EQ(nullptr, list.GetTailPosition());
  EXPECT_EQ(0u, list.GetCount());
  list.AddTail(9);
  list.RemoveAll();
  list.AddTail(10);
  EXPECT_EQ(std::vector<int>{10}, Contents(list));
}

}  // namespace
}  // namespace owc_test
