// SPDX-License-Identifier: MIT
#include "doc/parser_cache.h"

#include <expat.h>

#include <chrono>
#include <cstdint>
#include <random>

#include "doc/block_cache.h"

namespace owc {

namespace {

// splitmix64: cheap, and every seed gives a full-period sequence.
uint64_t NextSalt(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t EntropySeed() {
  try {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
  } catch (...) {
    // No entropy source at all: the clock and the stack's place still differ per process.
    uint64_t seed = 0;
    return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
           reinterpret_cast<uintptr_t>(&seed);
  }
}

// Left to itself, expat asks the kernel for a new salt at every reset: a system call and
// an environment look-up per document. A salt drawn from a generator seeded once per
// thread from the system's entropy source is as unknown to the sender of a story, so
// hash flooding stays defeated.
unsigned long DrawSalt() {
  thread_local uint64_t state = EntropySeed();
  const unsigned long salt = static_cast<unsigned long>(NextSalt(&state));
  return salt != 0 ? salt : 1;  // 0 would make expat draw its own
}

// A reset parser frees its tables and the next document allocates them again at the same
// sizes.
const XML_Memory_Handling_Suite kCachedMemory = {CacheAllocate, CacheReallocate, CacheRelease};

}  // namespace

XMLParserCache::~XMLParserCache() {
  if (mParser != nullptr) XML_ParserFree(mParser);
}

// A reset clears the handlers, the options, the DTD, the error and the hash salt, and
// keeps the namespace separator.
XML_ParserStruct* XMLParserCache::Take() {
  if (mParser == nullptr || XML_ParserReset(mParser, "UTF-8") != XML_TRUE) {
    if (mParser != nullptr) XML_ParserFree(mParser);
    mParser = XML_ParserCreate_MM("UTF-8", &kCachedMemory, ":");
    if (mParser == nullptr) return nullptr;
  }
  XML_SetHashSalt(mParser, DrawSalt());
  return mParser;
}

}  // namespace owc
