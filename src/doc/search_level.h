// SPDX-License-Identifier: MIT
// The property index: the set of element paths whose elements a parse captures.
//
// A root level is built by one thread (InsertProperty) and then only read while
// documents are parsed; no insertion may run while a parse reads the same index.
#ifndef OWCLIENT_DOC_SEARCH_LEVEL_H
#define OWCLIENT_DOC_SEARCH_LEVEL_H

#include <cstddef>
#include <cstdint>

#include "doc/property_path.h"
#include "doc/search_node.h"
#include "runtime/dl_list.h"

namespace owc {

// The nodes of one level in insertion order; owns them and, through them, the subtree.
// Invariant: no two nodes have names that are equal without regard to case.
class WCXMLSearchLevel : public DLList<XMLSearchNode*> {
 public:
  WCXMLSearchLevel() = default;
  ~WCXMLSearchLevel() override;

  // Inserts a path of "\name(index)" segments (the separator is the module's level
  // separator). False on a null or empty path, a syntax error or exhausted memory;
  // segments processed before the error stay inserted.
  bool InsertProperty(const char* path);

  // True if the element path is a parse property. Called on the root level.
  bool MatchParsePath(const WCXMLParsePath& path) const;

  // One step of MatchParsePath, for callers that walk an element path incrementally:
  // looks the element up in this level and tells whether the path ending at it
  // matches. *childLevel receives the level in which its children are looked up, or
  // null when no descendant can match.
  bool MatchStep(const char* name, size_t nameLen, int32_t index,
                 const WCXMLSearchLevel** childLevel) const;

  // The node whose tag equals name without regard to case, or null.
  XMLSearchNode* FindNode(const char* name, size_t nameLen) const;
  XMLSearchNode* FindNode(const char* name) const;
  // Takes ownership of node: appends it unless a node of that name is present, in
  // which case it is deleted. False only when memory ran out.
  bool AddNode(XMLSearchNode* node);
  void DeleteAll();

  // A new path with one step per segment; the caller owns it. Null for a null or
  // empty text; after a syntax error, the steps read so far.
  WCXMLParsePath* CreateParsePath(const char* path) const;

  // Writes the tree to the log at the progress level.
  void Dump() const;

 private:
  bool LogSegmentError(SegmentError error, const char* rest, const char* path) const;
};

}  // namespace owc

#endif  // OWCLIENT_DOC_SEARCH_LEVEL_H
