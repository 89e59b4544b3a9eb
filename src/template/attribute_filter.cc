// SPDX-License-Identifier: MIT
#include "template/attribute_filter.h"

#include <cstdint>
#include <cstdlib>

namespace owc {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// The character a reference at value[*i] ("&#58;", "&#x3A;", "&colon;", ...) stands for,
// moving *i past it; 0 when there is no reference there. Only what can spell a scheme
// matters: ASCII results, and the named ones a browser knows for ':' and line breaks.
char DecodeReference(std::string_view value, size_t* i) {
  size_t at = *i + 1;
  if (at < value.size() && value[at] == '#') {
    ++at;
    const bool hex = at < value.size() && (value[at] == 'x' || value[at] == 'X');
    if (hex) ++at;
    uint32_t code = 0;
    size_t digits = 0;
    for (; at < value.size(); ++at, ++digits) {
      const char c = Lower(value[at]);
      const int digit = c >= '0' && c <= '9' ? c - '0'
                        : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : -1;
      if (digit < 0) break;
      if (code < 0x110000) code = code * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
    }
    if (digits == 0) return 0;
    if (at < value.size() && value[at] == ';') ++at;
    *i = at;
    return code > 0 && code < 0x80 ? static_cast<char>(code) : '?';
  }
  static const struct {
    const char* name;
    char c;
  } kNamed[] = {{"colon;", ':'}, {"tab;", '\t'}, {"newline;", '\n'}};
  for (const auto& named : kNamed) {
    const std::string_view name(named.name);
    if (EqualsNoCase(value.substr(at, name.size()), name)) {
      *i = at + name.size();
      return named.c;
    }
  }
  return 0;
}

bool IsKept(std::string_view name, const std::vector<std::string>& keep) {
  for (const std::string& kept : keep) {
    if (EqualsNoCase(name, kept)) return true;
  }
  return false;
}

// Whether the scheme read so far can still be, or already is, one of the refused ones.
enum class SchemeMatch { kNone, kOpen, kRefused };

SchemeMatch MatchRefusedScheme(const char* scheme, size_t length) {
  static const std::string_view kRefused[] = {"javascript:", "vbscript:", "data:"};
  SchemeMatch match = SchemeMatch::kNone;
  for (const std::string_view refused : kRefused) {
    const size_t n = length < refused.size() ? length : refused.size();
    size_t i = 0;
    while (i < n && scheme[i] == refused[i]) ++i;
    if (i < n) continue;
    if (length >= refused.size()) return SchemeMatch::kRefused;
    match = SchemeMatch::kOpen;
  }
  return match;
}

}  // namespace

bool IsScriptUrl(std::string_view value) {
  // The scheme as a browser sees it, folded to lower case, enough of it to compare, and
  // compared as it is read: the first letter rules most values out.
  char scheme[16];
  size_t length = 0;
  for (size_t i = 0; i < value.size() && length < sizeof scheme;) {
    char c = value[i];
    size_t next = i + 1;
    if (c == '&') {
      size_t at = i;
      const char decoded = DecodeReference(value, &at);
      if (decoded != 0) {
        c = decoded;
        next = at;
      }
    }
    i = next;
    if (c == '\t' || c == '\n' || c == '\r') continue;
    if (length == 0 && static_cast<unsigned char>(c) <= ' ') continue;
    scheme[length++] = Lower(c);
    // Each refused scheme ends at its only ":", so a ":" always decides.
    const SchemeMatch match = MatchRefusedScheme(scheme, length);
    if (match != SchemeMatch::kOpen) return match == SchemeMatch::kRefused;
  }
  return false;  // the value ended inside a refused scheme's name
}

void AppendKeptAttributes(std::string_view attrs, const std::vector<std::string>& keep,
                          std::string* out) {
  size_t i = 0;
  while (i < attrs.size()) {
    while (i < attrs.size() && (IsBlank(attrs[i]) || attrs[i] == '/')) ++i;
    const size_t start = i;
    while (i < attrs.size() && !IsBlank(attrs[i]) && attrs[i] != '=' && attrs[i] != '>' &&
           attrs[i] != '/') {
      ++i;
    }
    const std::string_view name = attrs.substr(start, i - start);
    size_t j = i;
    while (j < attrs.size() && IsBlank(attrs[j])) ++j;
    std::string_view value;
    if (j < attrs.size() && attrs[j] == '=') {
      ++j;
      while (j < attrs.size() && IsBlank(attrs[j])) ++j;
      size_t valueStart = j;
      if (j < attrs.size() && (attrs[j] == '"' || attrs[j] == '\'')) {
        const size_t close = attrs.find(attrs[j], j + 1);
        valueStart = j + 1;
        j = close == std::string_view::npos ? attrs.size() : close;
        value = attrs.substr(valueStart, j - valueStart);
        if (j < attrs.size()) ++j;
      } else {
        while (j < attrs.size() && !IsBlank(attrs[j])) ++j;
        value = attrs.substr(valueStart, j - valueStart);
      }
      i = j;
    }
    if (name.empty()) {
      if (i == start) ++i;  // a stray "=" or ">": step over it
      continue;
    }
    if (IsKept(name, keep) && !IsScriptUrl(value)) {
      out->push_back(' ');
      out->append(attrs.data() + start, i - start);
    }
  }
}

}  // namespace owc
