// SPDX-License-Identifier: MIT
#include "connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "dialog.h"

namespace owwired {
namespace {

constexpr size_t kReadChunk = 65536;

// Starts no message the client knows: no digit, no '+'/'-', no keyword.
std::string GarbageMessage() {
  return std::string("#garbage") + "\x01\x7F\x80\xFE\xFF#" + std::string(1, '\0');
}

// A text message of `size` bytes, NUL included, that never fits a client's parse window.
std::string OverlongMessage(uint32_t size) {
  std::string message = "-UNKN ";
  message.resize(size - 1, 'x');
  message += '\0';
  return message;
}

// Gathering writes take at most this many pieces at a time.
constexpr int kMaxWriteParts = 64;

// A block's data is a feed file's, which lives as long as the server; it is queued by
// reference when it is long enough to sit on the heap, where it stays put even when the
// feed's list of files grows and moves its entries. A short one is copied.
constexpr size_t kBorrowFrom = 256;

int BorrowedIndex(std::string_view data) { return data.size() >= kBorrowFrom ? 1 : -1; }

bool Reached(int64_t limit, uint64_t count) {
  return limit >= 0 && static_cast<uint64_t>(limit) == count;
}

}  // namespace

Connection::Connection(int fd, uint32_t number, bool faulty, Context* context)
    : mFd(fd),
      mNumber(number),
      mFaulty(faulty),
      mContext(context),
      mFaults(context->options.faults) {
  if (context->options.faultsForConnection) {
    mFaults = context->options.faultsForConnection(number);
    mFaulty = true;
  }
}

Connection::~Connection() {
  if (mReset) {
    linger hard{1, 0};
    ::setsockopt(mFd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  ::close(mFd);
}

void Connection::Greet() {
  AfterMessageSent();  // faults set for "after 0 messages" act before the hello
  SendText(
      TextMessage(Prefix(), '+', "Tazu", 0, {mContext->options.product, "v1.00.00", "v1.00.00"}));
}

short Connection::PollEvents() {
  short events = 0;
  if (mReading && !mPaused && !mDropped) events |= POLLIN;
  if (mOut.Releasable(mContext->nowMs) > 0 && !mDropped) events |= POLLOUT;
  return events;
}

bool Connection::Finished() const { return mDropped || (mClosing && mOut.Pending() == 0); }

void Connection::Fault(const char* what) {
  ++mContext->counters.faultsFired;
  mContext->log.Event("conn %u: fault: %s", mNumber, what);
}

void Connection::CloseAfterFlush(const char* reason) {
  if (mClosing || mDropped) return;
  mClosing = true;
  mContext->log.Event("conn %u: closing (%s)", mNumber, reason);
}

void Connection::Drop(const char* reason) {
  if (mDropped) return;
  mDropped = true;
  mContext->log.Event("conn %u: closed (%s)", mNumber, reason);
}

bool Connection::Emit(std::initializer_list<std::string_view> pieces, bool block, int borrowed) {
  if (!Accepting()) return false;
  uint64_t release = 0;
  if (mFaulty && mFaults.delayMs > 0) {
    release = mContext->nowMs + mFaults.delayMs;
  }
  int index = 0;
  for (std::string_view piece : pieces) {
    if (index++ == borrowed) {
      mOut.AppendBorrowed(piece, release);
    } else {
      mOut.Append(piece, release);
    }
  }
  mLastEmitEnd = mWrittenBytes + mOut.Pending();
  ++mEssagesSent;
  ++mContext->counters.messagesSent;
  if (!block && mContext->log.Detailed()) {
    std::string_view text = *pieces.begin();
    mContext->log.Detail("conn %u: sent %s", mNumber,
                         Printable(text.data(), text.size() - 1).c_str());
  }
  AfterMessageSent();
  return true;
}

void Connection::AfterMessageSent() {
  if (!mFaulty) return;
  const Faults& faults = mFaults;
  uint64_t release = faults.delayMs > 0 ? mContext->nowMs + faults.delayMs : 0;
  if (Reached(faults.garbageAfter, mEssagesSent)) {
    Fault("sending garbage");
    mOut.Append(GarbageMessage(), release);
  }
  if (Reached(faults.overlongAfter, mEssagesSent)) {
    Fault("sending an over-long message");
    mOut.Append(OverlongMessage(faults.overlongSize), release);
  }
  if (Reached(faults.tinyMessagesAfter, mEssagesSent)) {
    Fault("sending a flood of tiny messages");
    Prefix prefix = mDialog.session != nullptr ? Prefix{true, mDialog.session->id} : Prefix{};
    const std::string tiny = TextMessage(prefix, '+', "HRTB", 0);
    for (uint32_t i = 0; i < faults.tinyMessages; ++i) mOut.Append(tiny, release);
  }
  if (Reached(faults.silentAfter, mEssagesSent)) {
    Fault("going silent");
    mSilent = true;
  }
}

bool Connection::SendText(const std::string& message) { return Emit({message}, false); }

bool Connection::SendBlock(Prefix prefix, uint32_t number, std::string_view data, bool last) {
  int64_t dropAfter = mFaulty ? mFaults.dropAfterBlocks : -1;
  if (dropAfter >= 0 && mBlocksSent >= static_cast<uint64_t>(dropAfter)) {
    CloseAfterFlush("fault: dropping before the next block");
    return false;
  }
  uint32_t declared = static_cast<uint32_t>(data.size());
  if (mFaulty && Reached(mFaults.resetInBlockAfter, mBlocksSent)) {
    Fault("resetting the connection in the middle of a block");
    Emit({BlockHead(prefix, number, declared), data.substr(0, data.size() / 2)}, true,
         BorrowedIndex(data));
    mReset = true;
    CloseAfterFlush("fault: reset in the middle of a block");
    return false;
  }
  if (mFaulty && Reached(mFaults.overrunBlockAfter, mBlocksSent)) {
    Fault("sending a block whose length runs past its data");
    constexpr uint32_t kOverrun = 1000;
    if (declared + kOverrun <= 65535) {
      declared += kOverrun;
    } else {
      data = data.substr(0, data.size() - kOverrun);
    }
  }
  std::string head = BlockHead(prefix, number, declared);
  if (!Emit({head, data, BlockTail(last)}, true, BorrowedIndex(data))) return false;
  ++mBlocksSent;
  ++mContext->counters.blocksSent;
  mContext->log.Detail("conn %u: sent block %u (%zu bytes%s)", mNumber, number, data.size(),
                       last ? ", last" : "");
  if (Reached(dropAfter, mBlocksSent)) {
    Fault("dropping the connection");
    CloseAfterFlush("fault: dropped after blocks");
  }
  return true;
}

void Connection::OnReadable() {
  char chunk[kReadChunk];
  ssize_t got = ::recv(mFd, chunk, sizeof(chunk), 0);
  if (got == 0) return Drop("client closed");
  if (got < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    return Drop("read error");
  }
  mContext->counters.bytesReceived += static_cast<uint64_t>(got);
  if (!Accepting()) return;  // silent or closing: the input is read and thrown away
  mIn.append(chunk, static_cast<size_t>(got));
  HandleInput();
}

bool Connection::OutputFull() const { return mOut.Pending() >= mContext->options.outputLimit; }

void Connection::HandleInput() {
  size_t start = 0;
  size_t nul;
  while (mReading && Accepting() && !OutputFull() &&
         (nul = mIn.find('\0', start)) != std::string::npos) {
    std::string_view text(mIn.data() + start, nul - start);
    start = nul + 1;
    if (text.size() > kMaxMessage) return DropOversized();
    ++mEssagesReceived;
    ++mContext->counters.messagesReceived;
    mContext->log.Detail("conn %u: received %s", mNumber,
                         Printable(text.data(), text.size()).c_str());
    HandleMessage(this, text, mContext);
    int64_t stopAfter = mFaulty ? mFaults.stopReadingAfter : -1;
    if (Reached(stopAfter, mEssagesReceived)) {
      Fault("no longer reading from the client");
      mReading = false;
    }
  }
  mIn.erase(0, start);
  if (!mReading || !Accepting()) {
    mIn.clear();
  } else if (mIn.size() > kMaxMessage && mIn.find('\0') == std::string::npos) {
    DropOversized();
  } else if (OutputFull() && !mPaused) {
    mPaused = true;  // complete messages wait in mIn until the client reads its answers
    ++mContext->counters.inputPauses;
    mContext->log.Detail("conn %u: output full, input paused", mNumber);
  }
}

void Connection::ResumeInput() {
  if (!mPaused || OutputFull()) return;
  mPaused = false;
  HandleInput();
}

void Connection::MarkFileEnd(size_t file) {
  if (mContext->options.onFileWritten) mFileEnds.emplace_back(mLastEmitEnd, file);
}

void Connection::ReportWrittenFiles() {
  while (!mFileEnds.empty() && mFileEnds.front().first <= mWrittenBytes) {
    const uint64_t now =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count());
    mContext->options.onFileWritten(mContext->feed.At(mFileEnds.front().second).name, now);
    mFileEnds.pop_front();
  }
}

void Connection::DropOversized() {
  ++mContext->counters.oversizedInputs;
  mIn.clear();
  Drop("over-long message from the client");
}

void Connection::Flush() {
  bool oneByte = mFaulty && mFaults.oneByteWrites;
  while (!mDropped) {
    size_t ready = mOut.Releasable(mContext->nowMs);
    if (ready == 0) return;
    iovec parts[kMaxWriteParts];
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen =
        static_cast<size_t>(mOut.Gather(parts, kMaxWriteParts, oneByte ? 1 : ready));
    ssize_t sent = ::sendmsg(mFd, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) Drop("write error");
      return;
    }
    mOut.Consume(static_cast<size_t>(sent));
    mWrittenBytes += static_cast<uint64_t>(sent);
    if (!mFileEnds.empty()) ReportWrittenFiles();
    mContext->counters.bytesSent += static_cast<uint64_t>(sent);
    ++mContext->counters.writeCalls;
    RefillPipeline(this, mContext);
    ResumeInput();
    if (oneByte) return;  // one byte per turn of the loop, so the pieces travel apart
  }
}

}  // namespace owwired
