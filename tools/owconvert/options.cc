// SPDX-License-Identifier: MIT
#include "options.h"

#include <thread>

#include "batch_plan.h"
#include "file_io.h"
#include "owclient/owclient.h"

namespace owconvert {
namespace {

enum Id { kTemplate, kXlate, kOutput, kBatch, kOutDir, kJobs, kField, kProperty, kNs, kAttr,
          kTags, kMarkup, kStrict };

using owtool::Value;

const std::vector<owtool::OptionSpec> kOptionTable = {
    {kTemplate, 't', "template", Value::kRequired, "FILE", "the HTML template"},
    {kXlate, 'x', "xlate", Value::kRequired, "FILE",
     "the tag translation table applied to every inserted value"},
    {kOutput, 'o', "output", Value::kRequired, "FILE",
     "output file of the one-story form; - or none: standard output"},
    {kBatch, 0, "batch", Value::kNone, nullptr, "convert many stories (see above)"},
    {kOutDir, 'd', "output-dir", Value::kRequired, "DIR", "output folder of a batch"},
    {kOutDir, 0, "outdir", Value::kRequired, "DIR", nullptr},  // the old spelling
    {kJobs, 'j', "jobs", Value::kRequired, "N",
     "worker threads of a batch, each with its own copy of the template (default 1; 0 = one "
     "per processor core)"},
    {kField, 0, "field", Value::kRequired, "NAME", "print one field of the story (see above)"},
    {kProperty, 0, "property", Value::kRequired, "PATH",
     "print a captured element of the story (see above)"},
    {kNs, 0, "ns", Value::kRequired, "URI", "the metadata namespace of --property's PATH"},
    {kAttr, 0, "attr", Value::kRequired, "NAME",
     "print this attribute of --property's element instead of its content"},
    {kTags, 0, "tags", Value::kNone, nullptr,
     "print --property's element with its own start and end tags"},
    {kMarkup, 0, "markup", Value::kNone, nullptr,
     "print --field as the story has it (markup and references), not as plain text"},
    {kStrict, 0, "strict", Value::kNone, nullptr,
     "read stories exactly as described: no NITF namespace read as none, every document read "
     "as UTF-8, no HTML entity names (by default all three are on, for stories as feeds send "
     "them)"},
};

constexpr uint32_t kMaxJobs = 256;

bool ParseJobs(const char* text, uint32_t* jobs, std::string* error) {
  uint64_t n = 0;
  if (!owtool::ParseUnsigned(text, kMaxJobs, &n)) {
    *error = "takes a number of threads from 0 to " + std::to_string(kMaxJobs);
    return false;
  }
  if (n == 0) n = std::thread::hardware_concurrency();
  *jobs = n == 0 ? 1 : static_cast<uint32_t>(n);
  return true;
}

struct Given {
  bool jobs = false;
};

bool Apply(int id, const char* value, Options* o, Given* given, std::string* error) {
  switch (id) {
    case kTemplate: o->templatePath = value; break;
    case kXlate: o->tablePath = value; break;
    case kOutput: o->outputPath = value; break;
    case kBatch: o->form = Form::kBatch; break;
    case kOutDir: o->outDir = value; break;
    case kJobs: given->jobs = true; return ParseJobs(value, &o->jobs, error);
    case kField: o->field = value; break;
    case kProperty: o->property = value; break;
    case kNs: o->ns = value, o->hasNs = true; break;
    case kAttr: o->attr = value, o->hasAttr = true; break;
    case kTags: o->withTags = true; break;
    case kMarkup: o->markup = true; break;
    case kStrict: o->strict = true; break;
    default: break;
  }
  if ((id == kField || id == kProperty) && *value == '\0') *error = "needs a name";
  return error->empty();
}

bool EndsWith(const std::string& s, const std::string& ending) {
  return s.size() > ending.size() && s.compare(s.size() - ending.size(), ending.size(), ending) == 0;
}

// The one-story form reads story.xml [story.rdf]; a second story would be read as metadata.
std::string CheckOneStory(const Options& o) {
  if (o.inputs.size() > 2) return "one story at a time: story.xml [story.rdf] (--batch takes more)";
  if (o.inputs.size() == 2 && !EndsWith(o.inputs[1], ".rdf")) {
    return "'" + o.inputs[1] + "' is no .rdf file: one story at a time, story.xml [story.rdf] "
           "(--batch takes more)";
  }
  if (o.inputs.size() == 2 && o.inputs[1] == owtool::kStdio) {
    return "only the story can come on standard input";
  }
  // The metadata beside the story, the template and the table are inputs as much as the story.
  std::vector<std::string> inputs = o.inputs;
  if (o.inputs.size() == 1) inputs.push_back(RdfBesideStory(o.inputs[0]));
  inputs.push_back(o.templatePath);
  inputs.push_back(o.tablePath);
  for (const std::string& input : inputs) {
    if (!o.outputPath.empty() && !input.empty() && input != owtool::kStdio &&
        (o.outputPath == input || owtool::SameFile(o.outputPath, input))) {
      return "-o " + o.outputPath + " names an input; the page would overwrite it";
    }
  }
  return "";
}

// Checks that the options given belong together and fit the form; "" when they do.
std::string Validate(const Given& given, const Options& o) {
  const bool fieldForm = !o.field.empty() || !o.property.empty();
  if (!o.field.empty() && !o.property.empty()) return "--field and --property cannot be combined";
  if ((o.hasNs || o.hasAttr || o.withTags) && o.property.empty()) {
    return "--ns, --attr and --tags go with --property";
  }
  if (o.markup && o.field.empty()) return "--markup goes with --field";
  if (fieldForm && o.form == Form::kBatch) {
    return "--field and --property read one story; they cannot be combined with --batch";
  }
  if (fieldForm && !o.outputPath.empty()) {
    return "--field and --property print to standard output; -o does not apply";
  }
  if (o.form == Form::kBatch && o.outDir.empty()) return "--batch needs an output folder: -d DIR";
  if (o.form == Form::kBatch && !o.outputPath.empty()) {
    return "-o names one output file; a batch writes into the folder given by -d";
  }
  if (o.form != Form::kBatch && (!o.outDir.empty() || given.jobs)) {
    return "-d and -j apply only to --batch";
  }
  if (!fieldForm && o.templatePath.empty()) return "a template is needed: -t TEMPLATE";
  if (o.inputs.empty()) return o.form == Form::kBatch ? "no stories or folders given" : "no story given";
  return o.form == Form::kBatch ? "" : CheckOneStory(o);
}

}  // namespace

int ParseCommandLine(int argc, char** argv, Options* options) {
  owtool::ToolInfo info{"owconvert", OWCONVERT_VERSION, OwclientVersion(), UsageText(),
                        EpilogueText()};
  info.verboseHelp =
      "show the library's log lines and each converted story; without it a problem is one "
      "line of owconvert's";
  info.quietHelp = "no progress and no batch summary; only problems";
  owtool::CommandLine commandLine(info, kOptionTable);
  Given given;
  const owtool::Outcome outcome = commandLine.Parse(
      argc, argv, [&](int id, const char* value, std::string* error) {
        return Apply(id, value, options, &given, error);
      });
  if (outcome != owtool::Outcome::kRun) return commandLine.Finish(outcome);
  options->inputs = commandLine.Operands();
  options->verbose = commandLine.CommonOptions().verbose;
  options->quiet = commandLine.CommonOptions().quiet;
  const std::string error = Validate(given, *options);
  if (!error.empty()) return commandLine.UsageError(error);
  if (!options->field.empty() || !options->property.empty()) options->form = Form::kField;
  return -1;
}

}  // namespace owconvert
