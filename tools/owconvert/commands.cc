// SPDX-License-Identifier: MIT
#include "commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "batch_plan.h"
#include "batch_run.h"
#include "conversion.h"
#include "fields.h"
#include "file_io.h"
#include "log_route.h"
#include "progress.h"
#include "template_check.h"

namespace owconvert {
namespace {

using owtool::Environment;
using owtool::StoryFiles;

void Report(const std::string& message) { owtool::PrintError("owconvert", message); }

struct Texts {
  std::string tmpl;
  std::string table;
};

// Reads the template and table, and checks the template's commands before any story meets it.
bool ReadTexts(const Options& o, Texts* texts) {
  std::string error;
  if ((!o.templatePath.empty() && !owtool::ReadWholeFile(o.templatePath, &texts->tmpl, &error)) ||
      (!o.tablePath.empty() && !owtool::ReadWholeFile(o.tablePath, &texts->table, &error))) {
    Report(error);
    return false;
  }
  const std::string problem = owtool::TemplateProblem(texts->tmpl);
  if (!problem.empty()) Report(o.templatePath + ": " + problem);
  return problem.empty();
}

// Loads an environment; on failure tells which of the two texts is at fault.
bool LoadEnvironment(const Texts& texts, const Options& o, Environment* env) {
  owtool::LastLibraryFailure();  // forget older lines: the reason must be this load's
  const uint32_t rc = env->Load(texts.tmpl, texts.table);
  if (rc == 0) return true;
  if (rc == OWC_CONVERT_NO_MEMORY) {
    std::fprintf(stderr, "owconvert: out of memory loading the template\n");
    return false;
  }
  const std::string reason = owtool::LastLibraryFailure();
  Environment probe;
  const bool tableAtFault = !texts.table.empty() && probe.Load(texts.tmpl, "") == 0;
  Report((tableAtFault ? o.tablePath : o.templatePath) + ": the " +
         (tableAtFault ? "translation table" : "template") + " does not load" +
         (reason.empty() ? "" : ": " + reason));
  return false;
}

StoryFiles FilesOf(const Options& o) {
  StoryFiles files;
  files.xml = o.inputs[0];
  files.rdf = o.inputs.size() > 1 ? o.inputs[1] : RdfBesideStory(files.xml);
  return files;
}

int RunSingle(const Options& o, const Texts& texts) {
  Environment env;
  if (!LoadEnvironment(texts, o, &env)) return kExitUsage;
  std::string error, warning;
  if (!owtool::ConvertStory(env, FilesOf(o), o.outputPath, &error, &warning)) {
    Report(error);
    return kExitFailed;
  }
  // The page is written, but a suspect story is a problem the caller's script must see.
  if (!warning.empty()) {
    Report("warning: " + warning);
    return kExitFailed;
  }
  return kExitOk;
}

// One environment per worker; the first one also proves the texts load.
bool MakeEnvironments(const Texts& texts, const Options& o, size_t count,
                      std::vector<Environment>* envs) {
  envs->reserve(count);
  for (size_t i = 0; i < count; ++i) {
    envs->emplace_back();
    if (!LoadEnvironment(texts, o, &envs->back())) return false;
  }
  return true;
}

int RunBatch(const Options& o, const Texts& texts) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<Environment> envs;
  if (!MakeEnvironments(texts, o, 1, &envs)) return kExitUsage;
  std::string error;
  if (!owtool::MakeFolders(o.outDir, &error)) {
    Report("cannot create the output folder " + error);
    return kExitUsage;
  }
  BatchPlan plan = PlanBatch(o.inputs, o.outDir);
  const size_t workers = std::max<size_t>(1, std::min<size_t>(o.jobs, plan.jobs.size()));
  if (!MakeEnvironments(texts, o, workers - 1, &envs)) return kExitUsage;
  for (const std::string& file : plan.skipped) {
    if (o.verbose) Report("skipped " + file + " (not a story)");
  }
  owtool::Progress progress("owconvert", "stories", plan.jobs.size(), o.quiet);
  const BatchCounts counts = RunJobs(&envs, &plan.jobs, o.verbose, &progress);
  progress.Finish();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!o.quiet) {
    std::printf("owconvert: converted %zu, failed %zu, skipped %zu in %s (%zu thread%s)",
                counts.converted, counts.failed, plan.skipped.size(),
                owtool::FormatSeconds(took.count()).c_str(), workers, workers == 1 ? "" : "s");
    if (counts.warned != 0) std::printf(", %zu with warnings", counts.warned);
    std::printf("\n");
  }
  return counts.failed == 0 && counts.warned == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int RunCommand(const Options& o) {
  Texts texts;
  if (!ReadTexts(o, &texts)) return kExitUsage;
  switch (o.form) {
    case Form::kSingle:
      return RunSingle(o, texts);
    case Form::kBatch:
      return RunBatch(o, texts);
    case Form::kField:
      return RunFieldForm(o, texts.tmpl, texts.table, FilesOf(o));
  }
  return kExitUsage;
}

}  // namespace owconvert
