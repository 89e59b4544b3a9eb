// SPDX-License-Identifier: MIT
// Template loading and generation: SetTemplate with a fuzzed template, then Generate on
// one of the example stories through the example tag translation table.
//
// Input: one flag byte (bits 0-2 and 7: the story, modulo the number of examples; bit 3:
// no translation table, so that all markup is removed; bits 4-6: the reading options),
// then the template text.
//
// Invariants: the output size counts a final NUL exactly when there is output, and the
// data pointer is null exactly when there is none; generating again, on the same
// document or after loading the same template again, gives the same result and output.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "doc/doc_settings.h"
#include "doc/xml_doc.h"
#include "fuzz_support.h"
#include "template/html_template.h"

namespace {

struct Story {
  std::string xml;
  std::string rdf;
};

std::vector<Story>* gStories = nullptr;
std::string* gTable = nullptr;

const char* const kStoryNames[] = {
    "chess-final",  "council-budget",   "harbour-bridge", "river-ice",      "robot-marathon",
    "tea-harvest",  "weather-brief",    "alpine-choir",   "ferry-timetable", "forged-links",
    "glacier-survey", "market-prices", "museum-reopening", "opera-premiere"};

// The reading options for one input, reset after it.
struct ReadOptionsScope {
  explicit ReadOptionsScope(uint32_t options) { owc::SetReadOptions(options); }
  ~ReadOptionsScope() { owc::SetReadOptions(0); }
};

std::string Output(const owc::WCHTMLTemplate& tmpl) {
  const int32_t size = tmpl.GetOutputSize();
  const uint8_t* data = tmpl.GetOutputData();
  FUZZ_CHECK(size >= 0);
  FUZZ_CHECK((size == 0) == (data == nullptr));
  if (size == 0) return std::string();
  FUZZ_CHECK(data[size - 1] == '\0');
  return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  gStories = new std::vector<Story>;
  for (const char* name : kStoryNames) {
    std::string base = std::string("examples/stories/") + name;
    gStories->push_back({owc_fuzz::ReadSourceFile((base + ".xml").c_str()),
                         owc_fuzz::ReadSourceFile((base + ".rdf").c_str())});
  }
  gTable = new std::string(owc_fuzz::ReadSourceFile("examples/templates/story.xlate"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  owc_fuzz::InstallLogSink();
  owc_fuzz::InputReader input(data, size);
  const uint8_t flags = input.Byte();
  const Story& story = (*gStories)[((flags & 7) + 8 * (flags >> 7)) % gStories->size()];
  const bool withTable = (flags & 8) == 0;
  const ReadOptionsScope options((flags >> 4) & owc::kReadAllOptions);
  const std::string text(input.Rest());

  owc::WCXMLDoc doc;
  FUZZ_CHECK(doc.Init(false, story.xml.data(), static_cast<uint32_t>(story.xml.size()), nullptr,
                      false, story.rdf.data(), static_cast<uint32_t>(story.rdf.size()), nullptr));
  owc::WCHTMLTemplate tmpl;
  const bool loaded = tmpl.SetTemplate(text.data(), static_cast<uint32_t>(text.size()));
  if (withTable)
    FUZZ_CHECK(tmpl.SetXlateTable(gTable->data(), static_cast<uint32_t>(gTable->size())));
  FUZZ_CHECK(tmpl.GetVersion() <= 2);

  const bool generated = tmpl.Generate(&doc);
  const std::string output = Output(tmpl);
  if (text.empty() || std::memchr(text.data(), '\0', text.size()) == text.data()) {
    FUZZ_CHECK(output.empty());
  }

  FUZZ_CHECK(tmpl.Generate(&doc) == generated);
  FUZZ_CHECK(Output(tmpl) == output);

  FUZZ_CHECK(tmpl.SetTemplate(text.data(), static_cast<uint32_t>(text.size())) == loaded);
  FUZZ_CHECK(tmpl.Generate(&doc) == generated);
  FUZZ_CHECK(Output(tmpl) == output);

  tmpl.Reset();
  FUZZ_CHECK(tmpl.GetOutputSize() == 0 && tmpl.GetOutputData() == nullptr);
  return 0;
}
