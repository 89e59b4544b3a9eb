// SPDX-License-Identifier: MIT
// Runs the jobs of a batch on worker threads.
#ifndef OWCONVERT_BATCH_RUN_H
#define OWCONVERT_BATCH_RUN_H

#include <cstddef>
#include <vector>

#include "batch_plan.h"
#include "conversion.h"
#include "progress.h"

namespace owconvert {

struct BatchCounts {
  size_t converted = 0;
  size_t failed = 0;
  size_t warned = 0;  // converted, with a warning
};

// One worker per environment (at least one): worker 0 runs on the calling thread, the
// others on threads of their own, each using only its own environment. Jobs are taken
// in order from a shared counter. Every failure is reported on standard error as it
// happens, and with `verbose` every page written too; each job done is a step of
// `progress`. Returns when all jobs are done.
BatchCounts RunJobs(std::vector<owtool::Environment>* envs, std::vector<Job>* jobs, bool verbose,
                    owtool::Progress* progress);

}  // namespace owconvert

#endif  // OWCONVERT_BATCH_RUN_H
