// SPDX-License-Identifier: MIT
// Socket errors in the numbering of the Windows Sockets error table (10035 "would block",
// 10054 "connection reset by peer", ...), so that log lines and error texts read the same
// on every platform. An errno with no counterpart in that table is reported unchanged.
#ifndef OWCLIENT_PLATFORM_SOCKET_ERRORS_H
#define OWCLIENT_PLATFORM_SOCKET_ERRORS_H

#include <cstdint>

namespace owc {

constexpr uint32_t kSockErrInterrupted = 10004;
constexpr uint32_t kSockErrNotSocket = 10038;
constexpr uint32_t kSockErrWouldBlock = 10035;
constexpr uint32_t kSockErrInProgress = 10036;
constexpr uint32_t kSockErrConnReset = 10054;
constexpr uint32_t kSockErrNotConnected = 10057;
constexpr uint32_t kSockErrTimedOut = 10060;
constexpr uint32_t kSockErrConnRefused = 10061;

// The socket error number for an errno value.
uint32_t SocketErrorFromErrno(int err);

// SocketErrorFromErrno(errno): the error of the calling thread's last socket call.
uint32_t LastSocketError();

// True for the errors that only mean "not now": would block and interrupted calls.
bool IsTransientSocketError(uint32_t code);

}  // namespace owc

#endif  // OWCLIENT_PLATFORM_SOCKET_ERRORS_H
