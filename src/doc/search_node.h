// SPDX-License-Identifier: MIT
// One element name at one level of the property index.
#ifndef OWCLIENT_DOC_SEARCH_NODE_H
#define OWCLIENT_DOC_SEARCH_NODE_H

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace owc {

class WCXMLSearchLevel;

class XMLSearchNode {
 public:
  XMLSearchNode(const char* tag, size_t tagLen, int32_t index, bool isLeaf, int32_t nodeLevel);
  XMLSearchNode(const XMLSearchNode&) = delete;
  XMLSearchNode& operator=(const XMLSearchNode&) = delete;
  virtual ~XMLSearchNode();

  const std::string& GetSearchTag() const { return mSearchTag; }
  int32_t GetIndex() const { return mIndex; }
  void SetIndex(int32_t index) { mIndex = index; }
  bool IsLeaf() const { return mIsLeaf != 0; }
  bool IsMidLeaf() const { return mMidLeaf != 0; }
  int32_t GetMidIndex() const { return mMidIndex; }
  // Records that a later path ended at this node, with its last index.
  void SetMidLeaf(int32_t midIndex) {
    mMidLeaf = 1;
    mMidIndex = midIndex;
  }
  int32_t GetNodeLevel() const { return mNodeLevel; }

  // The child level reached through element index `index`, or null.
  WCXMLSearchLevel* GetFixedLevel(int32_t index) const;
  WCXMLSearchLevel* GetWildLevel() const { return mWildLevel.get(); }
  // Create the child level if absent; null only when memory ran out.
  WCXMLSearchLevel* EnsureFixedLevel(int32_t index);
  WCXMLSearchLevel* EnsureWildLevel();
  // Ensure the level, then AddNode on it (which takes ownership of node).
  bool InsertIntoFixedLevel(XMLSearchNode* node, int32_t index);
  bool InsertIntoWildLevel(XMLSearchNode* node);

  // Fixed child levels in ascending index order.
  using FixedLevels = std::vector<std::pair<int32_t, std::unique_ptr<WCXMLSearchLevel>>>;
  const FixedLevels& GetFixedLevels() const { return mFixedLevels; }

 private:
  std::string mSearchTag;
  int32_t mIndex;
  uint8_t mIsLeaf;
  uint8_t mMidLeaf = 0;
  int32_t mMidIndex = 0;
  std::unique_ptr<WCXMLSearchLevel> mWildLevel;
  // Sparse and sorted rather than indexed by position: an index written as
  // "(2000000000)" must not cost an array of that size, and a node rarely has more
  // than one or two fixed children, so the scan is as cheap as an array access.
  FixedLevels mFixedLevels;
  int32_t mNodeLevel;
};

}  // namespace owc

#endif  // OWCLIENT_DOC_SEARCH_NODE_H
