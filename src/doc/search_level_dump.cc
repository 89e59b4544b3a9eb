// SPDX-License-Identifier: MIT
// The property index written to the log, for diagnosis.
#include "doc/search_level.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

void DumpNode(const XMLSearchNode& node);

void DumpLevel(const WCXMLSearchLevel& level) {
  if (level.IsEmpty()) return;
  TraceLog(kLevelProgress, "Dumping a Level List.");
  WCXMLSearchLevel::Position pos = level.GetHeadPosition();
  while (pos != nullptr) DumpNode(*level.GetNext(pos));
  TraceLog(kLevelProgress, "End Dumping Level list");
}

// Logs one line whose format takes the node's fields in the order the text names them
// (DumpFixedLine: the fixed index first).
void DumpLine(const char* format, const XMLSearchNode& node) {
  TraceLogF(kLevelProgress, format, node.GetSearchTag().c_str(), node.GetIndex(),
            node.IsLeaf() ? 1 : 0, node.GetNodeLevel(), node.IsMidLeaf() ? 1 : 0,
            node.GetMidIndex());
}

void DumpFixedLine(const char* format, int32_t index, const XMLSearchNode& node) {
  TraceLogF(kLevelProgress, format, index, node.GetSearchTag().c_str(), node.GetIndex(),
            node.IsLeaf() ? 1 : 0, node.GetNodeLevel(), node.IsMidLeaf() ? 1 : 0,
            node.GetMidIndex());
}

void DumpNode(const XMLSearchNode& node) {
  if (const WCXMLSearchLevel* wild = node.GetWildLevel()) {
    DumpLine(
        "Starting Dump of Wild SearchTag = %s, Index = %d, IsLeaf = %d, NodeLevel = %d. "
        "MidLeaf %d, MidIndex %d",
        node);
    DumpLevel(*wild);
    DumpLine(
        "Ending Dump of Wild SearchTag = %s, Index = %d, IsLeaf = %d, NodeLevel = %d.MidLeaf "
        "%d, MidIndex %d",
        node);
  }
  for (const auto& fixed : node.GetFixedLevels()) {
    if (fixed.second->IsEmpty()) continue;
    DumpFixedLine(
        "Starting Dump of Fixed %d SearchTag = %s, Index = %d, IsLeaf = %d, NodeLevel = "
        "%d.MidLeaf %d, MidIndex %d",
        fixed.first, node);
    DumpLevel(*fixed.second);
    DumpFixedLine(
        "Ending Dump of Fixed %d SearchTag = %s, Index = %d, IsLeaf = %d, NodeLevel = "
        "%d.MidLeaf %d, MidIndex %d",
        fixed.first, node);
  }
  if (node.IsLeaf()) {
    DumpLine(
        "Dump LEAF SearchTag = %s, Index = %d, IsLeaf = %d, NodeLevel = %d.MidLeaf %d, "
        "MidIndex %d",
        node);
  } else if (node.IsMidLeaf()) {
    DumpLine(
        "Dump MIDLEAF SearchTag = %s, Index = %d, IsLeaf = %d, NodeLevel = %d.MidLeaf %d, "
        "MidIndex %d",
        node);
  }
}

}  // namespace

void WCXMLSearchLevel::Dump() const { DumpLevel(*this); }

}  // namespace owc
