// One client connection: its socket, its bounded input, its output buffer, the faults chosen
// for it, and where its dialog stands. The dialog itself (what each message means) is in
// dialog.h; this class moves bytes and applies the faults that act on bytes.
#ifndef OWWIRED_CONNECTION_H_
#define OWWIRED_CONNECTION_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "context.h"
#include "out_buffer.h"
#include "session_table.h"
#include "wire_format.h"

namespace owwired {

// Where the dialog of one connection stands.
enum class Phase {
  kLogin,         // no session yet: waiting for USER
  kReady,         // session bound, no file under way
  kAwaitFileAck,  // FILE sent, waiting for the ACK with its names
  kSending,       // blocks of the file going out / being acknowledged
};

struct DialogState {
  Phase phase = Phase::kLogin;
  Session* session = nullptr;  // owned by the session table; cleared when taken over
  size_t file = 0;             // feed index of the file under way
  uint32_t block_count = 0;
  uint32_t next_block = 0;  // next block to send
  uint64_t files_delivered = 0;
};

// Not thread-safe: lives on the server loop. Owns its socket (closed on destruction).
class Connection {
 public:
  // A client message without its NUL may be at most this long; a longer run closes the
  // connection (no client message comes near it: the longest is an ACK with two names).
  static constexpr size_t kMaxMessage = 4096;

  Connection(int fd, uint32_t number, bool faulty, Context* context);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  int fd() const { return fd_; }
  uint32_t number() const { return number_; }
  bool faulty() const { return faulty_; }
  // The faults chosen for this connection; they act only when faulty().
  const Faults& faults() const { return faults_; }
  DialogState& dialog() { return dialog_; }

  // Sends the hello (and any fault due before the first message).
  void Greet();

  // poll() events wanted at the context's current time.
  short PollEvents();
  // Earliest release time of held-back output, 0 for none.
  uint64_t NextRelease() { return out_.NextRelease(context_->now_ms); }

  // Reads what the socket has and handles each complete message. While the output holds more
  // than Options::output_limit bytes, messages wait unhandled and the socket is not read, so a
  // client that sends without reading cannot make the server buffer without bound.
  void OnReadable();
  // Writes what may be written now; returns when the socket is full or nothing is left.
  void Flush();

  // True when the server should close and delete this connection.
  bool Finished() const;

  // Output used by the dialog. Each returns false when the message was not sent (the
  // connection went silent or is closing).
  bool SendText(const std::string& message);
  bool SendBlock(Prefix prefix, uint32_t number, std::string_view data, bool last);
  // Reports feed file `file` to Options::on_file_written once the message emitted last has
  // been written out. Call right after the file's last block was sent.
  void MarkFileEnd(size_t file);
  size_t PendingOutput() const { return out_.Pending(); }

  // Flush what is queued, then close; further input is ignored.
  void CloseAfterFlush(const char* reason);
  // Close at once.
  void Drop(const char* reason);

  // Counts and logs a fault that acted on this connection.
  void Fault(const char* what);

 private:
  // Queues one message made of `pieces`, applying the faults that act on messages.
  bool Emit(std::initializer_list<std::string_view> pieces, bool block);
  void AfterMessageSent();
  void HandleInput();
  void ResumeInput();
  bool OutputFull() const;
  void DropOversized();
  void ReportWrittenFiles();
  bool Accepting() const { return !silent_ && !closing_ && !dropped_; }

  int fd_;
  uint32_t number_;
  bool faulty_;
  Context* context_;
  Faults faults_;
  std::string in_;
  OutBuffer out_;
  DialogState dialog_;
  uint64_t messages_sent_ = 0;
  uint64_t messages_received_ = 0;
  uint64_t blocks_sent_ = 0;
  // For Options::on_file_written, in output offsets counted from the first byte queued: the
  // bytes handed to send(), the end of the message emitted last, and (end offset, feed index)
  // of each file whose last block is not written out yet, in order.
  uint64_t written_bytes_ = 0;
  uint64_t last_emit_end_ = 0;
  std::deque<std::pair<uint64_t, size_t>> file_ends_;

  bool reading_ = true;   // false after the stop-reading fault
  bool paused_ = false;   // input left unread until the output drains below its limit
  bool silent_ = false;   // after the silent fault: nothing sent, input ignored
  bool closing_ = false;  // close once the output is written
  bool dropped_ = false;  // close now
  bool reset_ = false;    // close with a reset rather than an orderly end of stream
};

}  // namespace owwired

#endif  // OWWIRED_CONNECTION_H_
