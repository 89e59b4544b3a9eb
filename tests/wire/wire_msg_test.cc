// SPDX-License-Identifier: MIT
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "owclient/wire_messages.h"
#include "support/refused_allocations.h"
#include "wire/wire_msg_queue.h"
#include "wire/wire_msg_tables.h"

namespace owc_test {
namespace {

using namespace std::string_literals;
using Msg = std::shared_ptr<WCXMLWireMsg>;

// The whole image, terminating NUL included.
std::string Image(const WCXMLWireMsg& msg) { return std::string(msg.GetMsgBuf(), msg.GetMsgLen()); }

template <class M, class... Args>
std::shared_ptr<M> Made(Args... args) {
  auto m = std::make_shared<M>();
  EXPECT_TRUE(m->SetInfo(args...));
  return m;
}
std::shared_ptr<WCXMLWireMsgRequestAckReq> Ack(const char* arg1, const char* arg2) {
  auto m = Made<WCXMLWireMsgRequestAckReq>(7u);
  EXPECT_TRUE(m->SetArg1(arg1) && m->SetArg2(arg2));
  return m;
}
std::shared_ptr<WCXMLWireMsgFilterReq> Filter(uint32_t session,
                                              std::initializer_list<uint32_t> filters) {
  auto m = Made<WCXMLWireMsgFilterReq>(session);
  for (uint32_t f : filters) EXPECT_TRUE(m->AddFilter(f));
  return m;
}

TEST(WireMsgTest, EveryKindOfMessageHasItsExactImage) {
  const std::string data = "\0d\0BLKe\0"s, longArg(300, 'x'), fits(254, 'f'), full(65535, 'z');
  auto hello = std::make_shared<WCXMLWireMsgHello>();
  EXPECT_TRUE(hello->SetVersions(2, 3, 45, 10, 0, 123) && hello->SetProductID("Feedd"));
  auto invalid = std::make_shared<WCXMLWireMsg>();
  EXPECT_TRUE(invalid->SetHeader(0, 0, WCXMLWireMsg::kTypeInvalid, 0, 409));
  auto refiltered = Filter(7, {0});
  EXPECT_TRUE(refiltered->SetInfo(8));  // forgets the filters
  const std::pair<Msg, std::string> cases[] = {
      {Made<WCXMLWireMsgUserReq>(uint8_t{0}, 0u, nullptr), "USER\0"s},
      {Made<WCXMLWireMsgUserReq>(uint8_t{1}, 12u, ""), "12:USER\0"s},
      {Made<WCXMLWireMsgUserReq>(uint8_t{1}, 12u, "guest"), "12:USER guest\0"s},
      {Made<WCXMLWireMsgUserReq>(uint8_t{2}, 12u, nullptr), "USER\0"s},  // only 1 writes the ID
      {Made<WCXMLWireMsgRequestReq>(4294967295u), "-1:RQST\0"s},         // a signed decimal
      {Made<WCXMLWireMsgUnknownAck>(0), "-UNKN\0"s},
      {Made<WCXMLWireMsgUnknownAck>(999), "-UNKN (400) Bad request\0"s},
      {Made<WCXMLWireMsgUserAck>(false, 5u, 401), "5:-USER (401) Unauthorized\0"s},
      {Made<WCXMLWireMsgFilterAck>(true, 5u, 0), "5:+FLTR\0"s},
      {Made<WCXMLWireMsgRequestAck>(true, 5u, 204), "5:+RQST (204) No content\0"s},
      {Made<WCXMLWireMsgHeartbeatReq>(5u), "5:HRTB\0"s},
      {Made<WCXMLWireMsgHeartbeatAck>(5u), "5:+HRTB\0"s},
      {Made<WCXMLWireMsgDoneReq>(5u), "5:DONE\0"s},
      {Made<WCXMLWireMsgDoneAck>(5u), "5:+DONE\0"s},
      {Filter(7, {WCXMLWireMsgFilterReq::kRequestAll, WCXMLWireMsgFilterReq::kRequestStory}),
       "7:FLTR ALL STORY\0"s},
      {refiltered, "8:FLTR\0"s},
      {Ack("story1.xml", ""), "7:+ACK story1.xml\0"s},
      {Ack("story1.xml", nullptr), "7:+ACK story1.xml\0"s},
      // " " + text is cut to 255 characters.
      {Ack(fits.c_str(), longArg.c_str()), "7:+ACK " + fits + " " + longArg.substr(0, 254) + "\0"s},
      {Made<WCXMLWireMsgRequestFileAck>(3u, "p.xml", "s.rdf"), "3:+FILE p.xml s.rdf\0"s},
      {Made<WCXMLWireMsgRequestFileAck>(3u, "s.xml", nullptr), "3:+FILE s.xml\0"s},
      // Block data: a big-endian length, the bytes (NULs too), BLKe on the last, else BLKm.
      {Made<WCXMLWireMsgRequestBlockAck>(4u, 31u, uint16_t{8}, data.data(), uint8_t{1}),
       "4:+BLK31:\0\x08"s + data + "BLKe\0"s},
      {Made<WCXMLWireMsgRequestBlockAck>(4u, 9u, uint16_t{0}, nullptr, uint8_t{0}),
       "4:+BLK9:\0\0BLKm\0"s},
      {Made<WCXMLWireMsgRequestBlockAck>(1u, 0u, uint16_t{65535}, full.data(), uint8_t{2}),
       "1:+BLK0:\xFF\xFF"s + full + "BLKm\0"s},
      {std::make_shared<WCXMLWireMsgHello>(), "+Tazu Orbrix v1.00.00 v1.00.00\0"s},
      {hello, "+Tazu Feedd v2.03.45 v10.00.123\0"s},
      {invalid, "???? (409) Conflict\0"s}};
  for (const auto& c : cases) EXPECT_EQ(c.second, Image(*c.first)) << c.second.substr(0, 40);
}

// The fields keep what the image cuts; block data is viewed inside the image; many appends
// build the concatenation.
TEST(WireMsgTest, FieldsKeepWhatTheImageCutsBlockDataIsViewedInPlaceAndAppendsConcatenate) {
  const std::string longArg(300, 'x'), longID(300, 'p'), data = "ab\0c"s;
  EXPECT_EQ(longArg, Ack("a.xml", longArg.c_str())->GetArg2());
  WCXMLWireMsgHello hello;
  ASSERT_TRUE(hello.SetProductID(longID.c_str()));
  EXPECT_EQ(longID.substr(0, 261), hello.GetProductID());
  WCXMLWireMsgRequestBlockAck msg;
  ASSERT_TRUE(msg.SetInfo(4, 31, 4, data.data(), 1));
  ASSERT_EQ(reinterpret_cast<const uint8_t*>(msg.GetMsgBuf()) + 11, msg.GetData());
  EXPECT_EQ(data, std::string(reinterpret_cast<const char*>(msg.GetData()), msg.GetDataLength()));
  ASSERT_TRUE(msg.SetInfo(4, 9, 0, nullptr, 0));
  EXPECT_EQ(0, std::memcmp(msg.GetData(), "BLKm", 4));  // empty: the view is the marker
  WCXMLWireMsg appended;
  EXPECT_FALSE(appended.AppendData("x", 1));  // no head yet
  ASSERT_TRUE(appended.SetHeader(1, 2, WCXMLWireMsg::kTypeAck, WCXMLWireMsg::kAckPositive, 0));
  std::string expected = "2:+ACK";
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(appended.AppendData("a\0c", 3));
    expected += "a\0c"s;
  }
  EXPECT_EQ(expected + "\0"s, Image(appended));
}

// Builds with 0, 1, 2, ... allocations allowed until the build succeeds; returns how many
// it took. A build stops at its first failing step, which must leave no image.
template <class M, class Build>
int AllocationsFor(Build build) {
  for (int allowed = 0; allowed < 20; ++allowed) {
    M msg;
    if (WithAllowed(allowed, [&] { return build(msg); })) return allowed;
    EXPECT_EQ(nullptr, msg.GetMsgBuf()) << "allowed " << allowed;
    EXPECT_EQ(0u, msg.GetMsgLen()) << "allowed " << allowed;
  }
  ADD_FAILURE() << "never succeeded";
  return -1;
}

TEST(WireMsgTest, EveryFailedBuildLeavesNoImage) {
  AllocationsFor<WCXMLWireMsgUserReq>([](auto& m) { return m.SetInfo(1, 5, "guest"); });
  AllocationsFor<WCXMLWireMsgFilterReq>([](auto& m) {
    bool ok = m.SetInfo(5);
    for (int i = 0; ok && i < 6; ++i) ok = m.AddFilter(0);  // the list outgrows its first size
    return ok;
  });
  AllocationsFor<WCXMLWireMsgRequestAckReq>(
      [](auto& m) { return m.SetInfo(5) && m.SetArg1("a.xml") && m.SetArg2("b.xml"); });
  AllocationsFor<WCXMLWireMsgRequestFileAck>(
      [](auto& m) { return m.SetInfo(5, "a.xml", "b.xml"); });
  const std::string data(4096, 'b');
  EXPECT_EQ(1, AllocationsFor<WCXMLWireMsgRequestBlockAck>(
                   [&](auto& m) { return m.SetInfo(5, 1, 4096, data.data(), 1); }));
  // Its constructor could not build the image.
  auto hello = WithAllowed(0, [] { return std::make_unique<WCXMLWireMsgHello>(); });
  EXPECT_FALSE(WithAllowed(10, [&] { return hello->SetVersions(2, 0, 0, 2, 0, 0); }));
  EXPECT_EQ(1u, hello->GetMajor1());
}

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
    ASSERT_TRUE(queue.AddMsg(first) && queue.AddMsg(new CountedMsg(&destroyed)));
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

// A whole word ignores case but not length; a prefix ignores case and compares only the
// bytes available, up to the keyword's end.
TEST(WireMsgTablesTest, LookupsByWordAndByPrefixAndStatusTextsWithBadRequestForUnknownCodes) {
  const struct {
    const char* text;
    uint32_t length, type;  // length 0: a whole word
  } cases[] = {{"done", 0, 8},   {"DONES", 0, 10}, {"DON", 0, 10},
               {"????", 0, 10},  {"user", 4, 1},   {"tAZU Orbrix", 11, 0},
               {"BLK12:", 6, 6}, {"ACK 3", 5, 4},  {"unkn (400)", 10, 9},
               {"XUSR", 4, 10},  {"????", 4, 10},  {"USEX", 4, 10},
               {"USEX", 3, 1},   {"u", 1, 1},      {"fi", 2, 5},
               {"HR", 2, 7}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.type,
              c.length == 0 ? owc::GetMsgType(c.text) : owc::GetMsgTypeByPrefix(c.text, c.length))
        << c.text << " " << c.length;
  }
  EXPECT_EQ(0u, GetRequestType("all"));
  EXPECT_EQ(1u, GetRequestType("Story"));
  EXPECT_EQ(2u, GetRequestType("STORIES"));
  EXPECT_EQ(2u, GetRequestType(nullptr));
  EXPECT_STREQ("STORY", GetRequestKeyword(1));
  EXPECT_STREQ("????", GetRequestKeyword(2));
  EXPECT_STREQ("????", GetMsgKeyword(4000000000u));  // the others show in every image
  const std::pair<int32_t, const char*> statuses[] = {
      {204, "(204) No content"},          {401, "(401) Unauthorized"}, {404, "(404) Not found"},
      {405, "(405) Method not allowed"},  {409, "(409) Conflict"},     {410, "(410) Gone"},
      {503, "(503) Service unavailable"}, {400, "(400) Bad request"},  {200, "(400) Bad request"},
      {-410, "(400) Bad request"}};
  for (const auto& c : statuses) EXPECT_STREQ(c.second, GetStatusText(c.first)) << c.first;
}

}  // namespace
}  // namespace owc_test
