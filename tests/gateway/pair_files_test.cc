// SPDX-License-Identifier: MIT
#include "gateway/pair_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "support/refused_allocations.h"

namespace owc_test {
namespace {

using owc::WCHOBWPairFiles;
using Texts = std::vector<std::string>;

bool Add(WCHOBWPairFiles& pair, const char* name, const char* data, bool last = true) {
  HOBWBlockQElt b{};
  b.mFName = const_cast<char*>(name);
  b.mData = reinterpret_cast<uint8_t*>(const_cast<char*>(data));
  b.mDataLen = static_cast<uint32_t>(std::strlen(data));
  b.mLastBlock = last ? 1 : 0;
  return pair.AddBlock(b);
}

// "base xml rdf", with "+" once the pair is complete.
std::string State(const WCHOBWPairFiles& p) {
  return std::string(p.GetBaseFName() != nullptr ? p.GetBaseFName() : "-") + " " +
         std::string(reinterpret_cast<const char*>(p.GetXMLBuf()), p.GetXMLLen()) + " " +
         std::string(reinterpret_cast<const char*>(p.GetRDFBuf()), p.GetRDFLen()) +
         (p.IsComplete() ? "+" : "");
}

// Other files, empty blocks and blocks of a completed file pass by quietly.
TEST(PairFilesTest, BlocksOfBothFilesInEitherOrderCompleteThePair) {
  owc_test::LogCapture log;
  WCHOBWPairFiles pair;
  EXPECT_TRUE(Add(pair, "a.txt", "data"));
  EXPECT_TRUE(Add(pair, "a.xml", ""));
  EXPECT_TRUE(Add(pair, "a.XML", "data"));  // endings compare case-sensitively
  EXPECT_EQ("-  ", State(pair));
  EXPECT_TRUE(Add(pair, "a.xml", "<ni", false));
  EXPECT_TRUE(Add(pair, "a.xml", "tf/>"));
  EXPECT_TRUE(Add(pair, "a.xml", "more"));
  EXPECT_EQ("a <nitf/> ", State(pair));
  EXPECT_TRUE(Add(pair, "a.rdf", "<rdf/>"));
  EXPECT_EQ("a <nitf/> <rdf/>+", State(pair));
  pair.Reset();
  EXPECT_EQ("-  ", State(pair));
  EXPECT_TRUE(Add(pair, "n.b.rdf", "r"));  // the base name ends at the last dot
  EXPECT_TRUE(Add(pair, "n.b.xml", "x"));
  EXPECT_EQ("n.b x r+", State(pair));
  EXPECT_TRUE(log.Lines().empty());
}

TEST(PairFilesTest, BlocksOfAnotherStoryOrWithoutAUsableNameAreRefusedAndChangeNothing) {
  owc_test::LogCapture log;
  WCHOBWPairFiles pair;
  EXPECT_FALSE(Add(pair, ".xml", "x"));
  HOBWBlockQElt unnamed{};
  uint8_t byte = 1;
  unnamed.mData = &byte;
  unnamed.mDataLen = 1;
  EXPECT_FALSE(pair.AddBlock(unnamed));
  EXPECT_EQ(0, log.SeverityOf("WCHOBWPairFiles::AddBlock failed because of filename error"));
  ASSERT_TRUE(Add(pair, "a.xml", "x", false));
  EXPECT_FALSE(Add(pair, "b.xml", "y"));
  EXPECT_FALSE(Add(pair, "ab.xml", "y"));  // same start, other length
  EXPECT_FALSE(Add(pair, "b.rdf", "y"));
  EXPECT_EQ(0, log.SeverityOf("WCHOBWPairFiles::AddBlock failed because filenames do not match"));
  EXPECT_EQ("a x ", State(pair));
  ASSERT_TRUE(Add(pair, "a.xml", ""));  // an empty block ends nothing, even marked last
  ASSERT_TRUE(Add(pair, "a.xml", "!"));
  ASSERT_TRUE(Add(pair, "a.rdf", "r"));
  EXPECT_FALSE(Add(pair, "c.rdf", "r"));
  EXPECT_EQ(0, log.SeverityOf(
                   "WCHOBWPairFiles::AddBlock failed because pair is complete or filename error"));
  EXPECT_EQ("a x! r+", State(pair));

  // For want of memory: the base name, then each file's growth.
  pair.Reset();
  const std::string failed = "WCHOBWPairFiles::AddBlock failed because of memory error for ";
  EXPECT_EQ((Texts{failed + "mBaseFName", failed + "mXMLBuf"}),
            FailuresWhenRefused(log, {0, 1}, [&] { return Add(pair, "m.xml", "x"); }));
  EXPECT_EQ("-  ", State(pair));
  ASSERT_TRUE(Add(pair, "m.xml", "x", false));
  EXPECT_EQ((Texts{failed + "mXMLBuf"}),
            FailuresWhenRefused(log, {0}, [&] { return Add(pair, "m.xml", "y"); }));
  EXPECT_EQ((Texts{failed + "mRDFBuf"}),
            FailuresWhenRefused(log, {0}, [&] { return Add(pair, "m.rdf", "y"); }));
  EXPECT_EQ("m x ", State(pair));
}

// A file that grows past the limit discards its story and is skipped to its last block;
// the next story pairs as usual, whichever of its files comes first.
TEST(PairFilesTest, AFileOverTheLimitDiscardsItsStoryAndTheNextStoryPairs) {
  owc_test::LogCapture log;
  WCHOBWPairFiles pair;
  pair.SetFileLimit(6);
  ASSERT_TRUE(Add(pair, "big.rdf", "<rdf/>"));  // exactly the limit
  ASSERT_TRUE(Add(pair, "big.xml", "<nitf", false));
  EXPECT_TRUE(Add(pair, "big.xml", "> and more", false));
  EXPECT_EQ(0, log.SeverityOf("WCHOBWPairFiles::AddBlock story file big.xml is over the limit of 6 "
                              "bytes, story discarded"));
  EXPECT_EQ("-  ", State(pair));
  EXPECT_TRUE(Add(pair, "big.xml", "x", false));  // the rest of it starts nothing
  EXPECT_TRUE(Add(pair, "big.xml", "</nitf>"));
  EXPECT_EQ("-  ", State(pair));
  ASSERT_TRUE(Add(pair, "next.xml", "x"));
  ASSERT_TRUE(Add(pair, "next.rdf", "r"));
  EXPECT_EQ("next x r+", State(pair));
  // A refused file that never sends its last block stops being skipped at another file.
  pair.Reset();
  ASSERT_TRUE(Add(pair, "cut.xml", "1234567", false));
  ASSERT_TRUE(Add(pair, "then.rdf", "r"));
  ASSERT_TRUE(Add(pair, "then.xml", "x"));
  EXPECT_EQ("then x r+", State(pair));
  EXPECT_EQ(2u, log.Lines().size());
}

}  // namespace
}  // namespace owc_test
