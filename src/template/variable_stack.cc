// SPDX-License-Identifier: MIT
#include "template/variable_stack.h"

#include <new>

namespace owc {

std::string WCVariableFrame::MakeKey(const std::string& uri, const std::string& name) {
  if (uri.empty()) return name;
  std::string key;
  key.reserve(uri.size() + 1 + name.size());
  key.append(uri).append(1, ':').append(name);
  return key;
}

bool WCVariableFrame::Bind(const std::string& uri, const std::string& name,
                           const std::string& value) {
  try {
    mValues[MakeKey(uri, name)] = value;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool WCVariableFrame::Lookup(const std::string& uri, const std::string& name,
                             std::string* out) const {
  out->clear();
  auto it = mValues.find(MakeKey(uri, name));
  if (it == mValues.end()) return false;
  out->append(it->second);
  return true;
}

WCVariableStack::~WCVariableStack() { Clear(); }

WCVariableFrame* WCVariableStack::PushFrame() {
  WCVariableFrame* frame = new (std::nothrow) WCVariableFrame;
  if (frame == nullptr) return nullptr;
  if (InsertAfter(nullptr, frame) == nullptr) {
    delete frame;
    return nullptr;
  }
  return frame;
}

void WCVariableStack::PopFrame() {
  if (!IsEmpty()) delete RemoveHead();
}

bool WCVariableStack::Lookup(const std::string& uri, const std::string& name,
                             std::string* out) const {
  out->clear();
  Position pos = GetHeadPosition();
  while (pos != nullptr) {
    if (GetNext(pos)->Lookup(uri, name, out)) return true;
  }
  return false;
}

void WCVariableStack::Clear() {
  Position pos = GetHeadPosition();
  while (pos != nullptr) delete GetNext(pos);
  RemoveAll();
}

}  // namespace owc
