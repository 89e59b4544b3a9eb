// SPDX-License-Identifier: MIT
// Sessions and their delivery cursors. A session outlives its connections: a client that
// reconnects with USER and the session id continues where the cursor stands.
#ifndef OWWIRED_SESSION_TABLE_H
#define OWWIRED_SESSION_TABLE_H

#include <cstddef>
#include <cstdint>
#include <map>

namespace owwired {

class Connection;

struct Session {
  uint32_t id = 0;
  // Index in the feed of the first file not yet delivered (its last block unacknowledged).
  size_t nextFile = 0;
  // Blocks of that file acknowledged so far, in order.
  uint32_t ackedBlocks = 0;
  // True once that file was announced to this session; a later announcement is a resumption.
  bool fileStarted = false;
  // The connection that holds the session, or null between connections.
  Connection* holder = nullptr;
  uint64_t lastUsed = 0;  // a use counter, for forgetting the least recently used
};

// Not thread-safe: owned and used by the server loop. Pointers returned stay valid until the
// session is erased or forgotten to make room.
class SessionTable {
 public:
  // Ids are handed out from `firstId` upwards, in 1 to 2^31-1 (the client writes ids as signed
  // numbers), skipping ids in use. At most `capacity` sessions are kept.
  SessionTable(uint32_t firstId, size_t capacity);

  Session* Find(uint32_t id);

  // A new session with a fresh id. When the table is full, the least recently used session
  // that no connection holds is forgotten first; returns null when every one is held.
  Session* Create();

  void Erase(uint32_t id);

  // Marks `session` as just used.
  void Touch(Session* session) { session->lastUsed = ++mUseCounter; }

  size_t Size() const { return mSessions.size(); }

 private:
  uint32_t NextFreeId();
  bool ForgetLeastRecentlyUsed();

  std::map<uint32_t, Session> mSessions;
  uint32_t mNextId;
  size_t mCapacity;
  uint64_t mUseCounter = 0;
};

}  // namespace owwired

#endif  // OWWIRED_SESSION_TABLE_H
