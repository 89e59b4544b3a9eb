// SPDX-License-Identifier: MIT
// The files the server delivers, in delivery order. Every session walks the same feed from
// its start; a session's cursor is an index into it, so files are only ever appended.
//
// Names: a story is the pair `base.xml` + `base.rdf`. Each file of a story is announced with
// two names, the parent `base.xml` and the file's own name, which is the form in which the
// client pairs a story's two files by base name and names the rendered HTML's parent. A file
// that is not part of a story is announced with its parent `stem.xml` when the feed holds a
// story of that stem (an image that belongs to a story), else with its name alone.
#ifndef OWWIRED_FEED_H
#define OWWIRED_FEED_H

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace owwired {

struct FeedFile {
  std::string name;
  std::string parent;  // empty: announced with its name alone
  std::string data;
};

// Not thread-safe: owned and used by the server loop.
class Feed {
 public:
  // Names travel as single tokens that the client echoes back in its acknowledgement:
  // 1 to 200 bytes, no white space, no control bytes, no '/'.
  static bool IsValidName(const std::string& name);

  // Appends one file after those already there. False (and nothing added) for an invalid or
  // duplicate name.
  bool Add(const std::string& name, std::string data);

  // Appends every regular file of `dir` not in the feed yet, skipping hidden files and invalid
  // names (listed in `skipped`). They are appended grouped by story: by stem (the name without
  // its last extension), within a stem the ".xml" file, the ".rdf" file, then the others by
  // name, so a story's two files follow each other as the client's pairing needs. Returns the
  // number added, or -1 with `error` set when the folder cannot be read.
  long LoadSpool(const std::string& dir, std::vector<std::string>* skipped, std::string* error);

  // Appends `count` generated stories (XML then RDF) of about `storySize` bytes each.
  void AddGenerated(uint32_t count, size_t storySize);

  size_t Size() const { return mFiles.size(); }
  const FeedFile& At(size_t index) const { return mFiles[index]; }

  // Blocks needed to send `file` with blocks of `blockSize` bytes; an empty file is one
  // block of length 0. REQUIRES: blockSize > 0.
  static uint32_t BlockCount(const FeedFile& file, uint32_t blockSize);

 private:
  std::string ParentOf(const std::string& name) const;

  std::vector<FeedFile> mFiles;
  std::set<std::string> mNames;
};

// The name without its last extension ("a.b.xml" -> "a.b"); a leading dot is not an extension.
std::string StemOf(const std::string& name);

}  // namespace owwired

#endif  // OWWIRED_FEED_H
