// SPDX-License-Identifier: MIT
// Checked allocations are refused through the allocation hook; plain ones fail through
// support/failing_new, and the interface's guard must turn them into its failure value.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "doc/story_paths.h"
#include "doc/xml_doc.h"
#include "owclient/owclient.h"
#include "support/failing_new.h"
#include "support/refused_allocations.h"
#include "support/story_samples.h"
#include "template/html_template.h"

namespace owc_test {
namespace {

using owc::WCHTMLTemplate;

TEST(TemplateOutOfMemoryTest, LoadingReportsEachRefusedAllocationWithItsLine) {
  using Load = bool (*)(WCHTMLTemplate&);
  const Load text = [](WCHTMLTemplate& t) { return t.SetTemplate("\"b\"", 3); };
  const Load insert = [](WCHTMLTemplate& t) {
    return t.SetTemplate("<?Kavio insert headline?>", 25);
  };
  const Load table = [](WCHTMLTemplate& t) {
    return t.SetXlateTable("\"b\" \"<b>\" \"</b>\" 0 0\n", 21);
  };
  const Load prop = [](WCHTMLTemplate& t) { return t.AddExtractProp("", "\\a(0)"); };
  const std::string element = "WCHTMLTemplateExtractPropList::AddElement ";
  const std::string elementFailed =
      "WCHTMLTemplate::AddExtractProp mExtractPropList.AddElement failed";
  const struct {
    int refuseFrom;
    Load load;
    bool loaded;
    Lines lines;
  } cases[] = {
      {1, text, false, {}},
      {1, table, false, {"WCHTMLTemplate::SetXlateTable new WCHTMLTemplateXlate failed"}},
      {2, table, false, {"WCHTMLTemplate::SetXlateTable mTagXlateMap.AddTail failed"}},
      {1, prop, false, {element + "new WCHTMLTemplateExtractProp failed", elementFailed}},
      {2, prop, false, {element + "AddTail", elementFailed}},
      // A command that cannot be copied out reads as empty and ends the level.
      {2, insert, true, {"WCHTMLTemplate::TmplCmdGetNext new char [] failed"}},
      // The index's refusal is logged by the index and not looked at.
      {3, prop, true, {"WCXMLSearchLevel::InsertProperty new XMLSearchNode failed, \\a(0)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refuseFrom);
    WCHTMLTemplate t;
    ExpectRefusal(c.refuseFrom, true, c.lines, c.loaded, [&] { return c.load(t); });
  }
}

// Every checked allocation of a run is refused in turn. Each refusal has its described
// outcome and nothing else: a line of the document or the template, or a false result.
TEST(TemplateOutOfMemoryTest, EachRefusalInAGenerateRunHasItsDescribedOutcome) {
  const std::string text = "<?Kavio foreach byline?>[<?Kavio insert byline?>]<?Kavio end?>";
  WCHTMLTemplate t;
  ASSERT_TRUE(t.SetTemplate(text.data(), static_cast<uint32_t>(text.size())));
  bool ok = false;
  auto run = [&](int refuse) {
    owc::WCXMLDoc doc;
    doc.Init(false, kStoryXml, sizeof kStoryXml - 1, nullptr, false, kStoryRdf,
             sizeof kStoryRdf - 1, nullptr);
    return Refusing(refuse, false, [&] { ok = t.Generate(&doc); });
  };
  EXPECT_EQ(Lines{}, run(0));
  const int total = gSeen;
  ASSERT_TRUE(ok);
  ASSERT_EQ("[By Ann][By Bob]", std::string(reinterpret_cast<const char*>(t.GetOutputData())));
  const std::string pushFailed =
      "WCHTMLTemplate::ParseTemplate 'foreach' mBindingStack.PushFrame failed on line 1";
  std::set<std::string> seenLines;
  int quietFailures = 0;
  for (int refuse = 1; refuse <= total; ++refuse) {
    SCOPED_TRACE(refuse);
    const Lines lines = run(refuse);
    for (const std::string& line : lines) {
      EXPECT_TRUE(line != pushFailed || !ok);
      seenLines.insert(line.rfind("WCXMLDoc::", 0) == 0 ? "document" : line);
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
  OBConvertEnv env = nullptr;
  uint32_t result = 1;
  const auto newEnv = [&] {
    result = OBConvertNewEnv("<?Kavio insert headline?>", 25, nullptr, 0, &env);
  };
  Refusing(0, false, newEnv);
  const int total = gSeen;
  ASSERT_EQ(0u, result);
  OBConvertFreeEnv(env);
  // The environment itself is the first allocation; any later refusal fails a step.
  for (int refuse = 1; refuse <= total; ++refuse) {
    SCOPED_TRACE(refuse);
    Refusing(refuse, false, newEnv);
    EXPECT_TRUE(refuse != 1 || result == 3u);
    EXPECT_EQ(result == 0, env != nullptr);
    OBConvertFreeEnv(env);
  }
  OBConvertObj obj = nullptr;
  Refusing(1, true, [&] {
    EXPECT_EQ(3u, OBConvertNewObj(0, kStoryXml, sizeof kStoryXml - 1, 0, nullptr, 0, &obj));
  });
  EXPECT_EQ(nullptr, obj);

  // Plain allocations: the environment's headline paths, a 1000-byte template's output.
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
