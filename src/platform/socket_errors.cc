// SPDX-License-Identifier: MIT
#include "platform/socket_errors.h"

#include <cerrno>

namespace owc {

namespace {

struct ErrnoMapping {
  int err;
  uint32_t code;
};

// The Windows Sockets numbers are 10000 plus the historical BSD errno values; the POSIX
// errno values of this host differ, hence the table.
const ErrnoMapping kMappings[] = {
    {EINTR, 10004},
    {EBADF, 10009},
    {EACCES, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {ENFILE, 10024},
    {EWOULDBLOCK, 10035},
#if EAGAIN != EWOULDBLOCK
    {EAGAIN, 10035},
#endif
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},
    // A send that fails with EPIPE here met a connection the peer has closed or reset
    // (this module never sends after its own shutdown), which Windows Sockets reports
    // as a reset.
    {EPIPE, 10054},
    {ENOBUFS, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
    {EUSERS, 10068},
    {EDQUOT, 10069},
    {ESTALE, 10070},
    {EREMOTE, 10071},
};

}  // namespace

uint32_t SocketErrorFromErrno(int err) {
  for (const ErrnoMapping& m : kMappings) {
    if (m.err == err) return m.code;
  }
  return static_cast<uint32_t>(err);
}

uint32_t LastSocketError() { return SocketErrorFromErrno(errno); }

bool IsTransientSocketError(uint32_t code) {
  return code == kSockErrWouldBlock || code == kSockErrInterrupted;
}

}  // namespace owc
