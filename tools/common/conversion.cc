// SPDX-License-Identifier: MIT
#include "conversion.h"

#include <unistd.h>

#include "file_io.h"
#include "log_route.h"
#include "story_check.h"
#include "xml_check.h"

namespace owtool {
namespace {

// Where the HTML of one conversion goes; filled by the callback, which runs on the
// converting thread during OBConvertApplyTemplate.
struct Sink {
  const std::string* path;  // empty: standard output
  bool called = false;
  bool ok = true;
  std::string error;
};

void WriteOutput(Sink* sink, const uint8_t* data, uint32_t len) {
  // The library counts the terminating NUL in len; a page does not carry it.
  if (data != nullptr && len > 0 && data[len - 1] == 0) --len;
  if (data == nullptr) len = 0;
  if (sink->path->empty() || *sink->path == kStdio) {
    sink->ok = WriteAll(STDOUT_FILENO, data, len);
    if (!sink->ok) sink->error = "cannot write to standard output";
  } else {
    sink->ok = WriteWholeFile(*sink->path, data, len, &sink->error);
  }
}

void OnHtml(const uint8_t* data, uint32_t len, uintptr_t user1, uintptr_t) {
  Sink* sink = reinterpret_cast<Sink*>(user1);
  sink->called = true;
  WriteOutput(sink, data, len);
}

}  // namespace

Environment::~Environment() {
  if (mEnv != nullptr) OBConvertFreeEnv(mEnv);
}

Environment::Environment(Environment&& other) noexcept : mEnv(other.mEnv) { other.mEnv = nullptr; }

uint32_t Environment::Load(const std::string& tmpl, const std::string& table) {
  if (mEnv != nullptr) OBConvertFreeEnv(mEnv);
  mEnv = nullptr;
  return OBConvertNewEnv(tmpl.empty() ? nullptr : tmpl.data(), static_cast<uint32_t>(tmpl.size()),
                         table.empty() ? nullptr : table.data(),
                         static_cast<uint32_t>(table.size()), &mEnv);
}

uint32_t Environment::AddParseProperty(const char* ns, const std::string& prop) {
  return OBConvertAddParseProperty(mEnv, ns, prop.c_str());
}

Story::~Story() {
  if (mObj != nullptr) OBConvertFreeObj(mObj);
}

bool Story::Load(const StoryFiles& files, std::string* error) {
  const bool hasRdf = !files.rdf.empty();
  const bool fromStdin = files.xml == kStdio;
  if (fromStdin && !ReadWholeInput(kStdio, &mStdinBytes, error)) return false;
  // File flag 1: the library reads each file once and names it in its log lines.
  uint32_t rc = OBConvertNewObj(fromStdin ? 0 : 1, fromStdin ? mStdinBytes.data() : files.xml.c_str(),
                                static_cast<uint32_t>(mStdinBytes.size()), hasRdf ? 1 : 0,
                                hasRdf ? files.rdf.c_str() : nullptr, 0, &mObj);
  if (rc == 0) return true;
  std::string why = WhyUnreadable(files.xml);
  if (why.empty() && hasRdf) why = WhyUnreadable(files.rdf);
  *error =
      why.empty() ? files.xml + ": cannot load the story (code " + std::to_string(rc) + ")" : why;
  return false;
}

uint32_t Story::Apply(const Environment& env, OBConvertCallback cb, uintptr_t user) {
  LastLibraryFailure();  // forget what an earlier story left
  return OBConvertApplyTemplate(env.Handle(), mObj, cb, user, 0);
}

std::string Story::WhyNotApplied(const StoryFiles& files) const {
  const std::string library = LastLibraryFailure();
  std::string bytes, ignored;
  const bool fromStdin = files.xml == kStdio;
  if (fromStdin || ReadWholeFile(files.xml, &bytes, &ignored)) {
    const std::string problem = XmlProblem(fromStdin ? mStdinBytes : bytes);
    if (!problem.empty()) return (fromStdin ? "standard input" : files.xml) + ": " + problem;
  }
  if (!files.rdf.empty() && ReadWholeFile(files.rdf, &bytes, &ignored)) {
    const std::string problem = XmlProblem(bytes);
    if (!problem.empty()) return files.rdf + ": " + problem;
  }
  return files.xml + ": cannot be converted" + (library.empty() ? "" : ": " + library);
}

bool ConvertStory(const Environment& env, const StoryFiles& files, const std::string& outPath,
                  std::string* error, std::string* warning) {
  Story story;
  if (!story.Load(files, error)) return false;
  Sink sink;
  sink.path = &outPath;
  if (story.Apply(env, OnHtml, reinterpret_cast<uintptr_t>(&sink)) != 0) {
    *error = story.WhyNotApplied(files);
    return false;
  }
  if (!sink.called) WriteOutput(&sink, nullptr, 0);  // success with no page is an empty page
  if (!sink.ok) {
    *error = sink.error;
    return false;
  }
  const bool fromStdin = files.xml == kStdio;
  const std::string start = fromStdin ? story.StdinBytes()
                                       : owtools::ReadFileStart(files.xml, owtools::kRootSearchBytes);
  const std::string problem =
      owtools::StoryProblem(story.Handle(), start, OBConvertGetReadOptions());
  if (!problem.empty()) *warning = (fromStdin ? "standard input" : files.xml) + ": " + problem;
  return true;
}

}  // namespace owtool
