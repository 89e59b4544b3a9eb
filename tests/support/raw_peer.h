// A scripted peer for wire tests that need what no well-behaved server does: reset the
// connection, or stop reading. Listens on ADDRESS:39030, serves one connection.
#ifndef OWCLIENT_TESTS_SUPPORT_RAW_PEER_H
#define OWCLIENT_TESTS_SUPPORT_RAW_PEER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace owc_test {

class RawPeer {
 public:
  explicit RawPeer(uint32_t address, int rcvbuf = 0) {
    mListen = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(mListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // A small receive buffer on the listener is inherited by the accepted socket, so a
    // peer that stops reading fills up quickly.
    if (rcvbuf > 0) setsockopt(mListen, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(39030);
    sa.sin_addr.s_addr = htonl(address);
    mBound =
        bind(mListen, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && listen(mListen, 4) == 0;
  }
  ~RawPeer() {
    if (mConn >= 0) close(mConn);
    if (mListen >= 0) close(mListen);
  }
  bool Bound() const { return mBound; }

  bool Accept(int timeoutMs = 5000) {
    pollfd p{mListen, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return false;
    mConn = accept(mListen, nullptr, nullptr);
    return mConn >= 0;
  }
  bool SendAll(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = send(mConn, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  // Closes so that the client sees a reset rather than an end of stream.
  void Reset() {
    linger l{1, 0};
    setsockopt(mConn, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(mConn);
    mConn = -1;
  }
  // Reads until what arrived since the last call contains `part`, or nothing came for
  // idleMs; true when it did. The bytes up to and including `part` are used up.
  bool ReadUntil(const std::string& part, int idleMs = 5000) {
    for (;;) {
      size_t at = mPending.find(part);
      if (at != std::string::npos) {
        mPending.erase(0, at + part.size());
        return true;
      }
      std::string more = ReadUpTo(1, idleMs);
      if (more.empty()) return false;
      mPending += more;
    }
  }
  // Reads until `count` bytes arrived or nothing came for idleMs.
  std::string ReadUpTo(size_t count, int idleMs = 3000) {
    std::string out;
    char buf[65536];
    while (out.size() < count) {
      pollfd p{mConn, POLLIN, 0};
      if (poll(&p, 1, idleMs) != 1) break;
      ssize_t n = recv(mConn, buf, sizeof buf, 0);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }

 private:
  int mListen = -1;
  int mConn = -1;
  bool mBound = false;
  std::string mPending;  // read by ReadUntil, not used up yet
};

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_RAW_PEER_H
