// SPDX-License-Identifier: MIT
// Keyword look-ups that only the receiving side needs. The look-ups a caller building
// messages may want (GetMsgKeyword, GetRequestKeyword, GetRequestType, GetStatusText)
// are public, in owclient/wire_messages.h.
#ifndef OWCLIENT_WIRE_WIRE_MSG_TABLES_H
#define OWCLIENT_WIRE_WIRE_MSG_TABLES_H

#include <cstdint>

#include "owclient/wire_messages.h"

namespace owc {

// The type whose keyword equals the whole word, ignoring case, among types 0 to 9;
// 10 when none matches or word is null.
uint32_t GetMsgType(const char* word);

// The first type (0 to 9) whose keyword matches the start of text, ignoring case,
// comparing min(keyword length, available) bytes; 10 when none matches. So "user..."
// is USER, "BLK12:..." is BLK, and a text cut short matches on the bytes it has.
// REQUIRES: text is valid for min(available, 4) bytes.
uint32_t GetMsgTypeByPrefix(const char* text, uint32_t available);

}  // namespace owc

#endif  // OWCLIENT_WIRE_WIRE_MSG_TABLES_H
