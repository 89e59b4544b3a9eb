// SPDX-License-Identifier: MIT
#include "template/variable_stack.h"

#include "runtime/alloc_hook.h"

namespace owc {

std::string WCVariableFrame::MakeKey(const std::string& uri, const std::string& name) {
  if (uri.empty()) return name;
  std::string key;
  key.reserve(uri.size() + 1 + name.size());
  key.append(uri).append(1, ':').append(name);
  return key;
}

namespace {

bool KeyMatches(const std::string& key, const std::string& uri, const std::string& name) {
  if (uri.empty()) return key == name;
  return key.size() == uri.size() + 1 + name.size() && key.compare(0, uri.size(), uri) == 0 &&
         key[uri.size()] == ':' && key.compare(uri.size() + 1, name.size(), name) == 0;
}

}  // namespace

bool WCVariableFrame::Bind(const std::string& uri, const std::string& name,
                           const std::string& value) {
  for (auto& entry : mValues) {
    if (KeyMatches(entry.first, uri, name)) {
      return TryAllocate(value.size(), [&] { entry.second = value; });
    }
  }
  return TryAllocate(uri.size() + name.size() + value.size() + 1,
                     [&] { mValues.emplace_back(MakeKey(uri, name), value); });
}

const std::string* WCVariableFrame::Find(const std::string& uri, const std::string& name) const {
  for (const auto& entry : mValues) {
    if (KeyMatches(entry.first, uri, name)) return &entry.second;
  }
  return nullptr;
}

WCVariableStack::~WCVariableStack() { Clear(); }

WCVariableFrame* WCVariableStack::PushFrame() {
  WCVariableFrame* frame = NewOrNull<WCVariableFrame>();
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

const std::string* WCVariableStack::Find(const std::string& uri, const std::string& name) const {
  Position pos = GetHeadPosition();
  while (pos != nullptr) {
    if (const std::string* value = GetNext(pos)->Find(uri, name)) return value;
  }
  return nullptr;
}

void WCVariableStack::Clear() {
  Position pos = GetHeadPosition();
  while (pos != nullptr) delete GetNext(pos);
  RemoveAll();
}

}  // namespace owc
