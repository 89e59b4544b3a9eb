// SPDX-License-Identifier: MIT
// The translation of an inserted value's markup through the table, in one pass over the
// value: text is copied up to each "<", the tag's name hashed while it is read, looked up
// and written renamed. It reads tags exactly as ScanTag does.
#include <cstring>
#include <string>
#include <type_traits>

#include "doc/byte_buffer.h"
#include "template/attribute_filter.h"
#include "template/tag_name.h"
#include "template/tag_xlate.h"

namespace owc {

namespace {

// Writes straight into the caller's string: grown ahead of the bytes (by resize, so that
// every byte written lies inside the string) and cut back to what was written at the end.
// Each piece is then one copy instead of an append with its own checks.
class XlateSink {
 public:
  XlateSink(std::string* out, size_t expected) : mOut(out), mStart(out->size()) {
    out->resize(mStart + expected);
    mAt = out->data() + mStart;
    mEnd = out->data() + out->size();
  }
  void Put(const char* data, size_t len) {
    if (static_cast<size_t>(mEnd - mAt) < len) Grow(len);
    CopyBytes(mAt, data, len);
    mAt += len;
  }
  void Put(const std::string& text) { Put(text.data(), text.size()); }
  void Put(char c) {
    if (mAt == mEnd) Grow(1);
    *mAt++ = c;
  }
  // Cuts the string back to the bytes written; true when there are any.
  bool Finish() {
    const size_t used = static_cast<size_t>(mAt - mOut->data());
    mOut->resize(used);
    return used > mStart;
  }

 private:
  void Grow(size_t len) {
    const size_t used = static_cast<size_t>(mAt - mOut->data());
    const size_t size = mOut->size() * 2 > used + len ? mOut->size() * 2 : used + len;
    mOut->resize(size);
    mAt = mOut->data() + used;
    mEnd = mOut->data() + mOut->size();
  }

  std::string* mOut;
  size_t mStart;
  char* mAt = nullptr;
  char* mEnd = nullptr;
};

// Counts whether anything would be written, for TranslatesToText.
class XlateProbe {
 public:
  void Put(const char*, size_t len) { mWrote = mWrote || len != 0; }
  void Put(const std::string& text) { mWrote = mWrote || !text.empty(); }
  void Put(char) { mWrote = true; }
  bool Finish() const { return mWrote; }

 private:
  bool mWrote = false;
};

// A tag as the translation reads it: from its "<" to the ">" that ends it. The name ends at
// the first blank or at that ">"; the name is hashed while it is read, so that the
// table's look-up need not read it again.
struct RawTag {
  const char* lt = nullptr;
  const char* gt = nullptr;
  std::string_view name;
  std::string_view attrs;  // from the name's end up to the ">"
  bool isEnd = false;
  uint32_t hash = kFoldedHashStart;
};

// The next tag from `at`; false when the rest holds none, a "<" without its ">" being text.
inline bool ReadTag(const char* at, const char* end, RawTag& tag) {
  const char* lt = static_cast<const char*>(std::memchr(at, '<', static_cast<size_t>(end - at)));
  if (lt == nullptr) return false;
  const bool isEnd = lt + 1 < end && lt[1] == '/';
  const char* nameStart = isEnd ? lt + 2 : lt + 1;
  const char* nameEnd = nameStart;
  uint32_t hash = kFoldedHashStart;
  for (; nameEnd < end && !EndsName(*nameEnd); ++nameEnd) hash = FoldedHashStep(hash, *nameEnd);
  if (nameEnd == end) return false;
  const char* gt = *nameEnd == '>' ? nameEnd
                                   : static_cast<const char*>(std::memchr(
                                         nameEnd, '>', static_cast<size_t>(end - nameEnd)));
  if (gt == nullptr) return false;
  tag.lt = lt;
  tag.gt = gt;
  tag.name = std::string_view(nameStart, static_cast<size_t>(nameEnd - nameStart));
  tag.attrs = std::string_view(nameEnd, static_cast<size_t>(gt - nameEnd));
  tag.isEnd = isEnd;
  tag.hash = hash;
  return true;
}

// The entry's start tag, with the source's attributes where the entry keeps some.
template <class Sink>
void PutStartTag(Sink& sink, const WCHTMLTemplateXlate& entry, std::string_view attrs,
                 std::string& scratch) {
  const std::string& tag = entry.startTag;
  if (entry.dropAttributes != 0 || attrs.empty() || tag.empty()) {
    sink.Put(tag);
  } else if (entry.keepAttributes.empty()) {
    sink.Put(tag.data(), tag.size() - 1);  // up to its ">"
    sink.Put(' ');
    sink.Put(attrs.data(), attrs.size());
    sink.Put('>');
  } else {
    scratch.clear();
    AppendKeptAttributes(attrs, entry.keepAttributes, &scratch);
    sink.Put(tag.data(), tag.size() - 1);
    sink.Put(scratch);
    sink.Put('>');
  }
}

}  // namespace

void WCHTMLTemplateXlateMap::TranslateTags(std::string_view raw, std::string* out) {
  out->clear();
  TranslateTagsAppend(raw, out);
}

void WCHTMLTemplateXlateMap::TranslateTagsAppend(std::string_view raw, std::string* out) {
  if (raw.empty()) return;
  Translate<true>(raw, out);
}

bool WCHTMLTemplateXlateMap::TranslatesToText(std::string_view raw) {
  return !raw.empty() && Translate<false>(raw, nullptr);
}

// Without kWrite nothing is written, and the depths move exactly as when writing.
template <bool kWrite>
bool WCHTMLTemplateXlateMap::Translate(std::string_view raw, std::string* out) {
  using Sink = std::conditional_t<kWrite, XlateSink, XlateProbe>;
  // Translated markup is about as long as the source: one growth step for the usual case.
  Sink sink = [&] {
    if constexpr (kWrite) {
      return XlateSink(out, raw.size() + raw.size() / 8);
    } else {
      return XlateProbe();
    }
  }();
  const char* at = raw.data();
  const char* const end = at + raw.size();
  const bool hashed = !mIndex.empty();
  bool suppressing = false;
  std::string_view suppressed;
  RawTag tag;
  while (ReadTag(at, end, tag)) {
    if (!suppressing) sink.Put(at, static_cast<size_t>(tag.lt - at));
    at = tag.gt + 1;
    if (tag.name.empty()) return sink.Finish();
    WCHTMLTemplateXlate* entry = !hashed                         ? FindXlate(tag.name)
                                 : tag.name.size() > mLongestTag ? nullptr
                                                                 : FindHashed(tag.name, tag.hash);
    if (entry == nullptr) continue;
    if (suppressing) {
      if (tag.name != suppressed) continue;
      if (!tag.isEnd) {
        ++entry->depth;
        continue;
      }
      if (entry->depth > 0) --entry->depth;
      if (entry->depth > 0) continue;
      suppressing = false;
      sink.Put(entry->endTag);
    } else if (tag.isEnd) {
      if (entry->depth > 0) --entry->depth;
      sink.Put(entry->endTag);
    } else {
      ++entry->depth;
      if (entry->dropContent != 0) {
        suppressing = true;
        suppressed = tag.name;
      }
      PutStartTag(sink, *entry, tag.attrs, mKeptScratch);
    }
  }
  if (!suppressing) sink.Put(at, static_cast<size_t>(end - at));
  return sink.Finish();
}

}  // namespace owc
