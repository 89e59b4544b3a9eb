// SPDX-License-Identifier: MIT
// Turns the files and folders of a batch command line into conversion jobs: which
// stories, which metadata file goes with each, where each page goes.
#ifndef OWCONVERT_BATCH_PLAN_H
#define OWCONVERT_BATCH_PLAN_H

#include <string>
#include <vector>

#include "conversion.h"

namespace owconvert {

struct Job {
  owtool::StoryFiles files;
  std::string outPath;
  std::string error;  // set before running when the job cannot run at all
};

struct BatchPlan {
  std::vector<Job> jobs;             // in command-line order, folder entries by name
  std::vector<std::string> skipped;  // files that are no story and belong to none
};

// name.xml is a story; name.rdf is taken with name.xml when that exists beside it; any
// other file is skipped. A story named twice (by any path) is taken once. A missing
// input, or two stories that would write the same page, become jobs that carry their
// error, so they count as failed.
BatchPlan PlanBatch(const std::vector<std::string>& inputs, const std::string& outDir);

// The metadata file beside a story: name.rdf for name.xml when it exists, else "".
std::string RdfBesideStory(const std::string& xml);

// "dir/name.xml" -> "name"; the last ending only, so "n.b.xml" -> "n.b".
std::string StoryBaseName(const std::string& path);

}  // namespace owconvert

#endif  // OWCONVERT_BATCH_PLAN_H
