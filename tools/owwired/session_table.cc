// SPDX-License-Identifier: MIT
#include "session_table.h"

namespace owwired {
namespace {

constexpr uint32_t kMaxId = 0x7FFFFFFF;

}  // namespace

SessionTable::SessionTable(uint32_t firstId, size_t capacity)
    : mNextId(firstId == 0 || firstId > kMaxId ? 1 : firstId),
      mCapacity(capacity == 0 ? 1 : capacity) {}

Session* SessionTable::Find(uint32_t id) {
  auto it = mSessions.find(id);
  return it == mSessions.end() ? nullptr : &it->second;
}

uint32_t SessionTable::NextFreeId() {
  while (mSessions.count(mNextId) != 0) mNextId = mNextId >= kMaxId ? 1 : mNextId + 1;
  uint32_t id = mNextId;
  mNextId = mNextId >= kMaxId ? 1 : mNextId + 1;
  return id;
}

bool SessionTable::ForgetLeastRecentlyUsed() {
  auto victim = mSessions.end();
  for (auto it = mSessions.begin(); it != mSessions.end(); ++it) {
    if (it->second.holder != nullptr) continue;
    if (victim == mSessions.end() || it->second.lastUsed < victim->second.lastUsed) victim = it;
  }
  if (victim == mSessions.end()) return false;
  mSessions.erase(victim);
  return true;
}

Session* SessionTable::Create() {
  if (mSessions.size() >= mCapacity && !ForgetLeastRecentlyUsed()) return nullptr;
  uint32_t id = NextFreeId();
  Session& session = mSessions[id];
  session.id = id;
  Touch(&session);
  return &session;
}

void SessionTable::Erase(uint32_t id) { mSessions.erase(id); }

}  // namespace owwired
