// SPDX-License-Identifier: MIT
#include "gateway/block_queue.h"

namespace owc {

void DeleteQueuedBlock(HOBWQueuedBlock* block) {
  if (block == nullptr) return;
  delete[] block->record.mFName;
  delete[] block->record.mParentFName;
  if (!block->owner) delete[] block->record.mData;
  delete block;
}

HOBWBlockQ::~HOBWBlockQ() { DeleteAll(); }

void HOBWBlockQ::DeleteAll() {
  while (!IsEmpty()) DeleteQueuedBlock(RemoveHead());
}

}  // namespace owc
