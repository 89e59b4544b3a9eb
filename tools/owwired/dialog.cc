// SPDX-License-Identifier: MIT
#include "dialog.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "wire_format.h"

namespace owwired {
namespace {

// Output kept queued in pipelined sending. Block data is queued by reference, so a window
// of a whole 1 MB file costs no memory, and the socket takes it in a few large writes
// instead of a write and a wake-up for every few blocks.
constexpr size_t kPipelineWindow = 1024 * 1024;

Prefix PrefixOf(Connection* connection) {
  Session* session = connection->Dialog().session;
  return session != nullptr ? Prefix{true, session->id} : Prefix{};
}

void Reply(Connection* connection, char ack, const char* keyword, int status,
           const std::vector<std::string>& args = {}) {
  connection->SendText(TextMessage(PrefixOf(connection), ack, keyword, status, args));
}

void Refuse(Connection* connection, Context* context, const char* keyword, int status,
            const std::string& why, const Prefix& prefix) {
  ++context->counters.badMessages;
  context->log.Event("conn %u: refused: %s", connection->Number(), why.c_str());
  connection->SendText(TextMessage(prefix, '-', keyword, status, {}));
}

void Refuse(Connection* connection, Context* context, const char* keyword, int status,
            const std::string& why) {
  Refuse(connection, context, keyword, status, why, PrefixOf(connection));
}

bool RequireSession(Connection* connection, Context* context, const ClientMessage& message,
                    const char* answerKeyword) {
  if (connection->Dialog().session != nullptr) return true;
  Refuse(connection, context, answerKeyword, 401, message.keywordText + " before USER");
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
    previous->Dialog() = DialogState();
    previous->Drop("its session was resumed on another connection");
  }
  DialogState& dialog = connection->Dialog();
  if (dialog.session != nullptr && dialog.session != session) dialog.session->holder = nullptr;
  dialog = DialogState{Phase::kReady, session};
  session->holder = connection;
  context->sessions.Touch(session);
  context->counters.lastSessionId = session->id;
}

void EndSession(Connection* connection, Context* context) {
  DialogState& dialog = connection->Dialog();
  uint32_t id = dialog.session->id;
  context->sessions.Erase(id);
  dialog = DialogState();
  ++context->counters.sessionsEnded;
  context->log.Event("conn %u: session %u ended", connection->Number(), id);
}

void OnUser(Connection* connection, const ClientMessage& message, Context* context) {
  // A USER that is turned away is answered under the id it asked for: it has no other yet.
  const Prefix asked{message.hasSession, message.sessionId};
  int reject = connection->ChosenFaults().rejectUser;
  if (connection->Faulty() && reject >= 0) {
    connection->Fault("rejecting USER");
    connection->SendText(TextMessage(asked, '-', "USER", reject));
    return;
  }
  Session* session = message.hasSession ? context->sessions.Find(message.sessionId) : nullptr;
  bool resumed = session != nullptr;
  if (!resumed) session = context->sessions.Create();
  if (session == nullptr) {
    return Refuse(connection, context, "USER", 503, "no room for another session", asked);
  }
  Bind(connection, session, context);
  if (resumed) {
    ++context->counters.sessionsResumed;
    context->log.Event("conn %u: session %u resumed at file %zu, block %u", connection->Number(),
                       session->id, session->nextFile, session->ackedBlocks);
  } else {
    ++context->counters.sessionsCreated;
    context->log.Event("conn %u: session %u created%s", connection->Number(), session->id,
                       message.hasSession ? " (the id asked for is unknown)" : "");
  }
  Reply(connection, '+', "USER", 0);
}

void OnFilter(Connection* connection, const ClientMessage& message, Context* context) {
  if (!RequireSession(connection, context, message, "FLTR")) return;
  int reject = connection->ChosenFaults().rejectFilter;
  if (connection->Faulty() && reject >= 0) {
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
  DialogState& dialog = connection->Dialog();
  const FeedFile& file = context->feed.At(dialog.file);
  size_t blockSize = context->options.blockSize;
  size_t offset = static_cast<size_t>(dialog.nextBlock) * blockSize;
  size_t length = std::min(blockSize, file.data.size() - offset);
  bool last = dialog.nextBlock + 1 == dialog.blockCount;
  std::string_view data(file.data.data() + offset, length);
  if (!connection->SendBlock(PrefixOf(connection), dialog.nextBlock, data, last)) return false;
  if (last) connection->MarkFileEnd(dialog.file);
  ++dialog.nextBlock;
  return true;
}

void StartBlocks(Connection* connection, Context* context) {
  connection->Dialog().phase = Phase::kSending;
  if (context->options.pipeline) {
    RefillPipeline(connection, context);
  } else {
    SendNextBlock(connection, context);
  }
}

void RescanIfExhausted(Session* session, Context* context) {
  if (!context->options.rescan || context->options.spoolDir.empty() ||
      session->nextFile < context->feed.Size()) {
    return;
  }
  std::vector<std::string> skipped;
  std::string error;
  long added = context->feed.LoadSpool(context->options.spoolDir, &skipped, &error);
  if (added < 0) context->log.Error("%s", error.c_str());
  if (added > 0) context->log.Event("feed: %ld new files", added);
}

void AnnounceFile(Connection* connection, Context* context) {
  DialogState& dialog = connection->Dialog();
  Session* session = dialog.session;
  const FeedFile& file = context->feed.At(session->nextFile);
  bool resuming = session->fileStarted && !context->options.restartFiles;
  if (!resuming) session->ackedBlocks = 0;
  session->fileStarted = true;
  dialog.phase = Phase::kAwaitFileAck;
  dialog.file = session->nextFile;
  dialog.blockCount = Feed::BlockCount(file, context->options.blockSize);
  dialog.nextBlock = session->ackedBlocks;
  ++context->counters.filesAnnounced;
  context->log.Event("conn %u: session %u: file %s (%zu bytes, %u block%s) from block %u",
                     connection->Number(), session->id, file.name.c_str(), file.data.size(),
                     dialog.blockCount, dialog.blockCount == 1 ? "" : "s", dialog.nextBlock);
  if (file.parent.empty()) return Reply(connection, '+', "FILE", 0, {file.name});
  Reply(connection, '+', "FILE", 0, {file.parent, file.name});
}

void OnRequest(Connection* connection, const ClientMessage& message, Context* context) {
  if (!RequireSession(connection, context, message, "RQST")) return;
  DialogState& dialog = connection->Dialog();
  int64_t goneAt = context->options.faults.goneAtRequest;
  if (goneAt >= 0 && static_cast<uint64_t>(goneAt) == ++context->requestsSeen) {
    connection->Fault("answering RQST with (410) Gone");
    ++context->counters.requestsGone;
    dialog.phase = Phase::kReady;
    return Reply(connection, '-', "RQST", 410);
  }
  RescanIfExhausted(dialog.session, context);
  if (dialog.session->nextFile >= context->feed.Size()) {
    ++context->counters.requestsEmpty;
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
  DialogState& dialog = connection->Dialog();
  Session* session = dialog.session;
  context->log.Event("conn %u: session %u: delivered %s", connection->Number(), session->id,
                     context->feed.At(dialog.file).name.c_str());
  ++session->nextFile;
  session->ackedBlocks = 0;
  session->fileStarted = false;
  dialog.phase = Phase::kReady;
  ++dialog.filesDelivered;
  ++context->counters.filesDelivered;
  int64_t doneAfter = connection->ChosenFaults().doneAfterFiles;
  if (connection->Faulty() && doneAfter >= 0 &&
      static_cast<uint64_t>(doneAfter) == dialog.filesDelivered) {
    SendServerDone(connection, context);
  }
}

void OnBlockAck(Connection* connection, const ClientMessage& message, Context* context) {
  DialogState& dialog = connection->Dialog();
  Session* session = dialog.session;
  uint32_t number = 0;
  if (message.args.size() != 1 || !ParseU32(message.args[0], &number)) {
    return Refuse(connection, context, "UNKN", 400, "ACK without a block number");
  }
  if (number < session->ackedBlocks) {
    context->log.Detail("conn %u: ACK of block %u again", connection->Number(), number);
    return;
  }
  if (number != session->ackedBlocks || number >= dialog.nextBlock) {
    return Refuse(connection, context, "UNKN", 409,
                  "ACK of block " + std::to_string(number) + ", expected " +
                      std::to_string(session->ackedBlocks));
  }
  ++session->ackedBlocks;
  ++context->counters.blocksAcked;
  if (session->ackedBlocks == dialog.blockCount) return FileDelivered(connection, context);
  if (!context->options.pipeline) SendNextBlock(connection, context);
}

void OnFileAck(Connection* connection, const ClientMessage& message, Context* context) {
  const FeedFile& file = context->feed.At(connection->Dialog().file);
  std::vector<std::string> expected = {file.name};
  if (!file.parent.empty()) expected.insert(expected.begin(), file.parent);
  if (message.args != expected) {
    return Refuse(connection, context, "UNKN", 409, "ACK names do not match FILE " + file.name);
  }
  StartBlocks(connection, context);
}

void OnAck(Connection* connection, const ClientMessage& message, Context* context) {
  if (!RequireSession(connection, context, message, "UNKN")) return;
  switch (connection->Dialog().phase) {
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
  if (!prefix.present) prefix = Prefix{message.hasSession, message.sessionId};
  connection->SendText(TextMessage(prefix, '+', "HRTB", 0));
}

void OnDone(Connection* connection, const ClientMessage& message, Context* context) {
  if (!RequireSession(connection, context, message, "DONE")) return;
  bool everything = connection->Dialog().session->nextFile >= context->feed.Size();
  Reply(connection, '+', "DONE", 0);
  EndSession(connection, context);
  connection->CloseAfterFlush("the client said DONE");
  if (context->options.exitWhenDone && everything) context->exitRequested = true;
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
                        Printable(message.keywordText.data(), message.keywordText.size(), 40));
  }
}

void RefillPipeline(Connection* connection, Context* context) {
  DialogState& dialog = connection->Dialog();
  if (!context->options.pipeline || dialog.phase != Phase::kSending) return;
  while (dialog.nextBlock < dialog.blockCount && connection->PendingOutput() < kPipelineWindow) {
    if (!SendNextBlock(connection, context)) return;
  }
}

void ReleaseSession(Connection* connection, Context* context) {
  Session* session = connection->Dialog().session;
  if (session != nullptr && session->holder == connection) {
    session->holder = nullptr;
    context->sessions.Touch(session);
  }
  connection->Dialog() = DialogState();
}

}  // namespace owwired
