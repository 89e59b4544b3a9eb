// SPDX-License-Identifier: MIT
#include "doc/xml_doc.h"

#include <cstdio>
#include <cstring>

#include "doc/doc_settings.h"
#include "doc/entity_references.h"
#include "doc/story_paths.h"
#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

const char kXMLUnknown[] = "XML Unknown";
const char kRDFUnknown[] = "RDF Unknown";

// Reads the whole file; false if it cannot be opened or read.
bool InitFromFile(const char* fileName, std::string* out) {
  std::FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) return false;
  // Memory running out while reading is a failed read.
  bool ok = TryAllocate(0, [&] {
    // The size is only a hint (a folder or a pipe reports nonsense): reading goes on
    // to the end of the file either way.
    if (std::fseek(file, 0, SEEK_END) == 0) {
      long size = std::ftell(file);
      if (size > 0 && static_cast<unsigned long>(size) < (1ul << 31)) {
        out->reserve(static_cast<size_t>(size));
      }
      std::rewind(file);
    }
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) out->append(chunk, got);
  });
  ok = ok && std::ferror(file) == 0;
  std::fclose(file);
  if (!ok) out->clear();
  return ok;
}

bool LoadDocument(bool isFile, const char* data, uint32_t len, std::string* out) {
  if (data == nullptr) return true;
  if (isFile) return InitFromFile(data, out);
  out->assign(data, len);
  return true;
}

}  // namespace

WCXMLDoc::WCXMLDoc() : mXMLName(kXMLUnknown), mRDFName(kRDFUnknown) {}

WCXMLDoc::~WCXMLDoc() = default;

bool WCXMLDoc::Init(bool xmlIsFile, const char* xml, uint32_t xmlLen, const char* xmlName,
                    bool rdfIsFile, const char* rdf, uint32_t rdfLen, const char* rdfName) {
  mXMLBytes.clear();
  mRDFBytes.clear();
  mXMLName = xmlName != nullptr ? xmlName : kXMLUnknown;
  mRDFName = rdfName != nullptr ? rdfName : kRDFUnknown;
  mCurrentName.clear();
  mPathText.clear();
  ResetParseState(nullptr);
  mPropertyMap.clear();
  bool result = LoadDocument(xmlIsFile, xml, xmlLen, &mXMLBytes);
  if (!result) {
    TraceLogF(kLevelFailure, "WCXMLDoc::Init InitFromFile failed for XML document [%s]",
              mXMLName.c_str());
  }
  if (!LoadDocument(rdfIsFile, rdf, rdfLen, &mRDFBytes)) {
    TraceLogF(kLevelFailure, "WCXMLDoc::Init InitFromFile failed for RDF document [%s]",
              mRDFName.c_str());
    return false;
  }
  return result;
}

const WCXMLDocTagFrame* WCXMLDoc::FindCapture(const char* ns, std::string_view prop) const {
  std::string_view key = prop;
  if (ns != nullptr && *ns != '\0') {
    BuildNamespacedKey(ns, prop, &mKeyScratch);
    key = mKeyScratch;
  }
  auto it = mPropertyMap.find(key);
  return it == mPropertyMap.end() ? nullptr : it->second.get();
}

bool WCXMLDoc::GetProperty(const char* ns, const char* prop, bool valueOnly, std::string* out,
                           bool terminator) const {
  if (prop == nullptr) {
    TraceLog(kLevelFailure, "WCXMLDoc::GetProperty prop is NULL on entry");
    return false;
  }
  ReadCapture(FindCapture(ns, prop), valueOnly, out, terminator);
  return true;
}

void WCXMLDoc::ReadCapture(const WCXMLDocTagFrame* frame, bool valueOnly, std::string* out,
                           bool terminator) {
  out->clear();
  if (frame != nullptr) {
    if (valueOnly) {
      out->reserve(frame->GetContent().size() + 1);
      out->append(frame->GetContent().data(), frame->GetContent().size());
    } else {
      frame->AppendElement(out);
    }
  }
  if (terminator) out->push_back('\0');
}

bool WCXMLDoc::GetPropertyAttribute(const char* ns, const char* prop, const char* attr,
                                    std::string* out, bool terminator) const {
  if (prop == nullptr || attr == nullptr) {
    TraceLog(kLevelFailure, "WCXMLDoc::GetPropertyAttribute prop or attr is NULL on entry");
    return false;
  }
  ReadAttribute(FindCapture(ns, prop), attr, out, terminator);
  return true;
}

