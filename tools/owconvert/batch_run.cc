#include "batch_run.h"

#include <atomic>
#include <cstdio>
#include <thread>

namespace owconvert {
namespace {

struct Shared {
  std::vector<Job>* jobs;
  bool verbose;
  std::atomic<size_t> next{0};
  std::atomic<size_t> converted{0};
  std::atomic<size_t> failed{0};
  std::atomic<size_t> warned{0};
};

void RunOne(const Environment& env, Job* job, Shared* shared) {
  std::string warning;
  if (job->error.empty() &&
      ConvertStory(env, job->files, job->out_path, &job->error, &warning)) {
    shared->converted.fetch_add(1);
    if (!warning.empty()) {
      shared->warned.fetch_add(1);
      std::fprintf(stderr, "owconvert: warning: %s\n", warning.c_str());
    }
    if (shared->verbose) {
      std::fprintf(stderr, "owconvert: %s -> %s\n", job->files.xml.c_str(), job->out_path.c_str());
    }
    return;
  }
  shared->failed.fetch_add(1);
  std::fprintf(stderr, "owconvert: failed: %s\n", job->error.c_str());
}

void Work(const Environment* env, Shared* shared) {
  for (size_t i = shared->next.fetch_add(1); i < shared->jobs->size();
       i = shared->next.fetch_add(1)) {
    RunOne(*env, &(*shared->jobs)[i], shared);
  }
}

}  // namespace

BatchCounts RunJobs(std::vector<Environment>* envs, std::vector<Job>* jobs, bool verbose) {
  Shared shared;
  shared.jobs = jobs;
  shared.verbose = verbose;
  std::vector<std::thread> threads;
  for (size_t w = 1; w < envs->size(); ++w) threads.emplace_back(Work, &(*envs)[w], &shared);
  Work(&(*envs)[0], &shared);
  for (std::thread& t : threads) t.join();
  return BatchCounts{shared.converted.load(), shared.failed.load(), shared.warned.load()};
}

}  // namespace owconvert
