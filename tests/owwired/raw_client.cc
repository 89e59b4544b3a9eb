#include "raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace owwired_test {
namespace {

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// The position of the ':' that ends a block head ("[digits:]+BLK<digits>:") at the front of
// `bytes`, or npos when the front is not a block head (yet).
size_t BlockHeadEnd(std::string_view bytes, bool* is_block) {
  size_t i = 0;
  while (i < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[i]))) ++i;
  if (i > 0) {
    if (i >= bytes.size() || bytes[i] != ':') {
      *is_block = false;
      return std::string::npos;
    }
    ++i;
  }
  *is_block = bytes.substr(i, 4) == "+BLK";
  if (!*is_block) return std::string::npos;
  size_t j = i + 4;
  while (j < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[j]))) ++j;
  if (j >= bytes.size() || bytes[j] != ':') return std::string::npos;
  return j;
}

}  // namespace

RawClient::~RawClient() { Close(); }

void RawClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool RawClient::Connect(const std::string& address, uint16_t port, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) return false;
  do {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receive_buffer_ > 0) {
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer_, sizeof(receive_buffer_));
    }
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&where), sizeof(where)) == 0) {
      int on = 1;  // small requests back to back must not wait for the server's delayed ACK
      ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
      return true;
    }
    Close();
    std::this_thread::yield();
  } while (Remaining(deadline) > 0);
  return false;
}

bool RawClient::Send(const std::string& text) { return SendRaw(text + std::string(1, '\0')); }

bool RawClient::SendRaw(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t sent = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

bool RawClient::FillBuffer(int timeout_ms) {
  if (closed_ || fd_ < 0) return false;
  pollfd poll_fd{fd_, POLLIN, 0};
  if (::poll(&poll_fd, 1, timeout_ms) <= 0) return false;
  char chunk[65536];
  ssize_t got = ::recv(fd_, chunk, sizeof(chunk), 0);
  if (got <= 0) {
    closed_ = true;
    return false;
  }
  buffer_.append(chunk, static_cast<size_t>(got));
  return true;
}

void RawClient::DropFront(size_t count) {
  head_ += count;
  if (head_ == buffer_.size()) {
    buffer_.clear();
    head_ = 0;
  } else if (head_ > (1u << 20)) {
    buffer_.erase(0, head_);
    head_ = 0;
  }
}

bool RawClient::TakeMessage(Received* message) {
  std::string_view bytes(buffer_.data() + head_, buffer_.size() - head_);
  bool is_block = false;
  size_t colon = BlockHeadEnd(bytes, &is_block);
  if (is_block) {
    if (colon == std::string::npos || bytes.size() < colon + 3) return false;
    size_t length = (static_cast<unsigned char>(bytes[colon + 1]) << 8) |
                    static_cast<unsigned char>(bytes[colon + 2]);
    size_t total = colon + 3 + length + 5;
    if (bytes.size() < total) return false;
    *message = Received();
    message->is_block = true;
    message->raw = std::string(bytes.substr(0, total));
    size_t plus = bytes.find("+BLK");
    message->prefix = std::string(bytes.substr(0, plus));
    message->number = static_cast<uint32_t>(std::strtoul(bytes.data() + plus + 4, nullptr, 10));
    message->data = std::string(bytes.substr(colon + 3, length));
    message->marker = std::string(bytes.substr(colon + 3 + length, 4));
    DropFront(total);
    return true;
  }
  size_t nul = bytes.find('\0');
  if (nul == std::string::npos) return false;
  *message = Received();
  message->raw = std::string(bytes.substr(0, nul + 1));
  message->text = std::string(bytes.substr(0, nul));
  DropFront(nul + 1);
  return true;
}

bool RawClient::Read(Received* message, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!TakeMessage(message)) {
    if (!FillBuffer(Remaining(deadline))) return false;
  }
  return true;
}

std::string RawClient::ReadText(int timeout_ms) {
  Received message;
  if (!Read(&message, timeout_ms)) return "<none>";
  return message.is_block ? "" : message.text;
}

std::string RawClient::ReadBytes(size_t count, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (buffered() < count && FillBuffer(Remaining(deadline))) {
  }
  std::string bytes = buffer_.substr(head_, count);
  DropFront(bytes.size());
  return bytes;
}

bool RawClient::WaitClosed(int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!closed_ && Remaining(deadline) > 0) FillBuffer(Remaining(deadline));
  return closed_;
}

bool RawClient::HasPendingBytes() {
  if (buffered() > 0) return true;
  pollfd poll_fd{fd_, POLLIN, 0};
  return ::poll(&poll_fd, 1, 0) > 0;
}

std::string RawClient::LogIn(uint32_t resume_id) {
  if (ReadText().compare(0, 5, "+Tazu") != 0) return "";
  Send(resume_id != 0 ? std::to_string(resume_id) + ":USER" : "USER");
  std::string answer = ReadText();
  size_t colon = answer.find(':');
  if (colon == std::string::npos || answer.substr(colon) != ":+USER") return "";
  std::string prefix = answer.substr(0, colon + 1);
  Send(prefix + "FLTR ALL");
  return ReadText() == prefix + "+FLTR" ? prefix : "";
}

std::string RawClient::FetchFile(const std::string& prefix, std::string* names) {
  Send(prefix + "RQST");
  std::string file = ReadText();
  if (file.compare(0, prefix.size() + 5, prefix + "+FILE") != 0) return "<error>";
  std::string announced = file.substr(prefix.size() + 6);
  if (names != nullptr) *names = announced;
  Send(prefix + "+ACK " + announced);
  std::string data;
  Received block;
  do {
    if (!Read(&block) || !block.is_block) return "<error>";
    data += block.data;
    Send(prefix + "+ACK " + std::to_string(block.number));
  } while (!block.last());
  return data;
}

uint32_t SessionIdOf(const std::string& prefix) {
  return static_cast<uint32_t>(std::strtoul(prefix.c_str(), nullptr, 10));
}

}  // namespace owwired_test
