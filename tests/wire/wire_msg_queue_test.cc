#include "wire/wire_msg_queue.h"

#include "gtest/gtest.h"

namespace {

// Counts its destructions, to see who destroys a message.
class CountedMsg : public WCXMLWireMsg {
 public:
  explicit CountedMsg(int* destroyed) : mDestroyed(destroyed) {}
  ~CountedMsg() override { ++*mDestroyed; }

 private:
  int* mDestroyed;
};

TEST(WireMsgQueueTest, RemoveHeadHandsOverTheOldestWithoutDestroyingIt) {
  int destroyed = 0;
  owc::WCXMLWireMsgQ queue;
  WCXMLWireMsg* first = new CountedMsg(&destroyed);
  WCXMLWireMsg* second = new CountedMsg(&destroyed);
  ASSERT_TRUE(queue.AddMsg(first));
  ASSERT_TRUE(queue.AddMsg(second));
  WCXMLWireMsg* taken = queue.RemoveHead();
  EXPECT_EQ(taken, first);
  EXPECT_EQ(destroyed, 0);
  delete taken;
  EXPECT_EQ(queue.GetCount(), 1u);
}

TEST(WireMsgQueueTest, DeleteAllDestroysEveryMessageAndLeavesItUsable) {
  int destroyed = 0;
  owc::WCXMLWireMsgQ queue;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue.AddMsg(new CountedMsg(&destroyed)));
  queue.DeleteAll();
  EXPECT_EQ(destroyed, 3);
  EXPECT_EQ(queue.GetCount(), 0u);
  ASSERT_TRUE(queue.AddMsg(new CountedMsg(&destroyed)));
  EXPECT_EQ(queue.GetCount(), 1u);
}

TEST(WireMsgQueueTest, DestructorDestroysTheMessagesHeld) {
  int destroyed = 0;
  {
    owc::WCXMLWireMsgQ queue;
    ASSERT_TRUE(queue.AddMsg(new CountedMsg(&destroyed)));
    ASSERT_TRUE(queue.AddMsg(new CountedMsg(&destroyed)));
  }
  EXPECT_EQ(destroyed, 2);
}

}  // namespace
