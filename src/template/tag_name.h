// SPDX-License-Identifier: MIT
// How the translation reads a tag's name and folds it for the table's index: shared by
// the scan and the index so that a name hashed while it is read finds its entry.
#ifndef OWCLIENT_TEMPLATE_TAG_NAME_H
#define OWCLIENT_TEMPLATE_TAG_NAME_H

#include <cstdint>
#include <string>
#include <string_view>

namespace owc {

inline unsigned char FoldAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// Table tags compare without regard to ASCII case. Stories and tables mostly agree on the
// case: folding only where the bytes differ.
inline bool SameTagName(const std::string& a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldAscii(static_cast<unsigned char>(a[i])) !=
                            FoldAscii(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// FNV-1a over the name folded to lower case, one byte at a time.
constexpr uint32_t kFoldedHashStart = 2166136261u;
inline uint32_t FoldedHashStep(uint32_t hash, char c) {
  return (hash ^ FoldAscii(static_cast<unsigned char>(c))) * 16777619u;
}

// A tag's name ends at a blank or at the ">" that ends the tag.
inline bool EndsName(char c) { return c == ' ' || c == '>' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace owc

#endif  // OWCLIENT_TEMPLATE_TAG_NAME_H
