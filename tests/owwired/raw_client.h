// A wire client for owwired's tests, written against the byte layout alone (not the library's
// parser, and not owwired's own): it sends text messages and cuts what arrives into text and
// block messages. Every wait has a deadline; nothing sleeps.
#ifndef OWWIRED_TESTS_RAW_CLIENT_H_
#define OWWIRED_TESTS_RAW_CLIENT_H_

#include <cstdint>
#include <string>

namespace owwired_test {

// One message as it arrived, NUL included in `raw`.
struct Received {
  std::string raw;
  bool is_block = false;
  // Text: everything before the NUL. Blocks: the parts.
  std::string text;
  std::string prefix;  // "123:" or empty
  uint32_t number = 0;
  std::string data;
  std::string marker;  // "BLKm" or "BLKe"
  bool last() const { return marker == "BLKe"; }
};

class RawClient {
 public:
  static constexpr int kWaitMs = 5000;

  RawClient() = default;
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // Sets SO_RCVBUF on the sockets of later Connect calls (0: the system's default).
  void set_receive_buffer(int bytes) { receive_buffer_ = bytes; }

  // Connects, retrying refused attempts until the deadline.
  bool Connect(const std::string& address, uint16_t port, int timeout_ms = kWaitMs);
  void Close();

  // Sends `text` and its NUL.
  bool Send(const std::string& text);
  // Sends bytes as they are. May run on another thread than Read (a sender that floods while
  // the test reads).
  bool SendRaw(const std::string& bytes);

  // The next message, or false when none complete arrived before the deadline or the
  // connection closed first.
  bool Read(Received* message, int timeout_ms = kWaitMs);
  // The next message's text (blocks give ""), or "<none>".
  std::string ReadText(int timeout_ms = kWaitMs);

  // True when the server closed the connection (after any messages still unread are
  // drained) before the deadline.
  bool WaitClosed(int timeout_ms = kWaitMs);

  // True when bytes are waiting, without waiting.
  bool HasPendingBytes();

  // Raw bytes as they come (for byte-level checks), up to `count`.
  std::string ReadBytes(size_t count, int timeout_ms = kWaitMs);

  // Hello, USER (with `resume_id` when not 0) and FLTR ALL; returns the session prefix
  // ("123:"), or "" on any surprise.
  std::string LogIn(uint32_t resume_id = 0);

  // RQST, ACK of the FILE, and the blocks acknowledged one by one until the last; the
  // concatenated data, or "<error>". `names` receives the FILE's names.
  std::string FetchFile(const std::string& prefix, std::string* names = nullptr);

  size_t buffered() const { return buffer_.size() - head_; }

 private:
  bool FillBuffer(int timeout_ms);
  bool TakeMessage(Received* message);
  void DropFront(size_t count);

  int fd_ = -1;
  int receive_buffer_ = 0;
  bool closed_ = false;
  std::string buffer_;  // bytes before head_ are consumed
  size_t head_ = 0;
};

// Number in a "123:" prefix.
uint32_t SessionIdOf(const std::string& prefix);

}  // namespace owwired_test

#endif  // OWWIRED_TESTS_RAW_CLIENT_H_
