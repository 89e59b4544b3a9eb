// SPDX-License-Identifier: MIT
// The server's side of the wire format: cutting a client's text message into its parts, and
// writing the server's text and block messages byte for byte.
//
// This is owwired's own code on purpose: it shares nothing with the client library, so a
// misreading of the format on one side shows up as a failure instead of hiding.
#ifndef OWWIRED_WIRE_FORMAT_H
#define OWWIRED_WIRE_FORMAT_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace owwired {

// Keywords the server answers. Anything else is kUnknown and gets UNKN.
enum class Keyword { kUser, kFilter, kRequest, kAck, kHeartbeat, kDone, kUnknown };

// One text message from a client, without its NUL.
struct ClientMessage {
  bool hasSession = false;
  uint32_t sessionId = 0;
  char ack = 0;  // '+', '-' or 0
  Keyword keyword = Keyword::kUnknown;
  std::string keywordText;  // as written, for logs
  std::vector<std::string> args;
};

// Cuts `text` (one message, NUL excluded) into session prefix, acknowledgement character,
// keyword and arguments. False for text that is not a message: empty, control bytes other
// than white space, a session prefix that is not "digits:" or nothing after the prefix.
bool ParseClientMessage(std::string_view text, ClientMessage* out);

// The status text for a code, as the protocol writes it ("(204) No content"); unknown codes
// are written as "(400) Bad request".
std::string_view StatusText(int code);

// A session id to write as a prefix, or none.
struct Prefix {
  bool present = false;
  uint32_t id = 0;
};

// A complete text message, NUL included: the prefix, the acknowledgement character (0 for
// none), the keyword, " " + the status text when `status` is not 0, then " " + each argument.
std::string TextMessage(Prefix prefix, char ack, std::string_view keyword, int status,
                        const std::vector<std::string>& args = {});

// The bytes of a block message before its data: prefix, "+BLK", the block number, ":" and the
// data length as two bytes, most significant first. REQUIRES: length <= 65535.
std::string BlockHead(Prefix prefix, uint32_t number, uint32_t length);

// The bytes after a block's data: "BLKe" for the last block of a file, else "BLKm", then NUL.
std::string_view BlockTail(bool last);

// Parses a strict unsigned decimal (no sign, no spaces) that fits in 32 bits.
bool ParseU32(std::string_view text, uint32_t* value);

}  // namespace owwired

#endif  // OWWIRED_WIRE_FORMAT_H
