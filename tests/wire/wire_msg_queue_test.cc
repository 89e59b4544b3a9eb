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

TEST(WireMsgQueueTest, RemoveHeadHandsOverTheOldestWhileDeleteAllAndTheDestructorDestroy) {
  int destroyed = 0;
  {
    owc::WCXMLWireMsgQ queue;
    WCXMLWireMsg* first = new CountedMsg(&destroyed);
    ASSERT_TRUE(queue.AddMsg(first));
    ASSERT_TRUE(queue.AddMsg(new CountedMsg(&destroyed)));
    std::unique_ptr<WCXMLWireMsg> taken(queue.RemoveHead());
    EXPECT_EQ(first, taken.get());
    EXPECT_EQ(0, destroyed);
    queue.DeleteAll();
    EXPECT_EQ(1, destroyed);
    EXPECT_EQ(0u, queue.GetCount());
    ASSERT_TRUE(queue.AddMsg(new CountedMsg(&destroyed)));  // still usable
    ASSERT_TRUE(queue.AddMsg(new CountedMsg(&destroyed)));
  }
  EXPECT_EQ(4, destroyed);
}

}  // namespace
