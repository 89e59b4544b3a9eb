// SPDX-License-Identifier: MIT
// Module-wide settings of the story documents, read by every document and by the
// template generator, written by the conversion interface (and the separator by the
// wire-client start-up).
//
// Thread: any. The values are atomics read with relaxed ordering: they are meant to be
// set before conversions start, and a change made while another thread parses takes
// effect at that thread's next read.
#ifndef OWCLIENT_DOC_DOC_SETTINGS_H
#define OWCLIENT_DOC_DOC_SETTINGS_H

#include <cstdint>

namespace owc {

// The namespace URI that the RDF metadata documents declare for their elements; the
// conversion interface uses it when a caller names no namespace.
extern const char kDefaultMetaNamespace[];

constexpr char kDefaultLevelSeparator = '\\';

// Entity-reference output modes: how captured character data is stored.
constexpr uint32_t kEntityRefRaw = 0;         // any value other than 1 and 2
constexpr uint32_t kEntityRefEscape = 1;      // markup characters escaped (default)
constexpr uint32_t kEntityRefEscapeApos = 2;  // the same, and the apostrophe too

// The character that starts each segment of a property path. Every path of the module
// follows it: the property index's parser, the paths a document builds, the standard
// field paths and the namespaced keys.
char GetLevelSeparator();
void SetLevelSeparator(char separator);

uint32_t GetEntityRefOutput();
void SetEntityRefOutput(uint32_t mode);

// Reading options (bits, 0 by default: documents are read exactly as described). The
// values are those of the OBCONVERT_READ_* constants of the public header.
constexpr uint32_t kReadPlainNitf = 0x1;         // NITF namespaces named as no namespace
constexpr uint32_t kReadDeclaredEncoding = 0x2;  // Latin-1 / windows-1252 read as declared
constexpr uint32_t kReadHtmlEntities = 0x4;      // the HTML 4 named references resolve
constexpr uint32_t kReadAllOptions = 0x7;

// Bits outside kReadAllOptions are dropped, so that a later option is never switched
// on by a caller that set bits it did not know.
uint32_t GetReadOptions();
void SetReadOptions(uint32_t options);

}  // namespace owc

#endif  // OWCLIENT_DOC_DOC_SETTINGS_H
