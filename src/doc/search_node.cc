// SPDX-License-Identifier: MIT
#include "doc/search_node.h"

#include "doc/search_level.h"
#include "runtime/alloc_hook.h"

namespace owc {

XMLSearchNode::XMLSearchNode(const char* tag, size_t tagLen, int32_t index, bool isLeaf,
                             int32_t nodeLevel)
    : mSearchTag(tag, tagLen), mIndex(index), mIsLeaf(isLeaf ? 1 : 0), mNodeLevel(nodeLevel) {}

XMLSearchNode::~XMLSearchNode() = default;

WCXMLSearchLevel* XMLSearchNode::GetFixedLevel(int32_t index) const {
  for (const auto& entry : mFixedLevels) {
    if (entry.first == index) return entry.second.get();
    if (entry.first > index) break;
  }
  return nullptr;
}

WCXMLSearchLevel* XMLSearchNode::EnsureFixedLevel(int32_t index) {
  auto it = mFixedLevels.begin();
  while (it != mFixedLevels.end() && it->first < index) ++it;
  if (it != mFixedLevels.end() && it->first == index) return it->second.get();
  std::unique_ptr<WCXMLSearchLevel> level(NewOrNull<WCXMLSearchLevel>());
  if (level == nullptr) return nullptr;
  WCXMLSearchLevel* raw = level.get();
  const bool stored = TryAllocate(sizeof(FixedLevels::value_type),
                                  [&] { mFixedLevels.emplace(it, index, std::move(level)); });
  return stored ? raw : nullptr;
}

WCXMLSearchLevel* XMLSearchNode::EnsureWildLevel() {
  if (mWildLevel == nullptr) mWildLevel.reset(NewOrNull<WCXMLSearchLevel>());
  return mWildLevel.get();
}

bool XMLSearchNode::InsertIntoFixedLevel(XMLSearchNode* node, int32_t index) {
  WCXMLSearchLevel* level = EnsureFixedLevel(index);
  if (level == nullptr) {
    delete node;
    return false;
  }
  return level->AddNode(node);
}

bool XMLSearchNode::InsertIntoWildLevel(XMLSearchNode* node) {
  WCXMLSearchLevel* level = EnsureWildLevel();
  if (level == nullptr) {
    delete node;
    return false;
  }
  return level->AddNode(node);
}

}  // namespace owc
