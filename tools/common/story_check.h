// SPDX-License-Identifier: MIT
// The checks that owconvert and owgateway make of every story they convert, so that a
// story the library reads as nothing (a namespace it does not know, a document that is
// not NITF) does not pass silently as an empty page.
//
// Thread: any; each call works on its own data.
#ifndef OWTOOL_STORY_CHECK_H
#define OWTOOL_STORY_CHECK_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "owclient/owclient.h"

namespace owtools {

// The namespace URI of the document's root element; "" when it has none or no root
// element can be found. Reads at most the start of the document, up to the root's tag.
std::string RootNamespace(const char* xml, size_t len);

// True when the reading options name a namespace as none: the NITF namespaces with
// OBCONVERT_READ_PLAIN_NITF.
bool ReadsPlainly(const std::string& uri, uint32_t readOptions);

// The first half of StoryProblem, which needs no parse: one line when the root element of
// the document that `xml` starts is in a namespace not read plainly, else "".
std::string NamespaceProblem(const std::string& xml, uint32_t readOptions);

// One line saying what is wrong with a story that converted, or "" when nothing is:
// its root element is in a namespace not read plainly, or none of the standard fields
// (headline, subheadline, byline, distributor, dateline, series, body) has a value.
// `story` has been through OBConvertApplyTemplate; `xml` is the start of its XML file.
std::string StoryProblem(OBConvertObj story, const std::string& xml, uint32_t readOptions);

// Reads at most `limit` bytes from the start of a file; "" when it cannot be read.
std::string ReadFileStart(const std::string& path, size_t limit);

// Enough of a story file for RootNamespace: a DOCTYPE with a long internal subset still
// fits.
constexpr size_t kRootSearchBytes = 1u << 20;

}  // namespace owtools

#endif  // OWTOOL_STORY_CHECK_H
