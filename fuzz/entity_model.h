// SPDX-License-Identifier: MIT
// A plain byte-at-a-time statement of the entity escaping, as the oracle of the
// optimised routines in src/doc/entity_references.cc and of every text a story document
// captures.
#ifndef OWCLIENT_FUZZ_ENTITY_MODEL_H
#define OWCLIENT_FUZZ_ENTITY_MODEL_H

#include <cstring>
#include <string>
#include <string_view>

namespace owc_fuzz {

// What the byte at text[i] becomes: a reference, or the byte itself (empty result).
inline std::string_view EscapeOf(std::string_view text, size_t i, bool escapeApos) {
  static const char* const kKnown[] = {"&amp;", "&quot;", "&apos;", "&lt;", "&gt;"};
  switch (text[i]) {
    case '"':
      return "&quot;";
    case '&':
      for (const char* ref : kKnown) {
        if (text.substr(i, std::strlen(ref)) == ref) return std::string_view();
      }
      return "&amp;";
    case '\'':
      return escapeApos ? "&apos;" : std::string_view();
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    default:
      return std::string_view();
  }
}

struct EscapeResult {
  std::string text;   // without a NUL
  unsigned refs = 0;  // references written
};

// The whole conversion of text.
inline EscapeResult ModelEscape(std::string_view text, bool escapeApos) {
  EscapeResult r;
  for (size_t i = 0; i < text.size(); ++i) {
    std::string_view ref = EscapeOf(text, i, escapeApos);
    if (ref.empty()) {
      r.text.push_back(text[i]);
    } else {
      r.text.append(ref);
      ++r.refs;
    }
  }
  return r;
}

}  // namespace owc_fuzz

#endif  // OWCLIENT_FUZZ_ENTITY_MODEL_H
