#include "options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace owwired {
namespace {

ParseOutcome Parse(std::vector<const char*> args, Options* options, std::string* error) {
  args.insert(args.begin(), "owwired");
  return ParseCommandLine(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(OptionsTest, ReadsLongShortAndInlineForms) {
  Options options;
  std::string error;
  ASSERT_EQ(Parse({"-a", "127.0.0.9", "--port=40000", "-b512", "--spool", "dir", "--pipeline",
                   "--generate=3", "-q", "--delay", "20", "--gone-at=2"},
                  &options, &error),
            ParseOutcome::kRun)
      << error;
  EXPECT_EQ(options.address, "127.0.0.9");
  EXPECT_EQ(options.port, 40000);
  EXPECT_EQ(options.block_size, 512u);
  EXPECT_EQ(options.spool_dir, "dir");
  EXPECT_TRUE(options.pipeline);
  EXPECT_EQ(options.generate_stories, 3u);
  EXPECT_EQ(options.verbosity, 0);
  EXPECT_EQ(options.faults.delay_ms, 20u);
  EXPECT_EQ(options.faults.gone_at_request, 2);
  EXPECT_EQ(options.faults.silent_after, -1);
}

TEST(OptionsTest, RejectOptionsTakeAnOptionalStatus) {
  Options options;
  std::string error;
  ASSERT_EQ(Parse({"--reject-filter", "--reject-user=0"}, &options, &error), ParseOutcome::kRun);
  EXPECT_EQ(options.faults.reject_filter, 400);
  EXPECT_EQ(options.faults.reject_user, 0);
}

TEST(OptionsTest, ReportsWhatIsWrong) {
  struct Case {
    std::vector<const char*> args;
    const char* message;
  } cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"}, {{"--port"}, "needs a value"},
      {{"--block-size=0"}, "from 1 to 65535"},   {{"--block-size=65536"}, "from 1 to 65535"},
      {{"--port=12x"}, "'12x' is not a number"}, {{"--pipeline=1"}, "takes no value"},
      {{"--product=two words"}, "one word"},     {{"stray"}, "unknown option 'stray'"},
  };
  for (const Case& c : cases) {
    Options options;
    std::string error;
    EXPECT_EQ(Parse(c.args, &options, &error), ParseOutcome::kError) << c.message;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST(OptionsTest, HelpWinsAndListsEveryOptionWithinHundredColumns) {
  Options options;
  std::string error;
  EXPECT_EQ(Parse({"--port=1", "-h", "--bogus"}, &options, &error), ParseOutcome::kHelp);
  std::istringstream help(HelpText());
  std::string line;
  while (std::getline(help, line)) EXPECT_LE(line.size(), 100u) << line;
  for (const char* name :
       {"--address", "--spool", "--generate", "--block-size", "--pipeline", "--restart-files",
        "--silent-after", "--drop-after-blocks", "--gone-at", "--garbage-after", "--overlong-after",
        "--one-byte-writes", "--delay", "--reject-filter", "--done-after-files",
        "--stop-reading-after", "--quiet", "--exit-when-done"}) {
    EXPECT_NE(HelpText().find(name), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace owwired
