// SPDX-License-Identifier: MIT
// Generated story corpus for the benchmarks: NITF documents with RDF metadata, shaped like
// agency copy (several subheadlines and bylines, nested body markup, entity and character
// references, tables, lists, quotes, figures, editor notes, non-ASCII text) and grown to a
// chosen size. Deterministic: the same index and size always give the same bytes.
#ifndef OWCLIENT_BENCH_CORPUS_H
#define OWCLIENT_BENCH_CORPUS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace owbench {

// The metadata namespace the RDF documents declare (the library's default).
extern const char kMetaNamespace[];

struct Story {
  std::string base;  // "story" + the index in at least five digits
  std::string xml;   // the NITF document
  std::string rdf;   // the metadata document
};

// Story `index` whose NITF document is at least `xmlBytes` long (it overshoots by less than
// one body section, about 1.5 KB, and is never below about 1.4 KB).
Story GenerateStory(uint32_t index, size_t xmlBytes);

// Stories `first` .. `first + count - 1`.
std::vector<Story> GenerateCorpus(uint32_t first, uint32_t count, size_t xmlBytes);

// Writes base.xml and base.rdf of every story into `dir` (which must exist). False with
// `error` set when a file cannot be written.
bool WriteCorpus(const std::vector<Story>& stories, const std::string& dir, std::string* error);

// Reads a whole file; false when it cannot be read.
bool ReadFile(const std::string& path, std::string* out);

// Reads a whole file the benchmark cannot do without; ends the program with status 2 (and
// `program`'s name in the message) when it cannot be read.
std::string MustRead(const std::string& path, const char* program);

}  // namespace owbench

#endif  // OWCLIENT_BENCH_CORPUS_H
