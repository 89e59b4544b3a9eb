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

}  // namespace owc

#endif  // OWCLIENT_DOC_DOC_SETTINGS_H
