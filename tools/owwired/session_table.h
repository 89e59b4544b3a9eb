// Sessions and their delivery cursors. A session outlives its connections: a client that
// reconnects with USER and the session id continues where the cursor stands.
#ifndef OWWIRED_SESSION_TABLE_H_
#define OWWIRED_SESSION_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <map>

namespace owwired {

class Connection;

struct Session {
  uint32_t id = 0;
  // Index in the feed of the first file not yet delivered (its last block unacknowledged).
  size_t next_file = 0;
  // Blocks of that file acknowledged so far, in order.
  uint32_t acked_blocks = 0;
  // True once that file was announced to this session; a later announcement is a resumption.
  bool file_started = false;
  // The connection that holds the session, or null between connections.
  Connection* holder = nullptr;
  uint64_t last_used = 0;  // a use counter, for forgetting the least recently used
};

// Not thread-safe: owned and used by the server loop. Pointers returned stay valid until the
// session is erased or forgotten to make room.
class SessionTable {
 public:
  // Ids are handed out from `first_id` upwards, in 1 to 2^31-1 (the client writes ids as signed
  // numbers), skipping ids in use. At most `capacity` sessions are kept.
  SessionTable(uint32_t first_id, size_t capacity);

  Session* Find(uint32_t id);

  // A new session with a fresh id. When the table is full, the least recently used session
  // that no connection holds is forgotten first; returns null when every one is held.
  Session* Create();

  void Erase(uint32_t id);

  // Marks `session` as just used.
  void Touch(Session* session) { session->last_used = ++use_counter_; }

  size_t size() const { return sessions_.size(); }

 private:
  uint32_t NextFreeId();
  bool ForgetLeastRecentlyUsed();

  std::map<uint32_t, Session> sessions_;
  uint32_t next_id_;
  size_t capacity_;
  uint64_t use_counter_ = 0;
};

}  // namespace owwired

#endif  // OWWIRED_SESSION_TABLE_H_
