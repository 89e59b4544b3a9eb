// SPDX-License-Identifier: MIT
// The tag translation table: loading (SetXlateTable) and TranslateTags, on fixed and
// fuzzed markup.
//
// Input: the table text, a NUL byte, then markup to translate (without a NUL the whole
// input is the table). The fuzzed table translates the fixed markup (edge cases and the
// example stories) and the fuzzed markup; the example table and an empty table
// translate the fuzzed markup.
//
// Invariants: loading is deterministic and yields flags of 0 or 1, quote-free strings
// and zero depths; FindXlate finds the first entry of a name in table order, case
// ignored; depths never go below 0; a translation repeated from reset depths gives the
// same output, appended or not; with an empty table the output holds no complete tag,
// so translating it again changes nothing.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "template/html_template.h"
#include "template/tag_xlate.h"

namespace {

using owc::WCHTMLTemplateXlate;
using owc::WCHTMLTemplateXlateMap;

std::vector<std::string>* gFixedMarkup = nullptr;
std::string* gExampleTable = nullptr;

std::vector<WCHTMLTemplateXlate> Entries(const WCHTMLTemplateXlateMap& map) {
  std::vector<WCHTMLTemplateXlate> entries;
  WCHTMLTemplateXlateMap::Position pos = map.GetHeadPosition();
  while (pos != nullptr) entries.push_back(*map.GetNext(pos));
  return entries;
}

bool SameEntries(const std::vector<WCHTMLTemplateXlate>& a,
                 const std::vector<WCHTMLTemplateXlate>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].xmlTag != b[i].xmlTag || a[i].htmlStart != b[i].htmlStart ||
        a[i].htmlEnd != b[i].htmlEnd || a[i].dropContent != b[i].dropContent ||
        a[i].dropAttributes != b[i].dropAttributes) {
      return false;
    }
  }
  return true;
}

void CheckLoaded(const WCHTMLTemplateXlateMap& map) {
  for (const WCHTMLTemplateXlate& e : Entries(map)) {
    FUZZ_CHECK(e.dropContent <= 1 && e.dropAttributes <= 1 && e.depth == 0);
    for (const std::string* s : {&e.xmlTag, &e.htmlStart, &e.htmlEnd}) {
      FUZZ_CHECK(s->find('"') == std::string::npos);
    }
  }
}

void CheckDepths(const WCHTMLTemplateXlateMap& map) {
  for (const WCHTMLTemplateXlate& e : Entries(map)) FUZZ_CHECK(e.depth >= 0);
}

// Table tags compare without regard to ASCII case only.
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// FindXlate by its definition: the first entry in table order, case ignored.
void CheckFind(const WCHTMLTemplateXlateMap& map, std::string_view name) {
  const WCHTMLTemplateXlate* first = nullptr;
  WCHTMLTemplateXlateMap::Position pos = map.GetHeadPosition();
  while (pos != nullptr && first == nullptr) {
    const WCHTMLTemplateXlate* entry = map.GetNext(pos);
    if (EqualsNoCase(entry->xmlTag, name)) first = entry;
  }
  FUZZ_CHECK(map.FindXlate(name) == first);
}

void CheckFindForTags(const WCHTMLTemplateXlateMap& map, std::string_view value) {
  size_t pos = 0;
  owc::ScannedTag tag;
  while (owc::ScanTag(value, &pos, false, nullptr, &tag)) CheckFind(map, tag.name);
}

// Translates value once with the depths left by earlier values, then twice more from
// reset depths, which must agree, the second time appended to earlier text.
void Translate(WCHTMLTemplateXlateMap& map, std::string_view value) {
  CheckFindForTags(map, value);
  std::string carried;
  map.TranslateTags(value, &carried);
  CheckDepths(map);
  std::string first;
  map.ResetDepths();
  map.TranslateTags(value, &first);
  std::string appended = "earlier text";
  map.ResetDepths();
  map.TranslateTagsAppend(value, &appended);
  FUZZ_CHECK(appended == "earlier text" + first);
  CheckDepths(map);
}

void CheckEmptyTable(std::string_view value) {
  WCHTMLTemplateXlateMap empty;
  std::string once;
  empty.TranslateTags(value, &once);
  size_t lt = once.find('<');
  FUZZ_CHECK(lt == std::string::npos || once.find('>', lt) == std::string::npos);
  FUZZ_CHECK(once.size() <= value.size());
  std::string twice;
  empty.TranslateTags(once, &twice);
  FUZZ_CHECK(twice == once);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  gExampleTable = new std::string(owc_fuzz::ReadSourceFile("examples/templates/story.xlate"));
  gFixedMarkup = new std::vector<std::string>{
      "<hl1>Big</hl1>",
      "<HL1>Big</HL1>",
      "<p>One <b>two</b></p>",
      "a<media><x>b</x>c</media>d",
      "a<media id=1>b</media>d",
      "x < y",
      "a<>b",
      "<p align=left>text</p>",
      "<br/><br /><p\tclass=x>t</p\n>",
      "</>< p><note>hidden<note>deeper</note>still</note>after",
      owc_fuzz::ReadSourceFile("examples/stories/harbour-bridge.xml"),
      owc_fuzz::ReadSourceFile("examples/stories/council-budget.xml"),
  };
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  owc_fuzz::InstallLogSink();
  owc_fuzz::InputReader input(data, size);
  const std::string table(input.Section());
  const std::string_view markup = input.Rest();

  WCHTMLTemplateXlateMap map;
  const bool loaded = map.Load(table.data(), static_cast<uint32_t>(table.size()));
  CheckLoaded(map);
  const std::vector<WCHTMLTemplateXlate> entries = Entries(map);
  for (const WCHTMLTemplateXlate& e : entries) {
    std::string upper = e.xmlTag;
    for (char& c : upper) c = UpperAscii(c);
    CheckFind(map, e.xmlTag);
    CheckFind(map, upper);
  }
  FUZZ_CHECK(map.Load(table.data(), static_cast<uint32_t>(table.size())) == loaded);
  FUZZ_CHECK(SameEntries(Entries(map), entries));
  owc::WCHTMLTemplate tmpl;
  FUZZ_CHECK(tmpl.SetXlateTable(table.data(), static_cast<uint32_t>(table.size())) == loaded);

  for (const std::string& value : *gFixedMarkup) Translate(map, value);
  Translate(map, markup);

  WCHTMLTemplateXlateMap example;
  FUZZ_CHECK(example.Load(gExampleTable->data(), static_cast<uint32_t>(gExampleTable->size())));
  Translate(example, markup);

  CheckEmptyTable(markup);
  return 0;
}
