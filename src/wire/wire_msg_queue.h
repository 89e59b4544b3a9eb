// SPDX-License-Identifier: MIT
// The received messages of one connection, oldest first, between parsing and delivery.
#ifndef OWCLIENT_WIRE_WIRE_MSG_QUEUE_H
#define OWCLIENT_WIRE_WIRE_MSG_QUEUE_H

#include "owclient/wire_messages.h"
#include "runtime/dl_list.h"

namespace owc {

// Owns the messages it holds: RemoveHead passes one to the caller, DeleteAll and the
// destructor destroy the rest. No lock of its own: its owner serialises access.
class WCXMLWireMsgQ : public DLList<WCXMLWireMsg*> {
 public:
  WCXMLWireMsgQ() = default;
  ~WCXMLWireMsgQ() override;

  // Appends at the tail and takes ownership. False only when memory ran out; the caller
  // then keeps the message.
  bool AddMsg(WCXMLWireMsg* msg);
  // Destroys every message held and empties the list.
  void DeleteAll();
};

}  // namespace owc

#endif  // OWCLIENT_WIRE_WIRE_MSG_QUEUE_H
