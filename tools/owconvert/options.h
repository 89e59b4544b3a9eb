// SPDX-License-Identifier: MIT
// The command line of owconvert: which form runs (one story, a batch, or one field) and
// with what. Filled by ParseCommandLine; nothing here touches a file.
#ifndef OWCONVERT_OPTIONS_H
#define OWCONVERT_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "cli.h"

namespace owconvert {

// Exit statuses of the program: 1 when a story (or field) could not be converted or read,
// 2 for a bad command line or a template or table that does not load.
using owtool::kExitFailed;
using owtool::kExitOk;
using owtool::kExitUsage;

enum class Form { kSingle, kBatch, kField };

struct Options {
  Form form = Form::kSingle;
  std::string templatePath;  // empty: none (allowed only in the field form)
  std::string tablePath;     // empty: no translation table
  std::string outputPath;    // single form; empty or "-": standard output
  std::string outDir;        // batch form
  uint32_t jobs = 1;          // batch worker threads; 0 on the command line = one per core
  bool verbose = false;
  bool quiet = false;
  bool strict = false;  // read documents as described: no reading options

  // Field form: exactly one of `field` and `property` is set.
  std::string field;  // "headline", "byline:1", ...
  std::string property;
  bool hasNs = false;  // without --ns the default metadata namespace applies
  std::string ns;
  bool hasAttr = false;
  std::string attr;
  bool withTags = false;  // print the element with its own start and end tags
  bool markup = false;     // --field as the story has it, rather than as plain text

  std::vector<std::string> inputs;  // stories, or files and folders in a batch
};

// Parses and checks the command line. Returns -1 when the form in `options` is to run, or
// the exit status after --help, --version or a usage error (all answered here).
int ParseCommandLine(int argc, char** argv, Options* options);

// The text of --help above and below the option table.
std::string UsageText();
std::string EpilogueText();

}  // namespace owconvert

#endif  // OWCONVERT_OPTIONS_H
