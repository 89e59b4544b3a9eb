// SPDX-License-Identifier: MIT
#include "batch_run.h"

#include <atomic>
#include <thread>

namespace owconvert {
namespace {

using owtool::Environment;

struct Shared {
  std::vector<Job>* jobs;
  bool verbose;
  owtool::Progress* progress;
  std::atomic<size_t> next{0};
  std::atomic<size_t> converted{0};
  std::atomic<size_t> failed{0};
  std::atomic<size_t> warned{0};
};

void RunOne(const Environment& env, Job* job, Shared* shared) {
  std::string warning;
  if (job->error.empty() &&
      owtool::ConvertStory(env, job->files, job->outPath, &job->error, &warning)) {
    shared->converted.fetch_add(1);
    if (!warning.empty()) {
      shared->warned.fetch_add(1);
      shared->progress->Message("warning: " + warning);
    }
    if (shared->verbose) shared->progress->Message(job->files.xml + " -> " + job->outPath);
  } else {
    shared->failed.fetch_add(1);
    shared->progress->Message("failed: " + job->error);
  }
  shared->progress->Step();
}

void Work(const Environment* env, Shared* shared) {
  for (size_t i = shared->next.fetch_add(1); i < shared->jobs->size();
       i = shared->next.fetch_add(1)) {
    RunOne(*env, &(*shared->jobs)[i], shared);
  }
}

}  // namespace

BatchCounts RunJobs(std::vector<Environment>* envs, std::vector<Job>* jobs, bool verbose,
                    owtool::Progress* progress) {
  Shared shared;
  shared.jobs = jobs;
  shared.verbose = verbose;
  shared.progress = progress;
  std::vector<std::thread> threads;
  for (size_t w = 1; w < envs->size(); ++w) threads.emplace_back(Work, &(*envs)[w], &shared);
  Work(&(*envs)[0], &shared);
  for (std::thread& t : threads) t.join();
  return BatchCounts{shared.converted.load(), shared.failed.load(), shared.warned.load()};
}

}  // namespace owconvert
