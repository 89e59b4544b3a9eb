// SPDX-License-Identifier: MIT
// Loop variable bindings of the template interpreter: each "foreach" binds its
// reference to the current occurrence's value in a frame of its own.
#ifndef OWCLIENT_TEMPLATE_VARIABLE_STACK_H
#define OWCLIENT_TEMPLATE_VARIABLE_STACK_H

#include <string>
#include <unordered_map>

#include "runtime/dl_list.h"

namespace owc {

// Values bound in one loop, keyed by (namespace URI, name).
class WCVariableFrame {
 public:
  virtual ~WCVariableFrame() = default;

  // The name alone when the URI is empty, else "URI:name".
  static std::string MakeKey(const std::string& uri, const std::string& name);

  // Stores a copy of value, replacing an earlier binding of the key.
  bool Bind(const std::string& uri, const std::string& name, const std::string& value);
  // Empties out; appends the bound value and returns true if the key is bound.
  bool Lookup(const std::string& uri, const std::string& name, std::string* out) const;

 private:
  std::unordered_map<std::string, std::string> mValues;
};

// Owns its frames; the head is the top (the innermost loop).
class WCVariableStack : public DLList<WCVariableFrame*> {
 public:
  WCVariableStack() = default;
  ~WCVariableStack() override;

  // The new top frame, or null when memory ran out.
  WCVariableFrame* PushFrame();
  void PopFrame();
  WCVariableFrame* Top() const { return IsEmpty() ? nullptr : GetAt(GetHeadPosition()); }
  // The innermost binding of the key, into out (emptied first).
  bool Lookup(const std::string& uri, const std::string& name, std::string* out) const;
  void Clear();
};

}  // namespace owc

#endif  // OWCLIENT_TEMPLATE_VARIABLE_STACK_H
