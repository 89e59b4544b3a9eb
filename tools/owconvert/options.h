// The command line of owconvert: which form runs (one story, a batch, or one field) and
// with what. Filled by ParseCommandLine; nothing here touches a file.
#ifndef OWCONVERT_OPTIONS_H_
#define OWCONVERT_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace owconvert {

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a story (or field) could not be converted or read
constexpr int kExitUsage = 2;   // bad command line, or the template or table does not load

enum class Form { kSingle, kBatch, kField };

struct Options {
  Form form = Form::kSingle;
  std::string template_path;  // empty: none (allowed only in the field form)
  std::string table_path;     // empty: no translation table
  std::string output_path;    // single form; empty: standard output
  std::string out_dir;        // batch form
  uint32_t jobs = 1;          // batch worker threads; 0 on the command line = one per core
  bool verbose = false;
  bool strict = false;  // read documents as described: no reading options

  // Field form: exactly one of `field` and `property` is set.
  std::string field;  // "headline", "byline:1", ...
  std::string property;
  bool has_ns = false;  // without --ns the default metadata namespace applies
  std::string ns;
  bool has_attr = false;
  std::string attr;
  bool with_tags = false;  // print the element with its own start and end tags

  std::vector<std::string> inputs;  // stories, or files and folders in a batch
};

enum class ParseOutcome { kRun, kHelp, kVersion, kError };

// On kError, `error` says what is wrong in one line.
ParseOutcome ParseCommandLine(int argc, const char* const* argv, Options* options,
                              std::string* error);

std::string HelpText();
std::string VersionText();

}  // namespace owconvert

#endif  // OWCONVERT_OPTIONS_H_
