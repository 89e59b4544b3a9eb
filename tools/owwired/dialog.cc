#include "dialog.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "wire_format.h"

namespace owwired {
namespace {

// Output kept queued in pipelined sending: enough to keep the socket full, small enough that
// a slow client does not make the server hold a whole file.
constexpr size_t kPipelineWindow = 256 * 1024;

Prefix PrefixOf(Connection* connection) {
  Session* session = connection->dialog().session;
  return session != nullptr ? Prefix{true, session->id} : Prefix{};
}

void Reply(Connection* connection, char ack, const char* keyword, int status,
           const std::vector<std::string>& args = {}) {
  connection->SendText(TextMessage(PrefixOf(connection), ack, keyword, status, args));
}

void Refuse(Connection* connection, Context* context, const char* keyword, int status,
            const std::string& why, const Prefix& prefix) {
  ++context->counters.bad_messages;
  context->log.Event("conn %u: refused: %s", connection->number(), why.c_str());
  connection->SendText(TextMessage(prefix, '-', keyword, status, {}));
}

void Refuse(Connection* connection, Context* context, const char* keyword, int status,
            const std::string& why) {
  Refuse(connection, context, keyword, status, why, PrefixOf(connection));
}

bool RequireSession(Connection* connection, Context* context, const ClientMessage& message,
                    const char* answer_keyword) {
  if (connection->dialog().session != nullptr) return true;
  Refuse(connection, context, answer_keyword, 401, message.keyword_text + " before USER");
  return false;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// ---- Sessions ----

void Bind(Connection* connection, Session* session, Context* context) {
  Connection* previous = session->holder;
  if (previous != nullptr && previous != connection) {
    previous->dialog() = DialogState();
    previous->Drop("its session was resumed on another connection");
  }
  DialogState& dialog = connection->dialog();
  if (dialog.session != nullptr && dialog.session != session) dialog.session->holder = nullptr;
  dialog = DialogState{Phase::kReady, session};
  session->holder = connection;
  context->sessions.Touch(session);
  context->counters.last_session_id = session->id;
}

void EndSession(Connection* connection, Context* context) {
  DialogState& dialog = connection->dialog();
  uint32_t id = dialog.session->id;
  context->sessions.Erase(id);
  dialog = DialogState();
  ++context->counters.sessions_ended;
  context->log.Event("conn %u: session %u ended", connection->number(), id);
}

void OnUser(Connection* connection, const ClientMessage& message, Context* context) {
  // A USER that is turned away is answered under the id it asked for: it has no other yet.
  const Prefix asked{message.has_session, message.session_id};
  int reject = connection->faults().reject_user;
  if (connection->faulty() && reject >= 0) {
    connection->Fault("rejecting USER");
    connection->SendText(TextMessage(asked, '-', "USER", reject));
    return;
  }
  Session* session = message.has_session ? context->sessions.Find(message.session_id) : nullptr;
  bool resumed = session != nullptr;
  if (!resumed) session = context->sessions.Create();
  if (session == nullptr) {
    return Refuse(connection, context, "USER", 503, "no room for another session", asked);
  }
  Bind(connection, session, context);
  if (resumed) {
    ++context->counters.sessions_resumed;
    context->log.Event("conn %u: session %u resumed at file %zu, block %u", connection->number(),
                       session->id, session->next_file, session->acked_blocks);
  } else {
    ++context->counters.sessions_created;
    context->log.Event("conn %u: session %u created%s", connection->number(), session->id,
                       message.has_session ? " (the id asked for is unknown)" : "");
  }
  Reply(connection, '+', "USER", 0);
}

void OnFilter(Connection* connection, const ClientMessage& message, Context* context) {
  if (!RequireSession(connection, context, message, "FLTR")) return;
  int reject = connection->faults().reject_filter;
  if (connection->faulty() && reject >= 0) {
    connection->Fault("rejecting FLTR");
    return Reply(connection, '-', "FLTR", reject);
  }
  bool known = !message.args.empty() &&
               std::all_of(message.args.begin(), message.args.end(), [](const std::string& word) {
                 std::string upper = Upper(word);
                 return upper == "ALL" || upper == "STORY";
               });
  if (!known) return Refuse(connection, context, "FLTR", 400, "filter other than ALL or STORY");
  Reply(connection, '+', "FLTR", 0);
}

// ---- Files and blocks ----

bool SendNextBlock(Connection* connection, Context* context) {
  DialogState& dialog = connection->dialog();
  const FeedFile& file = context->feed.at(dialog.file);
  size_t block_size = context->options.block_size;
  size_t offset = static_cast<size_t>(dialog.next_block) * block_size;
  size_t length = std::min(block_size, file.data.size() - offset);
  bool last = dialog.next_block + 1 == dialog.block_count;
  std::string_view data(file.data.data() + offset, length);
  if (!connection->SendBlock(PrefixOf(connection), dialog.next_block, data, last)) return false;
  if (last) connection->MarkFileEnd(dialog.file);
  ++dialog.next_block;
  return true;
}

void StartBlocks(Connection* connection, Context* context) {
  connection->dialog().phase = Phase::kSending;
  if (context->options.pipeline) {
    RefillPipeline(connection, context);
  } else {
    SendNextBlock(connection, context);
  }
}

void RescanIfExhausted(Session* session, Context* context) {
  if (!context->options.rescan || context->options.spool_dir.empty() ||
      session->next_file < context->feed.size()) {
    return;
  }
  std::vector<std::string> skipped;
  std::string error;
  long added = context->feed.LoadSpool(context->options.spool_dir, &skipped, &error);
  if (added < 0) context->log.Error("%s", error.c_str());
  if (added > 0) context->log.Event("feed: %ld new files", added);
}

void AnnounceFile(Connection* connection, Context* context) {
  DialogState& dialog = connection->dialog();
  Session* session = dialog.session;
  const FeedFile& file = context->feed.at(session->next_file);
  bool resuming = session->file_started && !context->options.restart_files;
  if (!resuming) session->acked_blocks = 0;
  session->file_started = true;
  dialog.phase = Phase::kAwaitFileAck;
  dialog.file = session->next_file;
  dialog.block_count = Feed::BlockCount(file, context->options.block_size);
  dialog.next_block = session->acked_blocks;
  ++context->counters.files_announced;
  context->log.Event("conn %u: session %u: file %s (%zu bytes, %u block%s) from block %u",
                     connection->number(), session->id, file.name.c_str(), file.data.size(),
                     dialog.block_count, dialog.block_count == 1 ? "" : "s", dialog.next_block);
  if (file.parent.empty()) return Reply(connection, '+', "FILE", 0, {file.name});
  Reply(connection, '+', "FILE", 0, {file.parent, file.name});
}

void OnRequest(Connection* connection, const ClientMessage& message, Context* context) {
  if (!RequireSession(connection, context, message, "RQST")) return;
  DialogState& dialog = connection->dialog();
  int64_t gone_at = context->options.faults.gone_at_request;
  if (gone_at >= 0 && static_cast<uint64_t>(gone_at) == ++context->requests_seen) {
    connection->Fault("answering RQST with (410) Gone");
    ++context->counters.requests_gone;
    dialog.phase = Phase::kReady;
    return Reply(connection, '-', "RQST", 410);
  }
  RescanIfExhausted(dialog.session, context);
  if (dialog.session->next_file >= context->feed.size()) {
    ++context->counters.requests_empty;
    dialog.phase = Phase::kReady;
    return Reply(connection, '+', "RQST", 204);
  }
  AnnounceFile(connection, context);  // also an unfinished file, from its first unacked block
}

void SendServerDone(Connection* connection, Context* context) {
  connection->Fault("sending DONE from the server");
  Reply(connection, 0, "DONE", 0);
  EndSession(connection, context);
  connection->CloseAfterFlush("fault: the server ended the session");
}

void FileDelivered(Connection* connection, Context* context) {
  DialogState& dialog = connection->dialog();
  Session* session = dialog.session;
  context->log.Event("conn %u: session %u: delivered %s", connection->number(), session->id,
                     context->feed.at(dialog.file).name.c_str());
  ++session->next_file;
  session->acked_blocks = 0;
  session->file_started = false;
  dialog.phase = Phase::kReady;
  ++dialog.files_delivered;
  ++context->counters.files_delivered;
  int64_t done_after = connection->faults().done_after_files;
  if (connection->faulty() && done_after >= 0 &&
      static_cast<uint64_t>(done_after) == dialog.files_delivered) {
    SendServerDone(connection, context);
  }
}

void OnBlockAck(Connection* connection, const ClientMessage& message, Context* context) {
  DialogState& dialog = connection->dialog();
  Session* session = dialog.session;
  uint32_t number = 0;
  if (message.args.size() != 1 || !ParseU32(message.args[0], &number)) {
    return Refuse(connection, context, "UNKN", 400, "ACK without a block number");
  }
  if (number < session->acked_blocks) {
    context->log.Detail("conn %u: ACK of block %u again", connection->number(), number);
    return;
  }
  if (number != session->acked_blocks || number >= dialog.next_block) {
    return Refuse(connection, context, "UNKN", 409,
                  "ACK of block " + std::to_string(number) + ", expected " +
                      std::to_string(session->acked_blocks));
  }
  ++session->acked_blocks;
  ++context->counters.blocks_acked;
  if (session->acked_blocks == dialog.block_count) return FileDelivered(connection, context);
  if (!context->options.pipeline) SendNextBlock(connection, context);
}

void OnFileAck(Connection* connection, const ClientMessage& message, Context* context) {
  const FeedFile& file = context->feed.at(connection->dialog().file);
  std::vector<std::string> expected = {file.name};
  if (!file.parent.empty()) expected.insert(expected.begin(), file.parent);
  if (message.args != expected) {
    return Refuse(connection, context, "UNKN", 409, "ACK names do not match FILE " + file.name);
  }
  StartBlocks(connection, context);
}

void OnAck(Connection* connection, const ClientMessage& message, Context* context) {
  if (!RequireSession(connection, context, message, "UNKN")) return;
  switch (connection->dialog().phase) {
    case Phase::kAwaitFileAck:
      return OnFileAck(connection, message, context);
    case Phase::kSending:
      return OnBlockAck(connection, message, context);
    default:
      return Refuse(connection, context, "UNKN", 409, "ACK with no file under way");
  }
}

// ---- Heartbeat, end ----

void OnHeartbeat(Connection* connection, const ClientMessage& message, Context* context) {
  ++context->counters.heartbeats;
  Prefix prefix = PrefixOf(connection);
  if (!prefix.present) prefix = Prefix{message.has_session, message.session_id};
  connection->SendText(TextMessage(prefix, '+', "HRTB", 0));
}

void OnDone(Connection* connection, const ClientMessage& message, Context* context) {
  if (!RequireSession(connection, context, message, "DONE")) return;
  bool everything = connection->dialog().session->next_file >= context->feed.size();
  Reply(connection, '+', "DONE", 0);
  EndSession(connection, context);
  connection->CloseAfterFlush("the client said DONE");
  if (context->options.exit_when_done && everything) context->exit_requested = true;
}

}  // namespace

void HandleMessage(Connection* connection, std::string_view text, Context* context) {
  ClientMessage message;
  if (!ParseClientMessage(text, &message)) {
    return Refuse(connection, context, "UNKN", 400,
                  "not a message: " + Printable(text.data(), text.size(), 40));
  }
  switch (message.keyword) {
    case Keyword::kUser:
      return OnUser(connection, message, context);
    case Keyword::kFilter:
      return OnFilter(connection, message, context);
    case Keyword::kRequest:
      return OnRequest(connection, message, context);
    case Keyword::kAck:
      return OnAck(connection, message, context);
    case Keyword::kHeartbeat:
      return OnHeartbeat(connection, message, context);
    case Keyword::kDone:
      return OnDone(connection, message, context);
    case Keyword::kUnknown:
      return Refuse(connection, context, "UNKN", 400,
                    "unknown keyword " +
                        Printable(message.keyword_text.data(), message.keyword_text.size(), 40));
  }
}

void RefillPipeline(Connection* connection, Context* context) {
  DialogState& dialog = connection->dialog();
  if (!context->options.pipeline || dialog.phase != Phase::kSending) return;
  while (dialog.next_block < dialog.block_count && connection->PendingOutput() < kPipelineWindow) {
    if (!SendNextBlock(connection, context)) return;
  }
}

void ReleaseSession(Connection* connection, Context* context) {
  Session* session = connection->dialog().session;
  if (session != nullptr && session->holder == connection) {
    session->holder = nullptr;
    context->sessions.Touch(session);
  }
  connection->dialog() = DialogState();
}

}  // namespace owwired
