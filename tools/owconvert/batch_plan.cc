// SPDX-License-Identifier: MIT
#include "batch_plan.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "file_io.h"

namespace owconvert {
namespace {

using owtool::IsFolder;
using owtool::IsRegularFile;
using owtool::WhyUnreadable;

bool EndsWith(const std::string& s, const char* ending) {
  const std::string e(ending);
  return s.size() > e.size() && s.compare(s.size() - e.size(), e.size(), e) == 0;
}

std::string WithoutEnding(const std::string& path) { return path.substr(0, path.size() - 4); }

// The regular files of one folder, sorted by name; subfolders are not entered.
std::vector<std::string> FolderFiles(const std::string& dir, std::string* error) {
  std::vector<std::string> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) files.push_back(it->path().string());
  }
  if (ec) *error = dir + ": " + ec.message();
  std::sort(files.begin(), files.end());
  return files;
}

// One key per file however it is named ("a/x.xml", "a/../a/x.xml"), so a story named
// twice is converted once.
std::string SameFileKey(const std::string& path) {
  std::error_code ec;
  std::filesystem::path canonical = std::filesystem::canonical(path, ec);
  return ec ? path : canonical.string();
}

class Planner {
 public:
  explicit Planner(const std::string& outDir) : mOutDir(outDir) {}

  void AddInput(const std::string& input) {
    if (IsFolder(input)) {
      std::string error;
      for (const std::string& file : FolderFiles(input, &error)) AddFile(file);
      if (!error.empty()) AddFailure(input, error);
    } else if (!IsRegularFile(input)) {
      AddFailure(input, WhyUnreadable(input));
    } else {
      AddFile(input);
    }
  }

  // Metadata files whose story never came count as skipped.
  BatchPlan Finish() {
    for (const std::string& rdf : mRdfFiles) {
      const std::string xml = WithoutEnding(rdf) + ".xml";
      if (mStories.count(SameFileKey(xml)) == 0) mPlan.skipped.push_back(rdf);
    }
    return std::move(mPlan);
  }

 private:
  void AddFile(const std::string& file) {
    if (EndsWith(file, ".rdf")) {
      mRdfFiles.push_back(file);
    } else if (!EndsWith(file, ".xml")) {
      mPlan.skipped.push_back(file);
    } else if (mStories.insert(SameFileKey(file)).second) {
      AddStory(file);
    }
  }

  void AddStory(const std::string& xml) {
    Job job;
    job.files.xml = xml;
    job.files.rdf = RdfBesideStory(xml);
    const std::string page = StoryBaseName(xml) + ".htm";
    job.outPath = mOutDir + "/" + page;
    auto [it, fresh] = mPages.emplace(page, xml);
    if (!fresh) job.error = xml + ": " + page + " is already written for " + it->second;
    mPlan.jobs.push_back(std::move(job));
  }

  void AddFailure(const std::string& input, const std::string& error) {
    Job job;
    job.files.xml = input;
    job.error = error;
    mPlan.jobs.push_back(std::move(job));
  }

  std::string mOutDir;
  BatchPlan mPlan;
  std::set<std::string> mStories;  // SameFileKey of every story taken
  std::vector<std::string> mRdfFiles;
  std::map<std::string, std::string> mPages;  // page name -> the story writing it
};

}  // namespace

std::string RdfBesideStory(const std::string& xml) {
  if (!EndsWith(xml, ".xml")) return "";
  std::string rdf = WithoutEnding(xml) + ".rdf";
  return IsRegularFile(rdf) ? rdf : "";
}

std::string StoryBaseName(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

BatchPlan PlanBatch(const std::vector<std::string>& inputs, const std::string& outDir) {
  Planner planner(outDir);
  for (const std::string& input : inputs) planner.AddInput(input);
  return planner.Finish();
}

}  // namespace owconvert