void WCXMLDoc::ReadAttribute(const WCXMLDocTagFrame* frame, const char* attr, std::string* out,
                             bool terminator) {
  out->clear();
  if (frame != nullptr) {
    if (const char* value = frame->FindAttribute(attr)) out->append(value);
  }
  if (terminator) out->push_back('\0');
}

std::string_view WCXMLDoc::ViewField(const char* format, int32_t index) const {
  const StoryPathText path(format, GetLevelSeparator(), index);
  const WCXMLDocTagFrame* frame = FindCapture(nullptr, path.View());
  return frame != nullptr ? frame->GetContent() : std::string_view();
}

std::string_view WCXMLDoc::ViewSeriesAttribute(const char* attr) const {
  const StoryPathText path(kSeriesPathFormat, GetLevelSeparator(), 0);
  const WCXMLDocTagFrame* frame = FindCapture(nullptr, path.View());
  const char* value = frame != nullptr ? frame->FindAttribute(attr) : nullptr;
  return value != nullptr ? std::string_view(value) : std::string_view();
}

// The standard fields: their paths are formatted on the stack, never allocated.
bool WCXMLDoc::GetField(const char* format, int32_t index, std::string* out,
                        bool terminator) const {
  const StoryPathText path(format, GetLevelSeparator(), index);
  ReadCapture(FindCapture(nullptr, path.View()), true, out, terminator);
  return true;
}

bool WCXMLDoc::GetSeriesAttribute(const char* attr, std::string* out, bool terminator) const {
  const StoryPathText path(kSeriesPathFormat, GetLevelSeparator(), 0);
  ReadAttribute(FindCapture(nullptr, path.View()), attr, out, terminator);
  return true;
}

bool WCXMLDoc::GetHeadline(std::string* out, bool terminator) const {
  return GetField(kHeadlinePathFormat, 0, out, terminator);
}

bool WCXMLDoc::GetSubheadline(int32_t index, std::string* out, bool terminator) const {
  return GetField(kSubheadlinePathFormat, index, out, terminator);
}

bool WCXMLDoc::GetByline(int32_t index, std::string* out, bool terminator) const {
  return GetField(kBylinePathFormat, index, out, terminator);
}

bool WCXMLDoc::GetDistributor(std::string* out, bool terminator) const {
  return GetField(kDistributorPathFormat, 0, out, terminator);
}

bool WCXMLDoc::GetDateline(std::string* out, bool terminator) const {
  return GetField(kDatelinePathFormat, 0, out, terminator);
}

bool WCXMLDoc::GetBody(std::string* out, bool terminator) const {
  return GetField(kBodyPathFormat, 0, out, terminator);
}

bool WCXMLDoc::GetSeriesName(std::string* out, bool terminator) const {
  return GetSeriesAttribute(kSeriesNameAttr, out, terminator);
}

bool WCXMLDoc::GetSeriesPart(std::string* out, bool terminator) const {
  return GetSeriesAttribute(kSeriesPartAttr, out, terminator);
}

bool WCXMLDoc::GetSeriesTotalPart(std::string* out, bool terminator) const {
  return GetSeriesAttribute(kSeriesTotalPartAttr, out, terminator);
}

bool WCXMLDoc::EntitiesConverted(const char* data, uint32_t len, const char** out, uint32_t* outLen,
                                 bool escapeApos) {
  if (data == nullptr || len == 0) return false;
  uint64_t requested = 2 * static_cast<uint64_t>(len);
  for (;;) {
    if (requested >= mConvCap) {
      mConvBuf.reset();
      mConvCap = 0;
      uint64_t size = requested + 16;
      if (size <= UINT32_MAX) mConvBuf.reset(NewArrayOrNull<char>(size));
      if (mConvBuf == nullptr) {
        TraceLogF(kLevelFailure, "WCXMLDoc::EntitiesConverted unable to allocate memory size %ld",
                  static_cast<long>(size));
        return false;
      }
      mConvCap = static_cast<uint32_t>(size);
    }
    const char* source = data;
    uint32_t count = 0;
    int32_t left = FixEntityReferences(&source, len, mConvBuf.get(), mConvCap, &count, escapeApos);
    if (left > 0) {
      requested *= 2;
      continue;
    }
    if (left < 0) {
      TraceLogF(kLevelFailure,
                "WCXMLDoc::EntitiesConverted FixEntityReferences returned unknown value %ld",
                static_cast<long>(left));
      return false;
    }
    if (count == 0) return false;
    *out = mConvBuf.get();
    *outLen = static_cast<uint32_t>(std::strlen(mConvBuf.get()));
    return true;
  }
}

}  // namespace owc
