// SPDX-License-Identifier: MIT
#include "transport/socket_error_text.h"

namespace owc {

namespace {

struct ErrorText {
  uint32_t code;
  const char* text;
};

const ErrorText kErrorTexts[] = {
    {10004, "interrupted call"},
    {10009, "BADF"},
    {10013, "access denied"},
    {10014, "memory fault"},
    {10022, "invalid argument"},
    {10024, "too many open"},
    {10035, "would block"},
    {10036, "in progress"},
    {10037, "already in progress"},
    {10038, "not a socket"},
    {10039, "dest addr required"},
    {10040, "message too long"},
    {10041, "wrong protocol"},
    {10042, "bad protocol option"},
    {10043, "protocol not supported"},
    {10044, "socket type not supported"},
    {10045, "operation not supported"},
    {10046, "proto family not supported"},
    {10047, "addr family not supported"},
    {10048, "addr in use"},
    {10049, "addr not available"},
    {10050, "net down"},
    {10051, "net unreachable"},
    {10052, "net reset"},
    {10053, "connection aborted"},
    {10054, "connection reset by peer"},
    {10055, "no buffers available"},
    {10056, "socket already connected"},
    {10057, "socket not connected"},
    {10058, "cannot send after shutdown"},
    {10059, "TOOMANYREFS"},
    {10060, "connection timed out"},
    {10061, "connection refused"},
    {10062, "LOOP"},
    {10063, "NAMETOOLONG"},
    {10064, "host is down"},
    {10065, "no route to host"},
    {10066, "NOTEMPTY"},
    {10067, "too many processes"},
    {10068, "USERS"},
    {10069, "DQUOT"},
    {10070, "STALE"},
    {10071, "REMOTE"},
    {10091, "net subsystem unavailable"},
    {10092, "DLL version out of range"},
    {10093, "WSAStartup not performed"},
    {10101, "graceful shutdown in progress"},
    {11001, "host not found"},
    {11002, "non-authoritative host not found"},
    {11003, "non-recoverable error"},
    {11004, "no data record of requested type"},
};

}  // namespace

const char* GetSocketErrorText(uint32_t code) {
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return "unknown";
}

}  // namespace owc
