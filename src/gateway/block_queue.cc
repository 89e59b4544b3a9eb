#include "gateway/block_queue.h"

namespace owc {

void DeleteBlockElt(HOBWBlockQElt* elt) {
  if (elt == nullptr) return;
  delete[] elt->mFName;
  delete[] elt->mParentFName;
  delete[] elt->mData;
  delete elt;
}

HOBWBlockQ::~HOBWBlockQ() { DeleteAll(); }

void HOBWBlockQ::DeleteAll() {
  while (!IsEmpty()) DeleteBlockElt(RemoveHead());
}

}  // namespace owc
