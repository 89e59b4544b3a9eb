// SPDX-License-Identifier: MIT
#include "doc/declared_encoding.h"

#include <cstdint>
#include <cstring>

namespace owc {

namespace {

// A declaration longer than this is not looked at: the name is near the start.
constexpr size_t kMaxDeclaration = 1024;

// windows-1252 from 0x80 to 0x9F; 0 stands for "the C1 control of the same value".
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

const char* const kLatin1Names[] = {"iso-8859-1", "iso_8859-1", "iso8859-1",  "iso_8859-1:1987",
                                    "latin1",     "latin-1",    "l1",         "ibm819",
                                    "cp819",      "csisolatin1", "iso-ir-100"};
const char* const kWindows1252Names[] = {"windows-1252", "cp1252", "x-cp1252"};
const char* const kAsciiNames[] = {"us-ascii", "ascii", "ansi_x3.4-1968", "iso646-us",
                                   "us",       "csascii", "iso-ir-6"};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Lower(const std::string& text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

template <size_t N>
bool IsOneOf(const std::string& name, const char* const (&names)[N]) {
  for (const char* candidate : names) {
    if (name == candidate) return true;
  }
  return false;
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t more;
    uint32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
      min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
      min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
      min = 0x10000;
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) <= more) return false;
    uint32_t cp = c & (0x3F >> more);
    for (size_t i = 1; i <= more; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    p += more + 1;
  }
  return true;
}

std::string DeclaredEncoding(std::string_view bytes) {
  if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0) {
    bytes.remove_prefix(3);
  }
  if (bytes.size() < 6 || bytes.compare(0, 5, "<?xml") != 0 || !IsSpace(bytes[5])) return "";
  const size_t close = bytes.substr(0, kMaxDeclaration).find("?>");
  if (close == std::string_view::npos) return "";
  const std::string_view decl = bytes.substr(0, close);
  size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return "";
  at += 8;
  while (at < decl.size() && IsSpace(decl[at])) ++at;
  if (at >= decl.size() || decl[at] != '=') return "";
  ++at;
  while (at < decl.size() && IsSpace(decl[at])) ++at;
  if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\'')) return "";
  const size_t end = decl.find(decl[at], at + 1);
  if (end == std::string_view::npos) return "";
  return std::string(decl.substr(at + 1, end - at - 1));
}

SingleByteEncoding ClassifyEncoding(const std::string& name) {
  const std::string lower = Lower(name);
  if (IsOneOf(lower, kLatin1Names)) return SingleByteEncoding::kLatin1;
  if (IsOneOf(lower, kWindows1252Names) || IsOneOf(lower, kAsciiNames)) {
    return SingleByteEncoding::kWindows1252;
  }
  return SingleByteEncoding::kNone;
}

void TranscodeToUtf8(std::string_view bytes, SingleByteEncoding encoding, std::string* out) {
  out->reserve(out->size() + bytes.size() + bytes.size() / 2);
  for (char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    uint32_t cp = c;
    if (encoding == SingleByteEncoding::kWindows1252 && c >= 0x80 && c <= 0x9F &&
        kWindows1252High[c - 0x80] != 0) {
      cp = kWindows1252High[c - 0x80];
    }
    AppendUtf8(cp, out);
  }
}

}  // namespace owc
