// SPDX-License-Identifier: MIT
// The concrete IOPort over one non-blocking TCP stream socket. Open adopts a socket the
// caller created, or CreateSocket and OpenCreated make one for the port (hard close, a
// 64 KB send and a 1 MB receive buffer, non-blocking), so that its owner never holds a
// descriptor. No operation blocks: readiness comes from a zero-wait poll and a peek,
// reads take what the socket holds, writes send what the socket and the pace allow and
// keep the rest in the overflow buffer. Any hard socket error is logged, recorded as the
// last error (in the Windows Sockets numbering, see platform/socket_errors.h) and closes
// the port; "would block" is never an error.
//
// Threads: driven by one thread at a time (the wire-client thread, or a thread writing a
// message it queued, both under the client thread's list lock); see IOPort for what other
// threads may call.
#ifndef OWCLIENT_TRANSPORT_TCP_PORT_H
#define OWCLIENT_TRANSPORT_TCP_PORT_H

#include <cstdint>
#include <string>

#include "transport/io_port.h"
#include "transport/socket_error_text.h"
#include "transport/socket_ops.h"

namespace owc {

class TCPPort : public IOPort {
 public:
  static constexpr int kInvalidSocket = -1;
  static constexpr int kSocketBufferSize = 65535;
  // The receive side takes more: with a 64 KB window a server streaming 64 KB blocks waits
  // for every read of the client thread, one wake-up of each side per block.
  static constexpr int kReceiveBufferSize = 1 << 20;
  // Past this many bytes held after a flush, Write logs that the overflow keeps growing.
  static constexpr uint32_t kOverflowWarnBytes = 2048;

  TCPPort() = default;
  ~TCPPort() override;

  // Discards the overflow buffer and closes the socket (resetting the connection, as
  // the linger time is 0). True also when already closed.
  bool Close() override;
  // Peeks one byte: a graceful close by the peer passes (the receive time-out finds it).
  bool CheckConnection() override;
  bool IsOpen() const override { return mSocket != kInvalidSocket; }
  // Latched once the socket is seen writable, which is how a non-blocking connect is
  // seen to complete.
  bool IsTXReady() override;
  bool IsRXReady() override;
  // Whether IsTXReady has latched already; no system call.
  bool IsTXLatched() const { return mTXReady; }

  // info points to the socket (an int) and size is 4. Adopts and configures it; on a
  // failed option the port closes the socket. True without change when already open.
  virtual bool Open(const void* info, uint32_t size);
  // Creates a stream socket for the port, which OpenCreated then adopts: handle is the
  // new socket as log lines print it. False, with error the socket error number, when
  // none could be created. REQUIRES: the port is closed.
  bool CreateSocket(unsigned& handle, uint32_t& error);
  // Open with the socket CreateSocket made; false (and no socket) without one.
  bool OpenCreated();
  // Starts the connect of the open port to address:port, both in host byte order (see
  // StartConnect); on kFailed, error is the socket error number.
  ConnectStart StartConnect(uint32_t address, uint16_t port, uint32_t& error);
  // Shuts the open socket down in both directions, as a graceful closer does before Close.
  void Shutdown();
  // Bytes the socket holds for reading (0 on failure, which closes the port).
  virtual bool GetRXCount(uint32_t& count);
  // Reads up to len bytes of what the socket holds; n = 0 and true when it holds none. A
  // peer's close or reset also reads as none (after any bytes that came before it): the
  // connection check and the receive time-out report those.
  virtual bool Read(uint8_t* buf, uint32_t len, uint32_t& n);
  // Read without first asking the socket how much it holds: one receive, so a caller
  // that drains the socket pays one system call per read instead of three. n = 0 and true
  // when nothing waits; an end of stream also reads as none and is remembered (PeerEnded).
  // A socket error is logged and closes the port as Read's does.
  bool ReadSome(uint8_t* buf, uint32_t len, uint32_t& n);
  // Whether a ReadSome since the port opened found the peer's end of stream.
  bool PeerEnded() const { return mPeerEnded; }
  // The paced write with overflow: sends the held overflow first (unpaced) and takes no
  // new bytes until it is gone; then sends what the pace allows and holds the rest,
  // reporting all len bytes as written. written = 0 and true before the connect
  // completes or while overflow remains: the caller keeps its bytes and calls again.
  virtual bool Write(const uint8_t* buf, uint32_t len, uint32_t& written);

  // One send; "would block" is success with sent = 0.
  bool LowLevelSend(const uint8_t* buf, uint32_t len, uint32_t& sent);
  void SetName(const char* name);
  const char* GetName() const { return mName.c_str(); }
  // The peer's IPv4 address in host byte order, 0 when there is none.
  uint32_t GetPeerAddress() const;
  // Logs up to the first 32 bytes, eight to a line, at level 4002.
  void DumpBuf(const uint8_t* data, uint32_t len);
  // The socket, kInvalidSocket when closed.
  int GetSocket() const { return mSocket; }
  // The handle as log lines print it ("%08x" of -1 is ffffffff).
  unsigned LogHandle() const { return static_cast<unsigned>(mSocket); }

 private:
  bool SetOptions();
  void DropCreated();
  // Logs line (which takes the handle and the code), records the code and closes.
  void FailWith(const char* line, uint32_t code);
  // Sends the held overflow; false when the port failed. Sets flushed when all went out.
  bool FlushOverflow(uint32_t len, bool& flushed);

  int mSocket = kInvalidSocket;
  int mCreatedSocket = kInvalidSocket;  // made by CreateSocket, not yet opened
  std::string mName;
  bool mTXReady = false;
  bool mPeerEnded = false;
};

}  // namespace owc

#endif  // OWCLIENT_TRANSPORT_TCP_PORT_H
