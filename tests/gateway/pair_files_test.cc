#include "gateway/pair_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/log_capture.h"

namespace {

using owc::WCHOBWPairFiles;

bool Add(WCHOBWPairFiles& pair, const char* name, const char* data, bool last = true) {
  HOBWBlockQElt b{};
  b.mFName = const_cast<char*>(name);
  b.mData = reinterpret_cast<uint8_t*>(const_cast<char*>(data));
  b.mDataLen = static_cast<uint32_t>(std::strlen(data));
  b.mLastBlock = last ? 1 : 0;
  return pair.AddBlock(b);
}

std::string Xml(const WCHOBWPairFiles& p) {
  return std::string(reinterpret_cast<const char*>(p.GetXMLBuf()), p.GetXMLLen());
}

TEST(PairFiles, BlocksOfBothFilesInEitherOrderCompleteThePair) {
  WCHOBWPairFiles pair;
  EXPECT_TRUE(Add(pair, "a.xml", "<ni", false));
  EXPECT_TRUE(Add(pair, "a.xml", "tf/>"));
  EXPECT_FALSE(pair.IsComplete());
  EXPECT_TRUE(Add(pair, "a.rdf", "<rdf/>"));
  ASSERT_TRUE(pair.IsComplete());
  EXPECT_STREQ("a", pair.GetBaseFName());
  EXPECT_EQ("<nitf/>", Xml(pair));
  EXPECT_EQ(6u, pair.GetRDFLen());
  pair.Reset();
  EXPECT_EQ(nullptr, pair.GetBaseFName());
  EXPECT_EQ(0u, pair.GetXMLLen());
  EXPECT_TRUE(Add(pair, "n.b.rdf", "r"));  // the base name ends at the last dot
  EXPECT_STREQ("n.b", pair.GetBaseFName());
  EXPECT_TRUE(Add(pair, "n.b.xml", "x"));
  EXPECT_TRUE(pair.IsComplete());
}

TEST(PairFiles, OtherFilesEmptyBlocksAndBlocksOfACompletedFilePassBy) {
  owc_test::LogCapture log;
  WCHOBWPairFiles pair;
  EXPECT_TRUE(Add(pair, "a.txt", "data"));
  EXPECT_TRUE(Add(pair, "a.xml", ""));
  EXPECT_TRUE(Add(pair, "a.XML", "data"));  // endings compare case-sensitively
  EXPECT_EQ(nullptr, pair.GetBaseFName());
  ASSERT_TRUE(Add(pair, "a.xml", "x"));
  EXPECT_TRUE(Add(pair, "a.xml", "more"));
  EXPECT_EQ("x", Xml(pair));
  EXPECT_TRUE(log.Lines().empty());
}

TEST(PairFiles, BlockOfAnotherStoryIsRefusedAndChangesNothing) {
  owc_test::LogCapture log;
  WCHOBWPairFiles pair;
  ASSERT_TRUE(Add(pair, "a.xml", "x", false));
  EXPECT_FALSE(Add(pair, "b.xml", "y"));
  EXPECT_FALSE(Add(pair, "ab.xml", "y"));  // same start, other length
  EXPECT_FALSE(Add(pair, "b.rdf", "y"));
  EXPECT_EQ(0, log.SeverityOf("WCHOBWPairFiles::AddBlock failed because filenames do not match"));
  EXPECT_STREQ("a", pair.GetBaseFName());
  EXPECT_EQ("x", Xml(pair));
  EXPECT_EQ(0u, pair.GetRDFLen());
  ASSERT_TRUE(Add(pair, "a.xml", ""));
  ASSERT_TRUE(Add(pair, "a.xml", "!"));
  ASSERT_TRUE(Add(pair, "a.rdf", "r"));
  EXPECT_FALSE(Add(pair, "c.rdf", "r"));
  EXPECT_TRUE(
      log.Has("WCHOBWPairFiles::AddBlock failed because pair is complete or filename error"));
}

TEST(PairFiles, NamesTooShortOrMissingAreRefused) {
  owc_test::LogCapture log;
  WCHOBWPairFiles pair;
  EXPECT_FALSE(Add(pair, ".xml", "x"));
  HOBWBlockQElt unnamed{};
  uint8_t byte = 1;
  unnamed.mData = &byte;
  unnamed.mDataLen = 1;
  EXPECT_FALSE(pair.AddBlock(unnamed));
  EXPECT_EQ(0, log.SeverityOf("WCHOBWPairFiles::AddBlock failed because of filename error"));
  EXPECT_EQ(nullptr, pair.GetBaseFName());
}

}  // namespace
