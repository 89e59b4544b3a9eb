// SPDX-License-Identifier: MIT
// Queued story-file blocks: each queued block owns its own copies of the file names
// (new[]), and either its own copy of the data (new[]) or the received message whose image
// holds the data; the queued block itself is allocated with new.
#ifndef OWCLIENT_GATEWAY_BLOCK_QUEUE_H
#define OWCLIENT_GATEWAY_BLOCK_QUEUE_H

#include <memory>

#include "owclient/owclient.h"
#include "owclient/wire_messages.h"
#include "runtime/dl_list.h"

namespace owc {

struct HOBWQueuedBlock {
  HOBWBlockQElt record{};
  // The message whose image holds record's data; null when the data is record's own.
  std::unique_ptr<WCXMLWireMsg> owner;
};

// Frees a queued block's names and data (or the message holding it), then the block;
// nullptr does nothing.
void DeleteQueuedBlock(HOBWQueuedBlock* block);

// Owns the blocks it holds: RemoveHead passes one to the caller, DeleteAll and the
// destructor delete the rest. No lock of its own: its owner serialises access.
class HOBWBlockQ : public DLList<HOBWQueuedBlock*> {
 public:
  HOBWBlockQ() = default;
  ~HOBWBlockQ() override;

  void DeleteAll();
};

}  // namespace owc

#endif  // OWCLIENT_GATEWAY_BLOCK_QUEUE_H
