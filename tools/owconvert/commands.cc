#include "commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "batch_plan.h"
#include "batch_run.h"
#include "conversion.h"
#include "fields.h"
#include "file_io.h"

namespace owconvert {
namespace {

struct Texts {
  std::string tmpl;
  std::string table;
};

bool ReadTexts(const Options& o, Texts* texts) {
  std::string error;
  if ((!o.template_path.empty() && !ReadWholeFile(o.template_path, &texts->tmpl, &error)) ||
      (!o.table_path.empty() && !ReadWholeFile(o.table_path, &texts->table, &error))) {
    std::fprintf(stderr, "owconvert: %s\n", error.c_str());
    return false;
  }
  return true;
}

// Loads an environment; on failure tells which of the two texts is at fault.
bool LoadEnvironment(const Texts& texts, const Options& o, Environment* env) {
  const uint32_t rc = env->Load(texts.tmpl, texts.table);
  if (rc == 0) return true;
  if (rc == OWC_CONVERT_NO_MEMORY) {
    std::fprintf(stderr, "owconvert: out of memory loading the template\n");
    return false;
  }
  Environment probe;
  const bool table_at_fault = !texts.table.empty() && probe.Load(texts.tmpl, "") == 0;
  std::fprintf(stderr, "owconvert: %s: the %s does not load (see the library's lines above)\n",
               table_at_fault ? o.table_path.c_str() : o.template_path.c_str(),
               table_at_fault ? "translation table" : "template");
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
  if (!ConvertStory(env, FilesOf(o), o.output_path, &error, &warning)) {
    std::fprintf(stderr, "owconvert: %s\n", error.c_str());
    return kExitFailed;
  }
  // The page is written, but a suspect story is a problem the caller's script must see.
  if (!warning.empty()) {
    std::fprintf(stderr, "owconvert: warning: %s\n", warning.c_str());
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
  if (!MakeFolders(o.out_dir, &error)) {
    std::fprintf(stderr, "owconvert: cannot create the output folder %s\n", error.c_str());
    return kExitUsage;
  }
  BatchPlan plan = PlanBatch(o.inputs, o.out_dir);
  const size_t workers = std::max<size_t>(1, std::min<size_t>(o.jobs, plan.jobs.size()));
  if (!MakeEnvironments(texts, o, workers - 1, &envs)) return kExitUsage;
  for (const std::string& file : plan.skipped) {
    if (o.verbose) std::fprintf(stderr, "owconvert: skipped %s (not a story)\n", file.c_str());
  }
  const BatchCounts counts = RunJobs(&envs, &plan.jobs, o.verbose);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("owconvert: converted %zu, failed %zu, skipped %zu in %.3f s (%zu thread%s)",
              counts.converted, counts.failed, plan.skipped.size(), took.count(), workers,
              workers == 1 ? "" : "s");
  if (counts.warned != 0) std::printf(", %zu with warnings", counts.warned);
  std::printf("\n");
  std::fflush(stdout);
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
