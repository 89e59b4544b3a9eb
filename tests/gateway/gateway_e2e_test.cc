// The gateway through its exports against the reference server, in-process, on an address
// of its own.
#include <gtest/gtest.h>

#include <string>

#include "block_sink.h"
#include "owclient/owclient.h"
#include "server.h"
#include "support/log_capture.h"

namespace {

TEST(GatewayEndToEnd, StoryFilesArriveInBlocksAndDoneEndsTheSession) {
  std::string xml(5000, 'x'), rdf = "<rdf/>";
  xml[4095] = '\0';  // block data may hold NULs
  owwired::Options options;
  options.address = "127.0.0.62";
  options.verbosity = 0;
  options.files = {{"a.xml", xml}, {"a.rdf", rdf}};
  owwired::Server server(options);
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  owc_test::LogCapture log;
  ASSERT_EQ(1, OrbrixWireStartup(0));
  owc_test::BlockSink sink;
  ASSERT_EQ(1, HOBWStart(0x7F00003E, &owc_test::BlockSink::Callback, sink.User(), 0, 0));

  auto r = sink.WaitFor(3);
  ASSERT_EQ(3u, r.size());
  EXPECT_EQ("a.xml", r[0].name);
  EXPECT_EQ(xml, r[0].data + r[1].data);
  EXPECT_EQ(1, r[1].last);
  EXPECT_EQ("a.rdf", r[2].name);
  EXPECT_EQ(rdf, r[2].data);
  ASSERT_TRUE(
      server.WaitFor([](const owwired::Counters& c) { return c.files_delivered == 2; }, 5000));
  HOBWStats s{};
  ASSERT_EQ(1, HOBWGetStats(&s));
  EXPECT_EQ(1, s.mConnected);
  EXPECT_EQ(1, s.mSessionValid);
  EXPECT_EQ(server.GetCounters().last_session_id, uint32_t{s.mSessionID});
  EXPECT_EQ(r[0].sessionID, uint32_t{s.mSessionID});
  EXPECT_EQ(2u, uint32_t{s.mFilesTotal});

  EXPECT_EQ(1, HOBWStop(1));
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux received done"));
  EXPECT_TRUE(
      server.WaitFor([](const owwired::Counters& c) { return c.sessions_ended == 1; }, 5000));
  OrbrixWireShutdown();
}

}  // namespace
