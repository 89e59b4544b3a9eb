#include "options.h"

#include <cstdlib>
#include <thread>

#include "owclient/owclient.h"

namespace owconvert {
namespace {

enum class Id { kPlain, kBatch, kJobs, kField, kProperty, kHelp, kVersion };

struct OptionDef {
  char short_name;  // 0: long form only
  const char* long_name;
  bool takes_value;
  Id id;                       // kPlain: nothing beyond `text` and `flag`
  std::string Options::*text;  // where the value goes, or null
  bool Options::*flag;         // set when the option is given, or null
};

constexpr OptionDef kOptionDefs[] = {
    {'t', "template", true, Id::kPlain, &Options::template_path, nullptr},
    {'x', "xlate", true, Id::kPlain, &Options::table_path, nullptr},
    {'o', "output", true, Id::kPlain, &Options::output_path, nullptr},
    {0, "batch", false, Id::kBatch, nullptr, nullptr},
    {'d', "outdir", true, Id::kPlain, &Options::out_dir, nullptr},
    {'j', "jobs", true, Id::kJobs, nullptr, nullptr},
    {0, "field", true, Id::kField, &Options::field, nullptr},
    {0, "property", true, Id::kProperty, &Options::property, nullptr},
    {0, "ns", true, Id::kPlain, &Options::ns, &Options::has_ns},
    {0, "attr", true, Id::kPlain, &Options::attr, &Options::has_attr},
    {0, "tags", false, Id::kPlain, nullptr, &Options::with_tags},
    {'v', "verbose", false, Id::kPlain, nullptr, &Options::verbose},
    {0, "strict", false, Id::kPlain, nullptr, &Options::strict},
    {'h', "help", false, Id::kHelp, nullptr, nullptr},
    {0, "version", false, Id::kVersion, nullptr, nullptr},
};

constexpr uint32_t kMaxJobs = 256;

const OptionDef* FindShort(char c) {
  for (const OptionDef& s : kOptionDefs) {
    if (s.short_name == c) return &s;
  }
  return nullptr;
}

const OptionDef* FindLong(const std::string& name) {
  for (const OptionDef& s : kOptionDefs) {
    if (name == s.long_name) return &s;
  }
  return nullptr;
}

bool ParseJobs(const std::string& text, uint32_t* jobs, std::string* error) {
  char* end = nullptr;
  unsigned long n = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || text[0] == '-' || n > kMaxJobs) {
    *error = "-j takes a number of threads from 0 to " + std::to_string(kMaxJobs);
    return false;
  }
  if (n == 0) n = std::thread::hardware_concurrency();
  *jobs = n == 0 ? 1 : static_cast<uint32_t>(n);
  return true;
}

// Stores one option; false with `error` set when its value is unusable.
bool Apply(const OptionDef& entry, const std::string& value, Options* o, std::string* error) {
  if (entry.text != nullptr) o->*entry.text = value;
  if (entry.flag != nullptr) o->*entry.flag = true;
  switch (entry.id) {
    case Id::kBatch:
      o->form = Form::kBatch;
      return true;
    case Id::kJobs:
      return ParseJobs(value, &o->jobs, error);
    case Id::kField:
    case Id::kProperty:
      if (value.empty()) *error = "--" + std::string(entry.long_name) + " needs a name";
      return !value.empty();
    default:
      return true;
  }
}

struct Flags {
  bool help = false;
  bool version = false;
  bool jobs_given = false;
};

// Checks that the options given belong together and fit the form.
bool Validate(const Flags& flags, Options* o, std::string* error) {
  const bool field_form = !o->field.empty() || !o->property.empty();
  if (!o->field.empty() && !o->property.empty()) {
    *error = "--field and --property cannot be combined";
  } else if ((o->has_ns || o->has_attr || o->with_tags) && o->property.empty()) {
    *error = "--ns, --attr and --tags go with --property";
  } else if (field_form && o->form == Form::kBatch) {
    *error = "--field and --property read one story; they cannot be combined with --batch";
  } else if (field_form && !o->output_path.empty()) {
    *error = "--field and --property print to standard output; -o does not apply";
  } else if (o->form == Form::kBatch && o->out_dir.empty()) {
    *error = "--batch needs an output folder: -d OUTDIR";
  } else if (o->form == Form::kBatch && !o->output_path.empty()) {
    *error = "-o names one output file; a batch writes into the folder given by -d";
  } else if (o->form != Form::kBatch && (!o->out_dir.empty() || flags.jobs_given)) {
    *error = "-d and -j apply only to --batch";
  } else if (!field_form && o->template_path.empty()) {
    *error = "a template is needed: -t TEMPLATE";
  } else if (o->inputs.empty()) {
    *error = o->form == Form::kBatch ? "no stories or folders given" : "no story given";
  } else if (o->form != Form::kBatch && o->inputs.size() > 2) {
    *error = "one story at a time: story.xml [story.rdf] (use --batch for more)";
  } else {
    if (field_form) o->form = Form::kField;
    return true;
  }
  return false;
}

// Splits one argument into its entry of the option table and its inline value, if any. Returns
// false for an unknown option.
bool Recognise(const std::string& arg, const OptionDef** entry, bool* inline_value,
               std::string* value) {
  *inline_value = false;
  if (arg.compare(0, 2, "--") == 0) {
    size_t eq = arg.find('=');
    *entry = FindLong(arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2));
    if (eq != std::string::npos) {
      *inline_value = true;
      *value = arg.substr(eq + 1);
    }
  } else {
    *entry = FindShort(arg[1]);
    if (arg.size() > 2) {
      *inline_value = true;
      *value = arg.substr(2);
    }
  }
  return *entry != nullptr;
}

}  // namespace

ParseOutcome ParseCommandLine(int argc, const char* const* argv, Options* options,
                              std::string* error) {
  Flags flags;
  bool only_positional = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (only_positional || arg.size() < 2 || arg[0] != '-') {
      options->inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_positional = true;
      continue;
    }
    const OptionDef* entry = nullptr;
    bool inline_value = false;
    std::string value;
    if (!Recognise(arg, &entry, &inline_value, &value)) {
      *error = "unknown option " + arg;
      return ParseOutcome::kError;
    }
    if (entry->takes_value && !inline_value) {
      if (i + 1 >= argc) {
        *error = "option " + arg + " needs a value";
        return ParseOutcome::kError;
      }
      value = argv[++i];
    } else if (!entry->takes_value && inline_value) {
      *error = "option --" + std::string(entry->long_name) + " takes no value";
      return ParseOutcome::kError;
    }
    flags.help |= entry->id == Id::kHelp;
    flags.version |= entry->id == Id::kVersion;
    flags.jobs_given |= entry->id == Id::kJobs;
    if (!Apply(*entry, value, options, error)) return ParseOutcome::kError;
  }
  if (flags.help) return ParseOutcome::kHelp;
  if (flags.version) return ParseOutcome::kVersion;
  return Validate(flags, options, error) ? ParseOutcome::kRun : ParseOutcome::kError;
}

std::string VersionText() {
  return "owconvert " OWCONVERT_VERSION " (owclient " + std::to_string(OWCLIENT_VERSION_MAJOR) +
         "." + std::to_string(OWCLIENT_VERSION_MINOR) + "." +
         std::to_string(OWCLIENT_VERSION_PATCH) + ")\n";
}

}  // namespace owconvert
