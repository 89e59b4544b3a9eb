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

bool Reached(int64_t limit, uint64_t count) {
  return limit >= 0 && static_cast<uint64_t>(limit) == count;
}

}  // namespace

Connection::Connection(int fd, uint32_t number, bool faulty, Context* context)
    : fd_(fd),
      number_(number),
      faulty_(faulty),
      context_(context),
      faults_(context->options.faults) {
  if (context->options.faults_for_connection) {
    faults_ = context->options.faults_for_connection(number);
    faulty_ = true;
  }
}

Connection::~Connection() {
  if (reset_) {
    linger hard{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  ::close(fd_);
}

void Connection::Greet() {
  AfterMessageSent();  // faults set for "after 0 messages" act before the hello
  SendText(
      TextMessage(Prefix(), '+', "Tazu", 0, {context_->options.product, "v1.00.00", "v1.00.00"}));
}

short Connection::PollEvents() {
  short events = 0;
  if (reading_ && !paused_ && !dropped_) events |= POLLIN;
  if (out_.Releasable(context_->now_ms) > 0 && !dropped_) events |= POLLOUT;
  return events;
}

bool Connection::Finished() const { return dropped_ || (closing_ && out_.Pending() == 0); }

void Connection::Fault(const char* what) {
  ++context_->counters.faults_fired;
  context_->log.Event("conn %u: fault: %s", number_, what);
}

void Connection::CloseAfterFlush(const char* reason) {
  if (closing_ || dropped_) return;
  closing_ = true;
  context_->log.Event("conn %u: closing (%s)", number_, reason);
}

void Connection::Drop(const char* reason) {
  if (dropped_) return;
  dropped_ = true;
  context_->log.Event("conn %u: closed (%s)", number_, reason);
}

bool Connection::Emit(std::initializer_list<std::string_view> pieces, bool block) {
  if (!Accepting()) return false;
  uint64_t release = 0;
  if (faulty_ && faults_.delay_ms > 0) {
    release = context_->now_ms + faults_.delay_ms;
  }
  for (std::string_view piece : pieces) out_.Append(piece, release);
  last_emit_end_ = written_bytes_ + out_.Pending();
  ++messages_sent_;
  ++context_->counters.messages_sent;
  if (!block && context_->log.detailed()) {
    std::string_view text = *pieces.begin();
    context_->log.Detail("conn %u: sent %s", number_,
                         Printable(text.data(), text.size() - 1).c_str());
  }
  AfterMessageSent();
  return true;
}

void Connection::AfterMessageSent() {
  if (!faulty_) return;
  const Faults& faults = faults_;
  uint64_t release = faults.delay_ms > 0 ? context_->now_ms + faults.delay_ms : 0;
  if (Reached(faults.garbage_after, messages_sent_)) {
    Fault("sending garbage");
    out_.Append(GarbageMessage(), release);
  }
  if (Reached(faults.overlong_after, messages_sent_)) {
    Fault("sending an over-long message");
    out_.Append(OverlongMessage(faults.overlong_size), release);
  }
  if (Reached(faults.tiny_messages_after, messages_sent_)) {
    Fault("sending a flood of tiny messages");
    Prefix prefix = dialog_.session != nullptr ? Prefix{true, dialog_.session->id} : Prefix{};
    const std::string tiny = TextMessage(prefix, '+', "HRTB", 0);
    for (uint32_t i = 0; i < faults.tiny_messages; ++i) out_.Append(tiny, release);
  }
  if (Reached(faults.silent_after, messages_sent_)) {
    Fault("going silent");
    silent_ = true;
  }
}

bool Connection::SendText(const std::string& message) { return Emit({message}, false); }

bool Connection::SendBlock(Prefix prefix, uint32_t number, std::string_view data, bool last) {
  int64_t drop_after = faulty_ ? faults_.drop_after_blocks : -1;
  if (drop_after >= 0 && blocks_sent_ >= static_cast<uint64_t>(drop_after)) {
    CloseAfterFlush("fault: dropping before the next block");
    return false;
  }
  uint32_t declared = static_cast<uint32_t>(data.size());
  if (faulty_ && Reached(faults_.reset_in_block_after, blocks_sent_)) {
    Fault("resetting the connection in the middle of a block");
    Emit({BlockHead(prefix, number, declared), data.substr(0, data.size() / 2)}, true);
    reset_ = true;
    CloseAfterFlush("fault: reset in the middle of a block");
    return false;
  }
  if (faulty_ && Reached(faults_.overrun_block_after, blocks_sent_)) {
    Fault("sending a block whose length runs past its data");
    constexpr uint32_t kOverrun = 1000;
    if (declared + kOverrun <= 65535) {
      declared += kOverrun;
    } else {
      data = data.substr(0, data.size() - kOverrun);
    }
  }
  std::string head = BlockHead(prefix, number, declared);
  if (!Emit({head, data, BlockTail(last)}, true)) return false;
  ++blocks_sent_;
  ++context_->counters.blocks_sent;
  context_->log.Detail("conn %u: sent block %u (%zu bytes%s)", number_, number, data.size(),
                       last ? ", last" : "");
  if (Reached(drop_after, blocks_sent_)) {
    Fault("dropping the connection");
    CloseAfterFlush("fault: dropped after blocks");
  }
  return true;
}

void Connection::OnReadable() {
  char chunk[kReadChunk];
  ssize_t got = ::recv(fd_, chunk, sizeof(chunk), 0);
  if (got == 0) return Drop("client closed");
  if (got < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    return Drop("read error");
  }
  context_->counters.bytes_received += static_cast<uint64_t>(got);
  if (!Accepting()) return;  // silent or closing: the input is read and thrown away
  in_.append(chunk, static_cast<size_t>(got));
  HandleInput();
}

bool Connection::OutputFull() const { return out_.Pending() >= context_->options.output_limit; }

void Connection::HandleInput() {
  size_t start = 0;
  size_t nul;
  while (reading_ && Accepting() && !OutputFull() &&
         (nul = in_.find('\0', start)) != std::string::npos) {
    std::string_view text(in_.data() + start, nul - start);
    start = nul + 1;
    if (text.size() > kMaxMessage) return DropOversized();
    ++messages_received_;
    ++context_->counters.messages_received;
    context_->log.Detail("conn %u: received %s", number_,
                         Printable(text.data(), text.size()).c_str());
    HandleMessage(this, text, context_);
    int64_t stop_after = faulty_ ? faults_.stop_reading_after : -1;
    if (Reached(stop_after, messages_received_)) {
      Fault("no longer reading from the client");
      reading_ = false;
    }
  }
  in_.erase(0, start);
  if (!reading_ || !Accepting()) {
    in_.clear();
  } else if (in_.size() > kMaxMessage && in_.find('\0') == std::string::npos) {
    DropOversized();
  } else if (OutputFull() && !paused_) {
    paused_ = true;  // complete messages wait in in_ until the client reads its answers
    ++context_->counters.input_pauses;
    context_->log.Detail("conn %u: output full, input paused", number_);
  }
}

void Connection::ResumeInput() {
  if (!paused_ || OutputFull()) return;
  paused_ = false;
  HandleInput();
}

void Connection::MarkFileEnd(size_t file) {
  if (context_->options.on_file_written) file_ends_.emplace_back(last_emit_end_, file);
}

void Connection::ReportWrittenFiles() {
  while (!file_ends_.empty() && file_ends_.front().first <= written_bytes_) {
    const uint64_t now =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count());
    context_->options.on_file_written(context_->feed.at(file_ends_.front().second).name, now);
    file_ends_.pop_front();
  }
}

void Connection::DropOversized() {
  ++context_->counters.oversized_inputs;
  in_.clear();
  Drop("over-long message from the client");
}

void Connection::Flush() {
  bool one_byte = faulty_ && faults_.one_byte_writes;
  while (!dropped_) {
    size_t ready = out_.Releasable(context_->now_ms);
    if (ready == 0) return;
    size_t size = one_byte ? 1 : ready;
    ssize_t sent = ::send(fd_, out_.Front(), size, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) Drop("write error");
      return;
    }
    out_.Consume(static_cast<size_t>(sent));
    written_bytes_ += static_cast<uint64_t>(sent);
    if (!file_ends_.empty()) ReportWrittenFiles();
    context_->counters.bytes_sent += static_cast<uint64_t>(sent);
    ++context_->counters.write_calls;
    RefillPipeline(this, context_);
    ResumeInput();
    if (one_byte) return;  // one byte per turn of the loop, so the pieces travel apart
  }
}

}  // namespace owwired
