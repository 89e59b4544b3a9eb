// SPDX-License-Identifier: MIT
#include "doc/search_level.h"

#include <cstring>

#include "doc/doc_settings.h"
#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

unsigned char FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Names in one level often share a long namespace URI and differ at the end: walking
// from the last byte rejects most of them within a few bytes, and bytes that agree are
// not folded.
bool EqualsNoCase(const std::string& tag, const char* name, size_t nameLen) {
  if (tag.size() != nameLen) return false;
  for (size_t i = nameLen; i-- > 0;) {
    const unsigned char a = static_cast<unsigned char>(tag[i]);
    const unsigned char b = static_cast<unsigned char>(name[i]);
    if (a != b && FoldAscii(a) != FoldAscii(b)) return false;
  }
  return true;
}

bool IndexMatches(int32_t wanted, int32_t index) { return wanted == -1 || wanted == index; }

}  // namespace

WCXMLSearchLevel::~WCXMLSearchLevel() { DeleteAll(); }

void WCXMLSearchLevel::DeleteAll() {
  Position pos = GetHeadPosition();
  while (pos != nullptr) delete GetNext(pos);
  RemoveAll();
}

XMLSearchNode* WCXMLSearchLevel::FindNode(const char* name, size_t nameLen) const {
  Position pos = GetHeadPosition();
  while (pos != nullptr) {
    XMLSearchNode* node = GetNext(pos);
    if (EqualsNoCase(node->GetSearchTag(), name, nameLen)) return node;
  }
  return nullptr;
}

XMLSearchNode* WCXMLSearchLevel::FindNode(const char* name) const {
  return name == nullptr ? nullptr : FindNode(name, std::strlen(name));
}

bool WCXMLSearchLevel::AddNode(XMLSearchNode* node) {
  const std::string& tag = node->GetSearchTag();
  if (FindNode(tag.data(), tag.size()) != nullptr) {
    delete node;
    return true;
  }
  if (AddTail(node) == nullptr) {
    delete node;
    return false;
  }
  return true;
}

bool WCXMLSearchLevel::LogSegmentError(SegmentError error, const char* rest,
                                       const char* path) const {
  switch (error) {
    case SegmentError::kNone:
      return true;
    case SegmentError::kNoSeparator:
      TraceLogF(kLevelFailure, "WCXMLSearchLevel::InsertProperty beginning '\\' not found, %s",
                rest);
      break;
    case SegmentError::kNoEnd:
      TraceLogF(kLevelFailure, "WCXMLSearchLevel::InsertProperty malformed input no end %c, %s",
                ')', path);
      break;
    case SegmentError::kNoBeginning:
      TraceLogF(kLevelFailure,
                "WCXMLSearchLevel::InsertProperty malformed input no beginning %c, %s", '(', path);
      break;
    case SegmentError::kBadIndex:
      // Indices below -1 are outside the syntax: rejected like any other error.
      TraceLogF(kLevelFailure, "WCXMLSearchLevel::InsertProperty malformed input bad index, %s",
                path);
      break;
  }
  return false;
}

bool WCXMLSearchLevel::InsertProperty(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  const char separator = GetLevelSeparator();
  XMLSearchNode* parent = nullptr;
  int32_t parentIndex = 0;
  int32_t segmentCount = 0;
  for (const char* rest = path; *rest != '\0';) {
    PathSegment seg;
    SegmentError error = ParsePathSegment(rest, separator, &seg);
    if (error != SegmentError::kNone) return LogSegmentError(error, rest, path);
    ++segmentCount;
    WCXMLSearchLevel* level = this;
    if (parent != nullptr) {
      level = parentIndex == -1 ? parent->EnsureWildLevel() : parent->EnsureFixedLevel(parentIndex);
      if (level == nullptr) {
        TraceLogF(kLevelFailure, "WCXMLSearchLevel::InsertProperty ThisLevel not found for %s",
                  parent->GetSearchTag().c_str());
        return false;
      }
    }
    XMLSearchNode* node = level->FindNode(seg.name, seg.nameLen);
    if (node == nullptr) {
      node = NewOrNull<XMLSearchNode>(seg.name, seg.nameLen, seg.index, seg.last, segmentCount);
      if (node == nullptr || !level->AddNode(node)) {
        TraceLogF(kLevelFailure, "WCXMLSearchLevel::InsertProperty new XMLSearchNode failed, %s",
                  path);
        return false;
      }
    } else {
      if (seg.last) node->SetMidLeaf(seg.index);
      // A later wild insertion widens an earlier fixed leaf.
      if (node->IsLeaf() && node->GetIndex() != -1 && seg.index == -1) node->SetIndex(-1);
    }
    parent = node;
    parentIndex = seg.index;
    rest = seg.next;
  }
  return true;
}

bool WCXMLSearchLevel::MatchStep(const char* name, size_t nameLen, int32_t index,
                                 const WCXMLSearchLevel** childLevel) const {
  *childLevel = nullptr;
  const XMLSearchNode* node = FindNode(name, nameLen);
  if (node == nullptr) return false;
  if (node->IsLeaf()) return IndexMatches(node->GetIndex(), index);
  // Intermediate steps are followed through fixed indices only: a wild index on an
  // inner segment is stored but never leads anywhere.
  *childLevel = node->GetFixedLevel(index);
  return node->IsMidLeaf() && IndexMatches(node->GetMidIndex(), index);
}

bool WCXMLSearchLevel::MatchParsePath(const WCXMLParsePath& path) const {
  const WCXMLSearchLevel* level = this;
  WCXMLParsePath::Position pos = path.GetHeadPosition();
  while (pos != nullptr && level != nullptr) {
    const XMLPropNode* step = path.GetNext(pos);
    const WCXMLSearchLevel* child = nullptr;
    bool matches =
        level->MatchStep(step->GetName().data(), step->GetName().size(), step->GetIndex(), &child);
    if (pos == nullptr) return matches;
    level = child;
  }
  return false;
}

WCXMLParsePath* WCXMLSearchLevel::CreateParsePath(const char* path) const {
  if (path == nullptr || *path == '\0') return nullptr;
  WCXMLParsePath* result = NewOrNull<WCXMLParsePath>();
  if (result == nullptr) return nullptr;
  const char separator = GetLevelSeparator();
  for (const char* rest = path; *rest != '\0';) {
    PathSegment seg;
    SegmentError error = ParsePathSegment(rest, separator, &seg);
    if (error == SegmentError::kNoSeparator) {
      TraceLogF(kLevelFailure, "WCXMLSearchLevel::CreateParsePath beginning '\\' not found, %s",
                rest);
      break;
    }
    if (error == SegmentError::kNoEnd || error == SegmentError::kNoBeginning) {
      bool noEnd = error == SegmentError::kNoEnd;
      TraceLogF(kLevelFailure, "WCXMLSearchLevel::CreateParsePath malformed input no %s %c, %s",
                noEnd ? "end" : "beginning", noEnd ? ')' : '(', path);
      break;
    }
    // An index below -1 is kept: a concrete path with it simply never matches.
    XMLPropNode* node = NewOrNull<XMLPropNode>();
    if (node == nullptr ||
        !TryAllocate(seg.nameLen, [&] { node->SetName(seg.name, seg.nameLen); })) {
      delete node;
      break;
    }
    node->SetIndex(seg.index);
    if (result->AddTail(node) == nullptr) {
      delete node;
      break;
    }
    rest = seg.next;
  }
  return result;
}

}  // namespace owc
