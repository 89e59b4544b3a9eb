// SPDX-License-Identifier: MIT
// Entity escaping (FixEntityReferences, WriteEntityEscaped and the story document's
// EntitiesConverted) against the byte-at-a-time model, for every destination size from
// 0 to two bytes past the full output, with and without apostrophe escaping.
//
// Input: the text to convert (at most kMaxInput bytes are used, so that the loop over
// destination sizes stays fast).
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "doc/entity_references.h"
#include "doc/xml_doc.h"
#include "entity_model.h"
#include "fuzz_support.h"

namespace {

constexpr size_t kMaxInput = 512;

void CheckAllSizes(std::string_view text, bool escapeApos) {
  const owc_fuzz::EscapeResult full = owc_fuzz::ModelEscape(text, escapeApos);
  // Per source byte: the output length before it, what it needs free, and the
  // references written before it; the model's stop rule then costs no allocation.
  std::vector<size_t> before(text.size() + 1);
  std::vector<size_t> need(text.size());
  std::vector<uint32_t> refsBefore(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    std::string_view ref = owc_fuzz::EscapeOf(text, i, escapeApos);
    need[i] = ref.empty() ? 2 : ref.size() + 2;
    before[i + 1] = before[i] + (ref.empty() ? 1 : ref.size());
    refsBefore[i + 1] = refsBefore[i] + (ref.empty() ? 0 : 1);
  }
  const uint32_t length = static_cast<uint32_t>(text.size());
  for (size_t size = 0; size <= full.text.size() + 2; ++size) {
    size_t consumed = 0;
    while (consumed < text.size() && size - before[consumed] >= need[consumed]) ++consumed;
    // Exactly size bytes, so that the sanitizers see any write past the end.
    std::unique_ptr<char[]> dest(new char[size == 0 ? 1 : size]);
    char* out = size == 0 ? nullptr : dest.get();
    const char* source = text.data();
    uint32_t count = 12345;
    const int32_t left = owc::FixEntityReferences(&source, length, out, static_cast<uint32_t>(size),
                                                  &count, escapeApos);
    FUZZ_CHECK(left >= 0);
    FUZZ_CHECK(static_cast<size_t>(left) == text.size() - consumed);
    FUZZ_CHECK(source == text.data() + consumed);
    FUZZ_CHECK(count == refsBefore[consumed]);
    if (size > 0) {
      FUZZ_CHECK(std::memcmp(out, full.text.data(), before[consumed]) == 0);
      FUZZ_CHECK(out[before[consumed]] == '\0');
    }
    // A reference needs a spare byte besides its NUL, so the largest size always fits.
    if (size == full.text.size() + 2) FUZZ_CHECK(left == 0);
  }
  // The one-pass writer needs no room rule, only the growth bound.
  std::unique_ptr<char[]> dest(new char[owc::kMaxEscapeGrowth * text.size() + 1]);
  uint32_t count = 0;
  size_t written =
      owc::WriteEntityEscaped(dest.get(), text.data(), text.size(), escapeApos, &count);
  FUZZ_CHECK(std::string_view(dest.get(), written) == full.text);
  FUZZ_CHECK(count == full.refs);
}

// EntitiesConverted keeps its buffer between calls; one document serves every input.
void CheckDocumentConversion(owc::WCXMLDoc* doc, std::string_view text, bool escapeApos) {
  const owc_fuzz::EscapeResult full = owc_fuzz::ModelEscape(text, escapeApos);
  const char* out = nullptr;
  uint32_t outLen = 0;
  bool converted = doc->EntitiesConverted(text.data(), static_cast<uint32_t>(text.size()), &out,
                                          &outLen, escapeApos);
  FUZZ_CHECK(converted == (full.refs > 0));
  if (converted) {
    // The text is taken up to its first NUL.
    FUZZ_CHECK(std::string_view(out, outLen) == std::string_view(full.text.c_str()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  owc_fuzz::InstallLogSink();
  static owc::WCXMLDoc* doc = new owc::WCXMLDoc;  // lives for the whole run
  std::string_view text(reinterpret_cast<const char*>(data), size < kMaxInput ? size : kMaxInput);
  for (bool escapeApos : {false, true}) {
    CheckAllSizes(text, escapeApos);
    CheckDocumentConversion(doc, text, escapeApos);
  }
  return 0;
}
