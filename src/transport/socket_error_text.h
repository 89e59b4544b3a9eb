// SPDX-License-Identifier: MIT
// Short texts of the socket error numbers (the Windows Sockets numbering that
// platform/socket_errors.h reports).
#ifndef OWCLIENT_TRANSPORT_SOCKET_ERROR_TEXT_H
#define OWCLIENT_TRANSPORT_SOCKET_ERROR_TEXT_H

#include <cstdint>

namespace owc {

// A static text such as "connection reset by peer"; "unknown" for unlisted codes.
const char* GetSocketErrorText(uint32_t code);

}  // namespace owc

#endif  // OWCLIENT_TRANSPORT_SOCKET_ERROR_TEXT_H
