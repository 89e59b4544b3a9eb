// SPDX-License-Identifier: MIT
#include "wire/wire_msg_queue.h"

namespace owc {

WCXMLWireMsgQ::~WCXMLWireMsgQ() { DeleteAll(); }

bool WCXMLWireMsgQ::AddMsg(WCXMLWireMsg* msg) { return AddTail(msg) != nullptr; }

void WCXMLWireMsgQ::DeleteAll() {
  while (!IsEmpty()) delete RemoveHead();
}

}  // namespace owc
