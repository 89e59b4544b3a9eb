// SPDX-License-Identifier: MIT
// Loop variable bindings of the template interpreter: each "foreach" binds its
// reference to the current occurrence's value in a frame of its own.
#ifndef OWCLIENT_TEMPLATE_VARIABLE_STACK_H
#define OWCLIENT_TEMPLATE_VARIABLE_STACK_H

#include <string>
#include <utility>
#include <vector>

#include "runtime/dl_list.h"

namespace owc {

// Values bound in one loop, keyed by (namespace URI, name). A loop binds one reference,
// so a frame is searched in order rather than hashed.
class WCVariableFrame {
 public:
  virtual ~WCVariableFrame() = default;

  // The name alone when the URI is empty, else "URI:name": two pairs with the same key
  // are the same binding.
  static std::string MakeKey(const std::string& uri, const std::string& name);

  // Stores a copy of value, replacing an earlier binding of the key.
  bool Bind(const std::string& uri, const std::string& name, const std::string& value);
  // The bound value, or null; valid until the next Bind or the frame's destruction.
  const std::string* Find(const std::string& uri, const std::string& name) const;

 private:
  std::vector<std::pair<std::string, std::string>> mValues;  // key, value
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
  // The innermost binding of the key, or null.
  const std::string* Find(const std::string& uri, const std::string& name) const;
  void Clear();
};

}  // namespace owc

#endif  // OWCLIENT_TEMPLATE_VARIABLE_STACK_H
