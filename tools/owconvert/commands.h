// SPDX-License-Identifier: MIT
// The three forms of owconvert, run after the command line was parsed.
#ifndef OWCONVERT_COMMANDS_H
#define OWCONVERT_COMMANDS_H

#include "options.h"

namespace owconvert {

// Reads the template and table once, runs the form `o` names, and returns the exit
// status. Messages go to standard error, pages and fields to their outputs.
int RunCommand(const Options& o);

}  // namespace owconvert

#endif  // OWCONVERT_COMMANDS_H
