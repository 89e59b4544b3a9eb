// SPDX-License-Identifier: MIT
// The client port's receive path over arbitrary byte streams, without sockets: bytes go
// into the receive stream in the pieces a network might deliver and are parsed as
// ProcessRX does after each read.
//
// Input: one byte n, then n % 16 piece lengths (two bytes each, big-endian), then the
// stream. The stream is delivered in pieces of those lengths, used in turn and repeated
// until it is exhausted; a length of 0 is a poll that brings nothing new.
//
// Invariants: how the stream is cut never changes the messages parsed from it, the
// bytes left unparsed, nor whether those can never be parsed; a direct ParseRXMsg over
// the whole stream consumes no more than it was given and leaves exactly those bytes;
// every message carries a NUL-terminated image; the USER time-out switch follows the
// USER acknowledgements.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "owclient/wire_messages.h"
#include "wire/client_port.h"

namespace {

using owc::WCOWClientPort;
using owc_fuzz::InputReader;

// Default-initialised rather than through make_unique, which would first zero the
// port's 100 kB of buffers on every run.
std::unique_ptr<WCOWClientPort> NewPort() {
  return std::unique_ptr<WCOWClientPort>(new WCOWClientPort);
}

struct Outcome {
  std::vector<std::string> messages;
  bool sawUser = false;
};

// Everything a receiver can observe of a message, in one comparable text.
std::string Describe(const WCXMLWireMsg& m) {
  FUZZ_CHECK(m.GetType() < WCXMLWireMsg::kTypeInvalid);
  FUZZ_CHECK(m.GetMsgBuf() != nullptr && m.GetMsgLen() > 0);
  FUZZ_CHECK(m.GetMsgBuf()[m.GetMsgLen() - 1] == '\0');
  std::string d = std::to_string(m.GetType()) + "/" + std::to_string(m.HasSessionID()) + "/" +
                  std::to_string(m.GetSessionID()) + "/" + std::to_string(m.GetAckType()) + "/" +
                  std::to_string(m.GetStatus()) + "/";
  d.append(m.GetMsgBuf(), m.GetMsgLen());
  if (const auto* b = dynamic_cast<const WCXMLWireMsgRequestBlockAck*>(&m)) {
    const auto* image = reinterpret_cast<const uint8_t*>(m.GetMsgBuf());
    FUZZ_CHECK(b->GetData() >= image && b->GetData() + b->GetDataLength() <= image + m.GetMsgLen());
    d += "/" + std::to_string(b->GetBlockNumber()) + "/" + std::to_string(b->IsLastBlock());
  }
  if (const auto* f = dynamic_cast<const WCXMLWireMsgRequestFileAck*>(&m)) {
    FUZZ_CHECK(f->GetName1() != nullptr);
    d += "/";
    d += f->GetName1();
    if (f->GetName2() != nullptr) d += std::string("/") + f->GetName2();
  }
  return d;
}

// Takes every queued message; false when there was none.
bool Drain(WCOWClientPort& port, Outcome* out) {
  bool any = false;
  while (WCXMLWireMsg* m = port.GetRXMsg()) {
    if (m->GetType() == WCXMLWireMsg::kTypeUser) out->sawUser = true;
    out->messages.push_back(Describe(*m));
    delete m;
    any = true;
  }
  FUZZ_CHECK(!port.HasRXMsg() && port.GetRXMsgCount() == 0);
  return any;
}

// One read's worth of bytes, then polls as the connection makes them: parse, deliver
// what was parsed, and again while the queue's bound held messages back.
void Deliver(WCOWClientPort& port, std::string_view piece, Outcome* out) {
  FUZZ_CHECK(port.GetRXStream().Add(piece.data(), static_cast<uint32_t>(piece.size())));
  bool newData = !piece.empty();
  do {
    port.ParseRXStream(newData);
    newData = false;
  } while (Drain(port, out));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  owc_fuzz::InstallLogSink();
  InputReader input(data, size);
  std::vector<uint16_t> cuts(input.Byte() % 16);
  for (uint16_t& cut : cuts) cut = input.Word();
  const std::string_view stream = input.Rest();

  // Cut as the input says.
  auto pieces = NewPort();
  Outcome cut;
  size_t at = 0;
  bool progress = true;
  while (at < stream.size() && progress) {
    progress = false;
    for (uint16_t length : cuts) {
      std::string_view piece = stream.substr(at, length);
      Deliver(*pieces, piece, &cut);
      at += piece.size();
      progress = progress || !piece.empty();
    }
  }
  Deliver(*pieces, stream.substr(at), &cut);
  Deliver(*pieces, std::string_view(), &cut);  // a poll after the last read

  // All at once.
  auto whole = NewPort();
  Outcome once;
  Deliver(*whole, stream, &once);

  FUZZ_CHECK(cut.messages == once.messages);
  const uint32_t left = whole->GetRXStream().GetTotal();
  FUZZ_CHECK(pieces->GetRXStream().GetTotal() == left);
  FUZZ_CHECK(pieces->IsFrontBlocked() == whole->IsFrontBlocked());
  FUZZ_CHECK(pieces->IsUserAcknowledged() == cut.sawUser);
  FUZZ_CHECK(whole->IsUserAcknowledged() == once.sawUser);

  // The parse itself, on a window that holds the whole stream.
  if (stream.size() <= WCOWClientPort::kParseWindowBytes) {
    auto direct = NewPort();
    const std::string window(stream);
    const uint32_t length = static_cast<uint32_t>(window.size());
    uint32_t offset = 0;
    Outcome parsed;
    for (;;) {
      const uint32_t consumed = direct->ParseRXMsg(window.c_str() + offset, length - offset);
      FUZZ_CHECK(consumed <= length - offset);
      offset += consumed;
      if (!Drain(*direct, &parsed)) break;
    }
    FUZZ_CHECK(length - offset == left);
    FUZZ_CHECK(parsed.messages == once.messages);
  }
  return 0;
}
