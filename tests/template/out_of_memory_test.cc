// SPDX-License-Identifier: MIT
// Running out of memory in the template and behind the conversion interface. Checked
// allocations are refused through the allocation hook (all of them from some point on, or
// one at a time over a whole run); plain ones fail through support/failing_new, and the
// interface's guard must turn them into the function's failure value.
#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "doc/story_paths.h"
#include "doc/xml_doc.h"
#include "owclient/owclient.h"
#include "runtime/alloc_hook.h"
#include "support/failing_new.h"
#include "support/log_capture.h"
#include "support/story_samples.h"
#include "template/html_template.h"

namespace owc_test {
namespace {

using owc::WCHTMLTemplate;
using Lines = std::vector<std::string>;

// Checked allocations seen so far; the one with this number is refused (0: none), and
// with sRefuseRest every one after it too.
int sSeen = 0;
int sRefuse = 0;
bool sRefuseRest = false;
bool Hook(size_t) {
  ++sSeen;
  return sRefuse == 0 || (sRefuseRest ? sSeen < sRefuse : sSeen != sRefuse);
}

// The lines logged by fn with the checked allocation `refuse` refused (and those after
// it when `rest`); *seen gets how many fn asked for.
template <class Fn>
Lines Refusing(int refuse, bool rest, Fn fn, int* seen = nullptr) {
  LogCapture log;
  sSeen = 0;
  sRefuse = refuse;
  sRefuseRest = rest;
  owc::SetAllocHook(Hook);
  fn();
  owc::SetAllocHook(nullptr);
  if (seen != nullptr) *seen = sSeen;
  Lines lines;
  for (const auto& line : log.Lines()) lines.push_back(line.text);
  return lines;
}

TEST(TemplateOutOfMemoryTest, LoadingReportsEachRefusedAllocationWithItsLine) {
  const std::string table = "\"b\" \"<b>\" \"</b>\" 0 0\n";
  const std::string elementFailed =
      "WCHTMLTemplate::AddExtractProp mExtractPropList.AddElement failed";
  const struct {
    int refuseFrom;
    bool (*load)(WCHTMLTemplate&, const std::string&);
    bool loaded;
    Lines lines;
  } cases[] = {
      {1,
       [](WCHTMLTemplate& t, const std::string& s) { return t.SetTemplate(s.data(), 3); },
       false,
       {}},
      {1,
       [](WCHTMLTemplate& t, const std::string& s) {
         return t.SetXlateTable(s.data(), static_cast<uint32_t>(s.size()));
       },
       false,
       {"WCHTMLTemplate::SetXlateTable new WCHTMLTemplateXlate failed"}},
      {2,
       [](WCHTMLTemplate& t, const std::string& s) {
         return t.SetXlateTable(s.data(), static_cast<uint32_t>(s.size()));
       },
       false,
       {"WCHTMLTemplate::SetXlateTable mTagXlateMap.AddTail failed"}},
      {1,
       [](WCHTMLTemplate& t, const std::string&) { return t.AddExtractProp("", "\\a(0)"); },
       false,
       {"WCHTMLTemplateExtractPropList::AddElement new WCHTMLTemplateExtractProp failed",
        elementFailed}},
      {2,
       [](WCHTMLTemplate& t, const std::string&) { return t.AddExtractProp("", "\\a(0)"); },
       false,
       {"WCHTMLTemplateExtractPropList::AddElement AddTail", elementFailed}},
      // A command that cannot be copied out reads as empty and ends the level.
      {2,
       [](WCHTMLTemplate& t, const std::string&) {
         const std::string text = "<?Kavio insert headline?>";
         return t.SetTemplate(text.data(), static_cast<uint32_t>(text.size()));
       },
       true,
       {"WCHTMLTemplate::TmplCmdGetNext new char [] failed"}},
      // The index's refusal is logged by the index and not looked at.
      {3,
       [](WCHTMLTemplate& t, const std::string&) { return t.AddExtractProp("", "\\a(0)"); },
       true,
       {"WCXMLSearchLevel::InsertProperty new XMLSearchNode failed, \\a(0)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refuseFrom);
    WCHTMLTemplate t;
    bool loaded = !c.loaded;
    EXPECT_EQ(c.lines, Refusing(c.refuseFrom, true, [&] { loaded = c.load(t, table); }));
    EXPECT_EQ(c.loaded, loaded);
    EXPECT_TRUE(c.load(t, table));
  }
}

// Every checked allocation of a run is refused in turn. Each refusal has its described
// outcome and nothing else: a line of the document or the template, or a false result.
TEST(TemplateOutOfMemoryTest, EachRefusalInAGenerateRunHasItsDescribedOutcome) {
  const std::string text = "<?Kavio foreach byline?>[<?Kavio insert byline?>]<?Kavio end?>";
  WCHTMLTemplate t;
  ASSERT_TRUE(t.SetTemplate(text.data(), static_cast<uint32_t>(text.size())));
  auto run = [&t](int refuse, bool* ok, int* seen) {
    owc::WCXMLDoc doc;
    doc.Init(false, kStoryXml, sizeof kStoryXml - 1, nullptr, false, kStoryRdf,
             sizeof kStoryRdf - 1, nullptr);
    return Refusing(
        refuse, false, [&] { *ok = t.Generate(&doc); }, seen);
  };
  bool ok = false;
  int total = 0;
  EXPECT_EQ(Lines{}, run(0, &ok, &total));
  ASSERT_TRUE(ok);
  ASSERT_EQ("[By Ann][By Bob]", std::string(reinterpret_cast<const char*>(t.GetOutputData())));
  const std::string pushFailed =
      "WCHTMLTemplate::ParseTemplate 'foreach' mBindingStack.PushFrame failed on line 1";
  std::set<std::string> seenLines;
  int quietFailures = 0;
  for (int refuse = 1; refuse <= total; ++refuse) {
    SCOPED_TRACE(refuse);
    const Lines lines = run(refuse, &ok, nullptr);
    for (const std::string& line : lines) {
      const bool fromDoc = line.rfind("WCXMLDoc::", 0) == 0;
      EXPECT_TRUE(line != pushFailed || !ok);
      seenLines.insert(fromDoc ? "document" : line);
    }
    quietFailures += lines.empty() && !ok;
  }
  EXPECT_EQ((std::set<std::string>{"document", pushFailed}), seenLines);
  EXPECT_EQ(2, quietFailures);  // the two bylines, each a value that could not be bound
}

void Collect(const uint8_t* data, uint32_t len, uintptr_t out, uintptr_t) {
  reinterpret_cast<std::string*>(out)->assign(reinterpret_cast<const char*>(data), len);
}

TEST(TemplateOutOfMemoryTest, InterfaceGivesItsFailureValuesAndLeaksNothing) {
  const std::string text = "<?Kavio insert headline?>";
  OBConvertEnv env = nullptr;
  int total = 0;
  const auto newEnv = [&text, &env] {
    return OBConvertNewEnv(text.data(), static_cast<uint32_t>(text.size()), nullptr, 0, &env);
  };
  uint32_t result = 1;
  Refusing(
      0, false, [&] { result = newEnv(); }, &total);
  ASSERT_EQ(0u, result);
  OBConvertFreeEnv(env);
  // The environment itself is the first allocation; any later refusal fails a step.
  for (int refuse = 1; refuse <= total; ++refuse) {
    SCOPED_TRACE(refuse);
    Refusing(refuse, false, [&] { result = newEnv(); });
    EXPECT_TRUE(refuse != 1 || result == 3u);
    EXPECT_EQ(result == 0, env != nullptr);
    OBConvertFreeEnv(env);
  }
  OBConvertObj obj = nullptr;
  Refusing(1, true, [&] {
    EXPECT_EQ(3u, OBConvertNewObj(0, kStoryXml, sizeof kStoryXml - 1, 0, nullptr, 0, &obj));
  });
  EXPECT_EQ(nullptr, obj);

  // Plain allocations: the headline paths that the environment registers, and the
  // output of a 1000-byte template, fail under the guard.
  LogCapture log;
  FailNextPlainAllocation(owc::HeadlinePath().size() + 1);
  EXPECT_EQ(3u, OBConvertNewEnv("x", 1, nullptr, 0, &env));
  EXPECT_FALSE(PlainFailurePending());
  EXPECT_EQ(nullptr, env);
  EXPECT_EQ(0, log.SeverityOf("OBConvertNewEnv out of memory"));
  const std::string page(1000, 'x');
  ASSERT_EQ(0u, OBConvertNewEnv(page.data(), 1000, nullptr, 0, &env));
  ASSERT_EQ(0u, OBConvertNewObj(0, kStoryXml, sizeof kStoryXml - 1, 0, nullptr, 0, &obj));
  std::string out;
  FailNextPlainAllocation(1001);
  EXPECT_EQ(1u, OBConvertApplyTemplate(env, obj, Collect, reinterpret_cast<uintptr_t>(&out), 0));
  EXPECT_FALSE(PlainFailurePending());
  EXPECT_EQ(0, log.SeverityOf("OBConvertApplyTemplate out of memory"));
  // Nothing of the failed run is left behind.
  EXPECT_EQ(0u, OBConvertApplyTemplate(env, obj, Collect, reinterpret_cast<uintptr_t>(&out), 0));
  EXPECT_EQ(page, out.c_str());
  OBConvertFreeObj(obj);
  OBConvertFreeEnv(env);
}

}  // namespace
}  // namespace owc_test
