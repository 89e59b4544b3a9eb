// SPDX-License-Identifier: MIT
#include "options.h"

namespace owgateway {

std::string UsageText() {
  return R"(owgateway: receive news stories from a wire server into a folder.

Usage:
  owgateway --server HOST[:PORT] [--mode 0|1|2] [-t TEMPLATE] [-d DIR] [option...]
  owgateway --config FILE [option...]

Logs in to the wire server (port 39030 unless given), asks for every story and writes
what arrives into DIR: every file reassembled from its blocks (modes 0 and 2), the HTML
of each story (modes 1 and 2) and an index.html of the stories received. Modes 1 and 2
use the installed sample template and translation table unless -t names a template.
Runs until --count stories have arrived, or until SIGINT or SIGTERM.
)";
}

std::string EpilogueText() {
  return R"(Options may stand anywhere; values may also be written --name=value. Options on the
command line override those of the --config file.

A block is acknowledged to the server only once it is written, and a file's last block
once the file is fsync'ed and renamed into place, so that a killed owgateway loses
nothing the server counted as delivered. The session id is kept in
DIR/.owgateway-session: a restarted owgateway resumes its session. With --count N
owgateway asks for no file once the Nth story is written: the next run gets the next
stories. The first SIGINT or SIGTERM stops after writing what was received (and, with
--send-done, waiting up to 12 s for the server's answer to DONE); a second one stops at
once. The session file is kept unless the server answered DONE. SIGHUP does not stop
owgateway: the library opens its log file for every line, so a rotated file is never
held open.

Exit status:
  0  a clean stop: --count reached, or a signal
  1  a failure at run time: DIR cannot be written, the server's name cannot be looked
     up, the gateway refused to start, or a second signal stopped owgateway at once
  2  the command line or the configuration file is wrong, the server's name does not
     exist, the template or table cannot be read or has a problem, or the session file
     in DIR cannot be read
)";
}

}  // namespace owgateway
