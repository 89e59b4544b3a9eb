// SPDX-License-Identifier: MIT
// A C++ program outside the project that uses the message classes of the installed
// library: it builds a message through the exported members, identifies it through the
// exported type information and hands it to the C interface. Prints
// "consumer_messages: ok" and exits 0 when all is right.
#include <cstdio>
#include <cstring>

#include "owclient/owclient.h"
#include "owclient/wire_messages.h"

namespace {

int failures = 0;

void Expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "consumer_messages: %s\n", what);
    ++failures;
  }
}

}  // namespace

int main() {
  static const char kImage[] = "42:USER alice";
  WCXMLWireMsg* msg = new WCXMLWireMsgUserReq;
  // Needs the library's typeinfo: a hidden one would make the cast fail.
  auto* user = dynamic_cast<WCXMLWireMsgUserReq*>(msg);
  Expect(user != nullptr, "dynamic_cast to the derived class fails");
  Expect(dynamic_cast<WCXMLWireMsgDoneReq*>(msg) == nullptr, "dynamic_cast to a sibling succeeds");
  if (user != nullptr) {
    Expect(user->SetInfo(1, 42, "alice"), "SetInfo fails");
    Expect(msg->GetType() == WCXMLWireMsg::kTypeUser, "the type is not USER");
    Expect(msg->GetMsgLen() == sizeof kImage &&
               std::memcmp(msg->GetMsgBuf(), kImage, sizeof kImage) == 0,
           "the wire image is not the expected one");
  }
  Expect(std::strcmp(GetStatusText(410), "(410) Gone") == 0, "the status text of 410");
  Expect(std::strcmp(GetMsgKeyword(WCXMLWireMsg::kTypeFilter), "FLTR") == 0, "the keyword of FLTR");
  // Handle 0 is no connection: refused, and the message stays ours.
  Expect(OrbrixWireTXMsg(0, msg) == 2, "sending on handle 0 is not refused with 2");
  delete msg;
  if (failures != 0) return 1;
  std::puts("consumer_messages: ok");
  return 0;
}
