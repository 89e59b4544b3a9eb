// SPDX-License-Identifier: MIT
// bench_corpus: writes a generated story corpus to a folder.
//   bench_corpus OUTDIR COUNT XML_BYTES [FIRST_INDEX]
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "corpus.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s OUTDIR COUNT XML_BYTES [FIRST_INDEX]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const unsigned long count = std::strtoul(argv[2], nullptr, 10);
  const unsigned long size = std::strtoul(argv[3], nullptr, 10);
  const unsigned long first = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 0;
  mkdir(dir.c_str(), 0755);
  std::string error;
  size_t bytes = 0;
  for (unsigned long i = 0; i < count; ++i) {
    std::vector<owbench::Story> one = {
        owbench::GenerateStory(static_cast<uint32_t>(first + i), size)};
    bytes += one[0].xml.size() + one[0].rdf.size();
    if (!owbench::WriteCorpus(one, dir, &error)) {
      std::fprintf(stderr, "bench_corpus: %s\n", error.c_str());
      return 1;
    }
  }
  std::printf("%lu stories, %zu bytes (XML + RDF) in %s\n", count, bytes, dir.c_str());
  return 0;
}
