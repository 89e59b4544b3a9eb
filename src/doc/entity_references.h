// SPDX-License-Identifier: MIT
// Escaping of the XML special characters in text taken from a story document.
#ifndef OWCLIENT_DOC_ENTITY_REFERENCES_H
#define OWCLIENT_DOC_ENTITY_REFERENCES_H

#include <cstddef>
#include <cstdint>

namespace owc {

// Copies *source (sourceLen bytes) into dest, writing "&quot;", "&amp;", "&lt;", "&gt;"
// (and "&apos;" when escapeApos) in place of the bare characters; an "&" that already
// starts one of those five references is copied alone. Bytes are never decoded.
//
// A byte copied as itself needs 2 free bytes of dest, a reference of k characters k + 2,
// so the output always stays NUL-terminated. Returns 0 when everything was converted;
// otherwise the number of source bytes that did not fit, from *source on (*source then
// points at the first byte not converted). *count (if given) receives the number of
// references written. A destSize of 0 writes nothing, not even the NUL.
int32_t FixEntityReferences(const char** source, uint32_t sourceLen, char* dest, uint32_t destSize,
                            uint32_t* count, bool escapeApos);

// The same conversion in one pass into dest, without the room rule: the bytes come
// out exactly as FixEntityReferences writes them (no NUL). Returns the number of bytes
// written; *count (if given) receives the number of references.
// REQUIRES: dest has room for kMaxEscapeGrowth * len bytes.
constexpr size_t kMaxEscapeGrowth = 6;
size_t WriteEntityEscaped(char* dest, const char* data, size_t len, bool escapeApos,
                          uint32_t* count);

}  // namespace owc

#endif  // OWCLIENT_DOC_ENTITY_REFERENCES_H
