// SPDX-License-Identifier: MIT
// Generated stories for the benchmark and demo corpus: a well-formed NITF document and its RDF
// metadata document, deterministic for a given index, so two runs serve the same bytes.
#ifndef OWWIRED_STORY_GENERATOR_H
#define OWWIRED_STORY_GENERATOR_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace owwired {

// The namespace the metadata elements of a generated RDF document are declared in.
extern const char kMetaNamespace[];

// "story" + the index in at least five digits: the base name of generated story `index`.
std::string GeneratedStoryBase(uint32_t index);

// The NITF document of story `index`: headline, subheadline, byline, distributor, dateline,
// series, and body paragraphs until the document is at least `approxSize` bytes long (it
// overshoots by less than one paragraph).
std::string GenerateStoryXml(uint32_t index, size_t approxSize);

// The RDF metadata document of story `index`: a root `Resource` in kMetaNamespace with
// headline, keyword and category children.
std::string GenerateStoryRdf(uint32_t index);

}  // namespace owwired

#endif  // OWWIRED_STORY_GENERATOR_H
