// Queued story-file blocks: each HOBWBlockQElt in the queue owns its own copies of the
// file names and the data, all allocated with new[] (the element itself with new).
#ifndef OWCLIENT_GATEWAY_BLOCK_QUEUE_H
#define OWCLIENT_GATEWAY_BLOCK_QUEUE_H

#include "owclient/owclient.h"
#include "runtime/dl_list.h"

namespace owc {

// Frees an owned element's names and data, then the element; nullptr does nothing.
void DeleteBlockElt(HOBWBlockQElt* elt);

// Owns the elements it holds: RemoveHead passes one to the caller, DeleteAll and the
// destructor delete the rest. No lock of its own: its owner serialises access.
class HOBWBlockQ : public DLList<HOBWBlockQElt*> {
 public:
  HOBWBlockQ() = default;
  ~HOBWBlockQ() override;

  void DeleteAll();
};

}  // namespace owc

#endif  // OWCLIENT_GATEWAY_BLOCK_QUEUE_H
