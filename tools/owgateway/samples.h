// SPDX-License-Identifier: MIT
// The sample template and translation table installed with the library, which modes 1 and
// 2 use when no template is named.
#ifndef OWGATEWAY_SAMPLES_H
#define OWGATEWAY_SAMPLES_H

#include <string>

namespace owgateway {

struct Samples {
  std::string tmpl;   // .../story.tmpl
  std::string xlate;  // .../story.xlate, "" when that one is missing
};

// Looks for story.tmpl in the data folder of the installation the program runs from (so
// that a moved installation finds its own), in the folder it was configured to install to,
// and last in the source tree's examples (a program run from its build folder). False,
// with the folders searched in `searched`, when none has it.
bool FindSamples(Samples* found, std::string* searched);

}  // namespace owgateway

#endif  // OWGATEWAY_SAMPLES_H
