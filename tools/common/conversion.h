// SPDX-License-Identifier: MIT
// Thin owners of the library's conversion handles, and the conversion of one story.
//
// Thread rule (the library's): an Environment or a Story is used by one thread at a time.
// Handing one to another thread before it is used there is fine; sharing is not.
#ifndef OWTOOL_CONVERSION_H
#define OWTOOL_CONVERSION_H

#include <cstdint>
#include <string>

#include "owclient/owclient.h"

namespace owtool {

// A loaded template with its translation table.
class Environment {
 public:
  Environment() = default;
  ~Environment();
  Environment(Environment&& other) noexcept;
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;
  Environment& operator=(Environment&&) = delete;

  // Loads from the texts (copied by the library); empty texts mean none. Returns the
  // library's code: 0 success, 1 the template or table does not load, 3 no memory.
  uint32_t Load(const std::string& tmpl, const std::string& table);
  // ns null: the default metadata namespace. Returns the library's code.
  uint32_t AddParseProperty(const char* ns, const std::string& prop);
  OBConvertEnv Handle() const { return mEnv; }

 private:
  OBConvertEnv mEnv = nullptr;
};

// One story pair as files. An empty rdf path means no metadata; an xml path of "-" reads
// the story from standard input.
struct StoryFiles {
  std::string xml;
  std::string rdf;
};

// A story document read from its files.
class Story {
 public:
  Story() = default;
  ~Story();
  Story(const Story&) = delete;
  Story& operator=(const Story&) = delete;

  // Reads the files; on failure `error` names the file that cannot be read and why.
  bool Load(const StoryFiles& files, std::string* error);
  // Parses the story with the environment's parse properties and renders the template.
  // With a null callback only the parse (and the render) happen, for the field getters.
  uint32_t Apply(const Environment& env, OBConvertCallback cb, uintptr_t user);
  // After a failed Apply, on the same thread: why, in one line naming the file at fault
  // ("a.xml: not well-formed (mismatched tag) at line 3, column 5").
  std::string WhyNotApplied(const StoryFiles& files) const;
  OBConvertObj Handle() const { return mObj; }
  // The story as read from standard input; empty when it came from a file.
  const std::string& StdinBytes() const { return mStdinBytes; }

 private:
  OBConvertObj mObj = nullptr;
  std::string mStdinBytes;  // the story when it came on standard input
};

// Renders `files` through `env` into `outPath`, or to standard output when it is empty or "-".
// The HTML is written with one write and without the library's terminating NUL. On
// failure nothing is written and `error` says why in one line. A story that converts
// but is suspect (see story_check.h) sets `warning` to one line naming it.
bool ConvertStory(const Environment& env, const StoryFiles& files, const std::string& outPath,
                  std::string* error, std::string* warning);

}  // namespace owtool

#endif  // OWTOOL_CONVERSION_H
