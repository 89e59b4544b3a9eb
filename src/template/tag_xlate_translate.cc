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
  for (;;) {
    const char* lt = static_cast<const char*>(std::memchr(at, '<', static_cast<size_t>(end - at)));
    // The name is read and hashed on the way to the ">" that ends the tag: it ends at the
    // first blank or at that ">", and a tag without one is text.
    const char* gt = nullptr;
    bool isEnd = false;
    const char* nameStart = nullptr;
    const char* nameEnd = nullptr;
    uint32_t hash = kFoldedHashStart;
    if (lt != nullptr) {
      isEnd = lt + 1 < end && lt[1] == '/';
      nameStart = isEnd ? lt + 2 : lt + 1;
      for (nameEnd = nameStart; nameEnd < end && !EndsName(*nameEnd); ++nameEnd) {
        hash = FoldedHashStep(hash, *nameEnd);
      }
      if (nameEnd < end) {
        gt = *nameEnd == '>' ? nameEnd
                             : static_cast<const char*>(
                                   std::memchr(nameEnd, '>', static_cast<size_t>(end - nameEnd)));
      }
    }
    if (gt == nullptr) {
      if (!suppressing) sink.Put(at, static_cast<size_t>(end - at));
      break;
    }
    if (!suppressing) sink.Put(at, static_cast<size_t>(lt - at));
    const std::string_view name(nameStart, static_cast<size_t>(nameEnd - nameStart));
    const std::string_view attrs(nameEnd, static_cast<size_t>(gt - nameEnd));
    at = gt + 1;
    if (name.empty()) break;
    WCHTMLTemplateXlate* entry = !hashed                     ? FindXlate(name)
                                 : name.size() > mLongestTag ? nullptr
                                                             : FindHashed(name, hash);
    if (entry == nullptr) continue;
    if (suppressing) {
      if (name != suppressed) continue;
      if (!isEnd) {
        ++entry->depth;
        continue;
      }
      if (entry->depth > 0) --entry->depth;
      if (entry->depth > 0) continue;
      suppressing = false;
      sink.Put(entry->endTag);
    } else if (isEnd) {
      if (entry->depth > 0) --entry->depth;
      sink.Put(entry->endTag);
    } else {
      ++entry->depth;
      if (entry->dropContent != 0) {
        suppressing = true;
        suppressed = name;
      }
      const std::string& tag = entry->startTag;
      if (entry->dropAttributes != 0 || attrs.empty() || tag.empty()) {
        sink.Put(tag);
      } else if (entry->keepAttributes.empty()) {
        sink.Put(tag.data(), tag.size() - 1);  // up to its ">"
        sink.Put(' ');
        sink.Put(attrs.data(), attrs.size());
        sink.Put('>');
      } else {
        mKeptScratch.clear();
        AppendKeptAttributes(attrs, entry->keepAttributes, &mKeptScratch);
        sink.Put(tag.data(), tag.size() - 1);
        sink.Put(mKeptScratch);
        sink.Put('>');
      }
    }
  }
  return sink.Finish();
}

}  // namespace owc
