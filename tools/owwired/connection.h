// SPDX-License-Identifier: MIT
// One client connection: its socket, its bounded input, its output buffer, the faults chosen
// for it, and where its dialog stands. The dialog itself (what each message means) is in
// dialog.h; this class moves bytes and applies the faults that act on bytes.
#ifndef OWWIRED_CONNECTION_H
#define OWWIRED_CONNECTION_H

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
  uint32_t blockCount = 0;
  uint32_t nextBlock = 0;  // next block to send
  uint64_t filesDelivered = 0;
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

  int Fd() const { return mFd; }
  uint32_t Number() const { return mNumber; }
  bool Faulty() const { return mFaulty; }
  // The faults chosen for this connection; they act only when Faulty().
  const Faults& ChosenFaults() const { return mFaults; }
  DialogState& Dialog() { return mDialog; }

  // Sends the hello (and any fault due before the first message).
  void Greet();

  // poll() events wanted at the context's current time.
  short PollEvents();
  // Earliest release time of held-back output, 0 for none.
  uint64_t NextRelease() { return mOut.NextRelease(mContext->nowMs); }

  // Reads what the socket has and handles each complete message. While the output holds more
  // than Options::outputLimit bytes, messages wait unhandled and the socket is not read, so a
  // client that sends without reading cannot make the server buffer without bound.
  void OnReadable();
  // Writes what may be written now; returns when the socket is full or nothing is left.
  void Flush();

  // True when the server should close and delete this connection.
  bool Finished() const;

  // Output used by the dialog. Each returns false when the message was not sent (the
  // connection went silent or is closing).
  bool SendText(const std::string& message);
  // REQUIRES: `data` is a feed file's, left in place until the server stops.
  bool SendBlock(Prefix prefix, uint32_t number, std::string_view data, bool last);
  // Reports feed file `file` to Options::onFileWritten once the message emitted last has
  // been written out. Call right after the file's last block was sent.
  void MarkFileEnd(size_t file);
  size_t PendingOutput() const { return mOut.Pending(); }

  // Flush what is queued, then close; further input is ignored.
  void CloseAfterFlush(const char* reason);
  // Close at once.
  void Drop(const char* reason);

  // Counts and logs a fault that acted on this connection.
  void Fault(const char* what);

 private:
  // Queues one message made of `pieces`, applying the faults that act on messages. The
  // piece at index `borrowed`, if any, is a feed file's data: it is queued by reference.
  bool Emit(std::initializer_list<std::string_view> pieces, bool block, int borrowed = -1);
  void AfterMessageSent();
  void HandleInput();
  void ResumeInput();
  bool OutputFull() const;
  void DropOversized();
  void ReportWrittenFiles();
  bool Accepting() const { return !mSilent && !mClosing && !mDropped; }

  int mFd;
  uint32_t mNumber;
  bool mFaulty;
  Context* mContext;
  Faults mFaults;
  std::string mIn;
  OutBuffer mOut;
  DialogState mDialog;
  uint64_t mEssagesSent = 0;
  uint64_t mEssagesReceived = 0;
  uint64_t mBlocksSent = 0;
  // For Options::onFileWritten, in output offsets counted from the first byte queued: the
  // bytes handed to the socket, the end of the message emitted last, and (end offset, feed
  // index) of each file whose last block is not written out yet, in order.
  uint64_t mWrittenBytes = 0;
  uint64_t mLastEmitEnd = 0;
  std::deque<std::pair<uint64_t, size_t>> mFileEnds;

  bool mReading = true;   // false after the stop-reading fault
  bool mPaused = false;   // input left unread until the output drains below its limit
  bool mSilent = false;   // after the silent fault: nothing sent, input ignored
  bool mClosing = false;  // close once the output is written
  bool mDropped = false;  // close now
  bool mReset = false;    // close with a reset rather than an orderly end of stream
};

}  // namespace owwired

#endif  // OWWIRED_CONNECTION_H
