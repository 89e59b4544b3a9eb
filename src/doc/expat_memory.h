// SPDX-License-Identifier: MIT
// The memory functions our expat parsers allocate with. A reset parser frees its tables and
// the next document allocates them again at the same sizes, dozens of blocks per story; a
// small per-thread cache of freed blocks hands them back without the allocator's work.
//
// Thread: any. Each thread keeps its own cache; a block may be freed on another thread than
// the one that allocated it.
#ifndef OWCLIENT_DOC_EXPAT_MEMORY_H
#define OWCLIENT_DOC_EXPAT_MEMORY_H

#include <expat.h>

namespace owc {

// Valid for the life of the process, as expat requires of a parser's suite.
const XML_Memory_Handling_Suite* ExpatMemory();

}  // namespace owc

#endif  // OWCLIENT_DOC_EXPAT_MEMORY_H
