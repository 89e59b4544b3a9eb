#include "session_table.h"

namespace owwired {
namespace {

constexpr uint32_t kMaxId = 0x7FFFFFFF;

}  // namespace

SessionTable::SessionTable(uint32_t first_id, size_t capacity)
    : next_id_(first_id == 0 || first_id > kMaxId ? 1 : first_id),
      capacity_(capacity == 0 ? 1 : capacity) {}

Session* SessionTable::Find(uint32_t id) {
  auto it = sessions_.find(id);
  return it == sessions_.end() ? nullptr : &it->second;
}

uint32_t SessionTable::NextFreeId() {
  while (sessions_.count(next_id_) != 0) next_id_ = next_id_ >= kMaxId ? 1 : next_id_ + 1;
  uint32_t id = next_id_;
  next_id_ = next_id_ >= kMaxId ? 1 : next_id_ + 1;
  return id;
}

bool SessionTable::ForgetLeastRecentlyUsed() {
  auto victim = sessions_.end();
  for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
    if (it->second.holder != nullptr) continue;
    if (victim == sessions_.end() || it->second.last_used < victim->second.last_used) victim = it;
  }
  if (victim == sessions_.end()) return false;
  sessions_.erase(victim);
  return true;
}

Session* SessionTable::Create() {
  if (sessions_.size() >= capacity_ && !ForgetLeastRecentlyUsed()) return nullptr;
  uint32_t id = NextFreeId();
  Session& session = sessions_[id];
  session.id = id;
  Touch(&session);
  return &session;
}

void SessionTable::Erase(uint32_t id) { sessions_.erase(id); }

}  // namespace owwired
