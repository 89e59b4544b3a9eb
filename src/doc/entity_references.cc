// SPDX-License-Identifier: MIT
#include "doc/entity_references.h"

#include <cstdint>
#include <cstring>

#include "doc/byte_buffer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace owc {

namespace {

struct EntityRef {
  const char* text;
  uint32_t len;
};

// Tried in this order when an "&" is met.
constexpr EntityRef kKnownRefs[] = {
    {"&amp;", 5}, {"&quot;", 6}, {"&apos;", 6}, {"&lt;", 4}, {"&gt;", 4}};

bool StartsWithKnownRef(const char* at, uint32_t remaining) {
  for (const EntityRef& ref : kKnownRefs) {
    if (remaining >= ref.len && std::memcmp(at, ref.text, ref.len) == 0) return true;
  }
  return false;
}

// The reference that replaces the byte at `at`, or null when it is written as itself.
const EntityRef* ReplacementFor(const char* at, uint32_t remaining, bool escapeApos) {
  static constexpr EntityRef kQuot{"&quot;", 6};
  static constexpr EntityRef kAmp{"&amp;", 5};
  static constexpr EntityRef kApos{"&apos;", 6};
  static constexpr EntityRef kLt{"&lt;", 4};
  static constexpr EntityRef kGt{"&gt;", 4};
  switch (*at) {
    case '"':
      return &kQuot;
    case '&':
      return StartsWithKnownRef(at, remaining) ? nullptr : &kAmp;
    case '\'':
      return escapeApos ? &kApos : nullptr;
    case '<':
      return &kLt;
    case '>':
      return &kGt;
    default:
      return nullptr;
  }
}

#if !defined(__SSE2__)
struct SpecialTable {
  bool special[256] = {};
  constexpr SpecialTable() {
    special[static_cast<unsigned char>('"')] = true;
    special[static_cast<unsigned char>('&')] = true;
    special[static_cast<unsigned char>('\'')] = true;
    special[static_cast<unsigned char>('<')] = true;
    special[static_cast<unsigned char>('>')] = true;
  }
};
constexpr SpecialTable kSpecial;

bool IsSpecial(char c) { return kSpecial.special[static_cast<unsigned char>(c)]; }
#endif

#if defined(__SSE2__)
// Bit i set when data[i] is one of the five special bytes.
inline unsigned SpecialMask(__m128i v) {
  const __m128i hit = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('&'))),
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\'')),
                   _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')),
                                _mm_cmpeq_epi8(v, _mm_set1_epi8('>')))));
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
}
#endif

#if defined(__SSE2__)
// PlainRun for fewer than 16 bytes (most of what the parser reports). Two overlapping loads
// from the source cover the piece; the first one's bytes are checked first, so a special
// byte in the overlap is found at its first position. The loads are scalar and read the
// source itself: a vector load of a copy just written in pieces waits for those stores.
size_t ShortPlainRun(const char* data, size_t len) {
  if (len < 4) {
    size_t i = 0;
    while (i < len && data[i] != '"' && data[i] != '&' && data[i] != '\'' && data[i] != '<' &&
           data[i] != '>') {
      ++i;
    }
    return i;
  }
  // Fixed-size loads, so that both stay in registers.
  size_t half = 8;
  uint64_t head;
  uint64_t tail;
  if (len >= 8) {
    std::memcpy(&head, data, 8);
    std::memcpy(&tail, data + len - 8, 8);
  } else {
    uint32_t head4;
    uint32_t tail4;
    std::memcpy(&head4, data, 4);
    std::memcpy(&tail4, data + len - 4, 4);
    head = head4;
    tail = tail4;
    half = 4;
  }
  const unsigned mask =
      SpecialMask(_mm_set_epi64x(static_cast<long long>(tail), static_cast<long long>(head)));
  const unsigned inHead = mask & 0xffu;
  if (inHead != 0) return static_cast<size_t>(__builtin_ctz(inHead));
  const unsigned inTail = mask >> 8;
  return inTail != 0 ? len - half + static_cast<size_t>(__builtin_ctz(inTail)) : len;
}
#endif

// The length of the leading run of bytes that are never escaped (the apostrophe
// counts as special; the caller decides about it). Reads only data[0, len).
size_t PlainRun(const char* data, size_t len) {
#if defined(__SSE2__)
  if (len < 16) return ShortPlainRun(data, len);
  size_t i = 0;
  for (; i + 16 <= len; i += 16) {
    const unsigned mask = SpecialMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
  }
  if (i == len) return len;
  // The last bytes through one load that ends at len; the bytes already checked are
  // shifted out of the mask.
  const size_t checked = i - (len - 16);
  const unsigned mask =
      SpecialMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + len - 16))) >> checked;
  return mask != 0 ? i + static_cast<size_t>(__builtin_ctz(mask)) : len;
#else
  size_t i = 0;
  while (i < len && !IsSpecial(data[i])) ++i;
  return i;
#endif
}

int32_t Leftover(uint32_t left) {
  return left > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(left);
}

}  // namespace

int32_t FixEntityReferences(const char** source, uint32_t sourceLen, char* dest, uint32_t destSize,
                            uint32_t* count, bool escapeApos) {
  const char* in = *source;
  uint32_t written = 0;
  uint32_t refs = 0;
  uint32_t i = 0;
  int32_t result = 0;
  while (i < sourceLen) {
    // Plain bytes are copied as one run: each needs room for itself and the NUL.
    uint32_t run = static_cast<uint32_t>(PlainRun(in + i, sourceLen - i));
    uint32_t room = destSize - written >= 2 ? destSize - written - 1 : 0;
    uint32_t take = run < room ? run : room;
    if (take > 0) std::memcpy(dest + written, in + i, take);
    written += take;
    i += take;
    if (take < run) {
      result = Leftover(sourceLen - i);
      break;
    }
    if (i == sourceLen) break;
    const EntityRef* ref = ReplacementFor(in + i, sourceLen - i, escapeApos);
    uint32_t need = ref != nullptr ? ref->len + 2 : 2;
    if (destSize - written < need) {
      result = Leftover(sourceLen - i);
      break;
    }
    if (ref != nullptr) {
      std::memcpy(dest + written, ref->text, ref->len);
      written += ref->len;
      ++refs;
    } else {
      dest[written++] = in[i];
    }
    ++i;
  }
  if (written < destSize) dest[written] = '\0';
  *source = in + i;
  if (count != nullptr) *count = refs;
  return result;
}

size_t WriteEntityEscaped(char* dest, const char* data, size_t len, bool escapeApos,
                          uint32_t* count) {
  uint32_t refs = 0;
  char* out = dest;
  size_t i = 0;
  while (i < len) {
    size_t run = PlainRun(data + i, len - i);
    CopyBytes(out, data + i, run);
    out += run;
    i += run;
    if (i == len) break;
    // A reference is at most 6 bytes long: that much of the rest is enough to look at.
    const uint32_t rest = len - i < 8 ? static_cast<uint32_t>(len - i) : 8;
    const EntityRef* ref = ReplacementFor(data + i, rest, escapeApos);
    if (ref != nullptr) {
      CopyBytes(out, ref->text, ref->len);
      out += ref->len;
      ++refs;
    } else {
      *out++ = data[i];
    }
    ++i;
  }
  if (count != nullptr) *count = refs;
  return static_cast<size_t>(out - dest);
}

}  // namespace owc
