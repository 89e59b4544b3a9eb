#include "feed.h"

#include <expat.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "story_generator.h"
#include "support/temp_dir.h"

namespace owwired {
namespace {

using owc_test::TempDir;

std::vector<std::string> Describe(const Feed& feed) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < feed.size(); ++i) {
    lines.push_back(feed.at(i).parent.empty() ? feed.at(i).name
                                              : feed.at(i).parent + " " + feed.at(i).name);
  }
  return lines;
}

TEST(FeedTest, SpoolKeepsEachStoryTogetherXmlFirstAndNamesParents) {
  TempDir dir;
  for (const char* name : {"b.xml", "a.rdf", "a.jpg", "a.xml", "a.b.xml", "a-b.rdf", "a-b.xml",
                           "notes.txt", "a.b.rdf", ".hidden"}) {
    TempDir::Write(dir.File(name), name);
  }
  ::mkdir(dir.File("sub.xml").c_str(), 0700);
  Feed feed;
  std::vector<std::string> skipped;
  std::string error;
  EXPECT_EQ(feed.LoadSpool(dir.Path(), &skipped, &error), 9);
  EXPECT_EQ(Describe(feed),
            (std::vector<std::string>{"a.xml a.xml", "a.xml a.rdf", "a.xml a.jpg",
                                      "a-b.xml a-b.xml", "a-b.xml a-b.rdf", "a.b.xml a.b.xml",
                                      "a.b.xml a.b.rdf", "b.xml b.xml", "notes.txt"}));
  EXPECT_EQ(feed.at(1).data, "a.rdf");
  EXPECT_TRUE(skipped.empty());
}

TEST(FeedTest, RescanAppendsOnlyNewFilesAndSkipsNamesThatCannotTravel) {
  TempDir dir;
  TempDir::Write(dir.File("b.xml"), "b");
  Feed feed;
  std::vector<std::string> skipped;
  std::string error;
  EXPECT_EQ(feed.LoadSpool(dir.Path(), &skipped, &error), 1);
  TempDir::Write(dir.File("a.xml"), "a");
  TempDir::Write(dir.File("with space.xml"), "s");
  EXPECT_EQ(feed.LoadSpool(dir.Path(), &skipped, &error), 1);
  EXPECT_EQ(Describe(feed), (std::vector<std::string>{"b.xml b.xml", "a.xml a.xml"}));
  EXPECT_EQ(skipped, std::vector<std::string>{"with space.xml"});
  EXPECT_EQ(feed.LoadSpool(dir.File("missing"), &skipped, &error), -1);
  EXPECT_NE(error.find("missing"), std::string::npos);
}

TEST(FeedTest, AddRefusesInvalidAndDuplicateNames) {
  Feed feed;
  EXPECT_TRUE(feed.Add("x.txt", "1"));
  EXPECT_FALSE(feed.Add("x.txt", "2"));
  EXPECT_FALSE(feed.Add("", "e"));
  EXPECT_FALSE(feed.Add("a/b.xml", "e"));
  EXPECT_FALSE(feed.Add("tab\there", "e"));
  EXPECT_FALSE(feed.Add(std::string(201, 'n'), "e"));
  EXPECT_TRUE(feed.Add(std::string(200, 'n'), "e"));
  EXPECT_TRUE(feed.Add(".xml", "e"));  // no stem: not a story file
  EXPECT_EQ(feed.at(2).parent, "");
}

TEST(FeedTest, BlockCountRoundsUpAndAnEmptyFileIsOneBlock) {
  FeedFile file;
  EXPECT_EQ(Feed::BlockCount(file, 4096), 1u);
  file.data = std::string(4096, 'x');
  EXPECT_EQ(Feed::BlockCount(file, 4096), 1u);
  file.data += 'y';
  EXPECT_EQ(Feed::BlockCount(file, 4096), 2u);
  EXPECT_EQ(Feed::BlockCount(file, 1), 4097u);
}

struct ParseResult {
  bool well_formed = false;
  std::string root;
};

ParseResult ParseWithNamespaces(const std::string& document) {
  ParseResult result;
  XML_Parser parser = XML_ParserCreateNS("UTF-8", ':');
  XML_SetUserData(parser, &result);
  XML_SetStartElementHandler(parser, [](void* data, const XML_Char* name, const XML_Char**) {
    auto* parsed = static_cast<ParseResult*>(data);
    if (parsed->root.empty()) parsed->root = name;
  });
  result.well_formed =
      XML_Parse(parser, document.data(), static_cast<int>(document.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return result;
}

TEST(FeedTest, GeneratedStoriesAreWellFormedPairsOfAboutTheAskedSize) {
  Feed feed;
  feed.AddGenerated(3, 20000);
  ASSERT_EQ(feed.size(), 6u);
  EXPECT_EQ(Describe(feed)[4], "story00003.xml story00003.xml");
  EXPECT_EQ(Describe(feed)[5], "story00003.xml story00003.rdf");
  const std::string& xml = feed.at(0).data;
  EXPECT_GE(xml.size(), 20000u);
  EXPECT_LT(xml.size(), 20400u);
  ParseResult story = ParseWithNamespaces(xml);
  EXPECT_TRUE(story.well_formed);
  EXPECT_EQ(story.root, "nitf");
  EXPECT_NE(xml.find("<hedline><hl1>Generated story 1"), std::string::npos);
  ParseResult metadata = ParseWithNamespaces(feed.at(1).data);
  EXPECT_TRUE(metadata.well_formed);
  EXPECT_EQ(metadata.root, std::string(kMetaNamespace) + ":Resource");
  EXPECT_EQ(GenerateStoryXml(2, 100), GenerateStoryXml(2, 100));
  EXPECT_NE(GenerateStoryXml(2, 100), GenerateStoryXml(3, 100));
}

}  // namespace
}  // namespace owwired
