// SPDX-License-Identifier: MIT
#include "options.h"

#include <cstdlib>
#include <cstring>

#include "cli.h"

namespace owwired {
namespace {

using Arg = owtool::Value;
using Setter = bool (*)(const char* value, Options* options, std::string* error);

// One row: the option as the command-line layer shows and parses it, and what it sets.
struct OptionEntry {
  const char* name;
  char shortName;
  Arg arg;
  const char* argName;
  const char* help;
  Setter set;
};

bool ParseNumber(const char* text, long long min, long long max, long long* value,
                 std::string* error) {
  uint64_t parsed = 0;
  if (min < 0 || !owtool::ParseUnsigned(text, static_cast<uint64_t>(max), &parsed) ||
      static_cast<long long>(parsed) < min) {
    *error = std::string("'") + text + "' is not a number from " + std::to_string(min) + " to " +
             std::to_string(max);
    return false;
  }
  *value = static_cast<long long>(parsed);
  return true;
}

template <typename T>
bool SetNumber(const char* text, long long min, long long max, T* field, std::string* error) {
  long long value = 0;
  if (!ParseNumber(text, min, max, &value, error)) return false;
  *field = static_cast<T>(value);
  return true;
}

constexpr long long kU32 = 0xFFFFFFFFll;
constexpr long long kCount = 1ll << 40;

// Reject options take an optional status: none means the status the option names as default.
bool SetStatus(const char* text, int defaultStatus, int* field, std::string* error) {
  if (text == nullptr) {
    *field = defaultStatus;
    return true;
  }
  return SetNumber(text, 0, 999, field, error);
}

const OptionEntry kOptionTable[] = {
    {"address", 'a', Arg::kRequired, "ADDR", "listen on this IPv4 address (127.0.0.1)",
     [](const char* v, Options* o, std::string*) { return o->address = v, true; }},
    {"port", 'p', Arg::kRequired, "PORT", "listen on this port; 0 picks a free one (39030)",
     [](const char* v, Options* o, std::string* e) { return SetNumber(v, 0, 65535, &o->port, e); }},
    {"spool", 's', Arg::kRequired, "DIR",
     "serve the files of DIR: each story's .xml, its .rdf, then its other files, stories in "
     "name order",
     [](const char* v, Options* o, std::string*) { return o->spoolDir = v, true; }},
    {"generate", 'g', Arg::kRequired, "N", "serve N generated stories (XML and RDF) (0)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, 10000000, &o->generateStories, e);
     }},
    {"story-size", 0, Arg::kRequired, "BYTES", "size of each generated story's XML (2048)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, 1 << 30, &o->storySize, e);
     }},
    {"rescan", 0, Arg::kNone, nullptr,
     "look for new files in the spool folder whenever a session has received everything",
     [](const char*, Options* o, std::string*) { return o->rescan = true, true; }},
    {"block-size", 'b', Arg::kRequired, "BYTES", "data bytes per block, 1 to 65535 (4096)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 1, 65535, &o->blockSize, e);
     }},
    {"pipeline", 0, Arg::kNone, nullptr,
     "send all blocks of a file without waiting for each ACK (the ACKs are still counted)",
     [](const char*, Options* o, std::string*) { return o->pipeline = true, true; }},
    {"restart-files", 0, Arg::kNone, nullptr,
     "a resumed session restarts its unfinished file at block 0 instead of its first "
     "unacknowledged block",
     [](const char*, Options* o, std::string*) { return o->restartFiles = true, true; }},
    {"product", 0, Arg::kRequired, "NAME", "product name in the hello, one word (owwired)",
     [](const char* v, Options* o, std::string* e) {
       if (*v == '\0' || std::strpbrk(v, " \t\r\n\v\f") != nullptr) {
         *e = "the product name must be one word";
         return false;
       }
       return o->product = v, true;
     }},
    {"first-session-id", 0, Arg::kRequired, "N",
     "first session id to hand out, 1 to 2147483647 (derived from the clock)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 1, 0x7FFFFFFF, &o->firstSessionId, e);
     }},
    {"max-clients", 0, Arg::kRequired, "N", "connections served at once; more are closed (256)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 1, 100000, &o->maxClients, e);
     }},
    {"max-sessions", 0, Arg::kRequired, "N",
     "sessions remembered for resumption; the least recently used idle one is forgotten "
     "(10000)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 1, 10000000, &o->maxSessions, e);
     }},
    {"exit-when-done", 0, Arg::kNone, nullptr,
     "exit once a session has received every file and sent DONE",
     [](const char*, Options* o, std::string*) { return o->exitWhenDone = true, true; }},
    {"idle-exit", 0, Arg::kRequired, "SECONDS",
     "exit after SECONDS without any connection (0: never) (0)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kU32, &o->idleExitSeconds, e);
     }},
    {"faulty-connections", 0, Arg::kRequired, "N",
     "faults below apply to the first N connections only (0: all) (0)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kU32, &o->faults.faultyConnections, e);
     }},
    {"silent-after", 0, Arg::kRequired, "N",
     "fault: after N messages sent, go silent and ignore the client",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.silentAfter, e);
     }},
    {"drop-after-blocks", 0, Arg::kRequired, "N",
     "fault: after sending N blocks, close the connection",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.dropAfterBlocks, e);
     }},
    {"gone-at", 0, Arg::kRequired, "N",
     "fault: answer the Nth RQST (counted over all connections) with (410) Gone, once",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 1, kCount, &o->faults.goneAtRequest, e);
     }},
    {"garbage-after", 0, Arg::kRequired, "N",
     "fault: after N messages sent, send one message that is not a message",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.garbageAfter, e);
     }},
    {"overlong-after", 0, Arg::kRequired, "N",
     "fault: after N messages sent, send one over-long text message",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.overlongAfter, e);
     }},
    {"overlong-size", 0, Arg::kRequired, "BYTES",
     "size of the over-long message, NUL included, at least 8 (70000)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 8, 1 << 26, &o->faults.overlongSize, e);
     }},
    {"one-byte-writes", 0, Arg::kNone, nullptr, "fault: write every byte with its own send()",
     [](const char*, Options* o, std::string*) { return o->faults.oneByteWrites = true, true; }},
    {"delay", 0, Arg::kRequired, "MS", "fault: hold every message back MS milliseconds",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, 3600000, &o->faults.delayMs, e);
     }},
    {"reject-filter", 0, Arg::kOptional, "STATUS",
     "fault: answer FLTR with -FLTR and STATUS (0: no status) (400)",
     [](const char* v, Options* o, std::string* e) {
       return SetStatus(v, 400, &o->faults.rejectFilter, e);
     }},
    {"reject-user", 0, Arg::kOptional, "STATUS",
     "fault: answer USER with -USER and STATUS (0: no status) (401)",
     [](const char* v, Options* o, std::string* e) {
       return SetStatus(v, 401, &o->faults.rejectUser, e);
     }},
    {"done-after-files", 0, Arg::kRequired, "N",
     "fault: after N files delivered on a connection, send DONE, end the session and close",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.doneAfterFiles, e);
     }},
    {"stop-reading-after", 0, Arg::kRequired, "N",
     "fault: after N messages received, stop reading from the client",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.stopReadingAfter, e);
     }},
    {"reset-in-block-after", 0, Arg::kRequired, "N",
     "fault: after sending N blocks, send half of the next one and reset the connection",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.resetInBlockAfter, e);
     }},
    {"overrun-block-after", 0, Arg::kRequired, "N",
     "fault: after sending N blocks, give the next one a length that runs past its data",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.overrunBlockAfter, e);
     }},
    {"tiny-messages-after", 0, Arg::kRequired, "N",
     "fault: after N messages sent, send a flood of heartbeat answers",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.tinyMessagesAfter, e);
     }},
    {"tiny-messages", 0, Arg::kRequired, "COUNT", "messages in that flood (5000)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 1, 10000000, &o->faults.tinyMessages, e);
     }},
};

}  // namespace

int ParseCommandLine(int argc, char** argv, Options* options) {
  std::vector<owtool::OptionSpec> specs;
  for (const OptionEntry& entry : kOptionTable) {
    specs.push_back({static_cast<int>(&entry - kOptionTable), entry.shortName, entry.name,
                     entry.arg, entry.argName, entry.help});
  }
  // owwired links nothing of the client library; it speaks the wire of this release.
  owtool::ToolInfo info{"owwired", OWTOOL_PROJECT_VERSION, OWTOOL_PROJECT_VERSION, UsageText(),
                        EpilogueText()};
  info.quietHelp = "log nothing but errors";
  info.verboseHelp = "also log every message received and sent";
  owtool::CommandLine commandLine(info, specs);
  const owtool::Outcome outcome =
      commandLine.Parse(argc, argv, [&](int id, const char* value, std::string* error) {
        return kOptionTable[id].set(value, options, error);
      });
  if (outcome != owtool::Outcome::kRun) return commandLine.Finish(outcome);
  if (!commandLine.Operands().empty()) {
    return commandLine.UsageError("unexpected argument '" + commandLine.Operands()[0] +
                                   "': owwired takes options only");
  }
  if (commandLine.CommonOptions().quiet) options->verbosity = 0;
  if (commandLine.CommonOptions().verbose) options->verbosity = 2;
  return -1;
}

std::string UsageText() {
  return "Usage: owwired [OPTION]...\n"
         "The reference news-wire server: serves story files to wire clients on port 39030.\n"
         "Without --spool or --generate it serves nothing and answers every RQST with 204.\n"
         "Logs one line per event on standard error; ends on SIGINT or SIGTERM.\n";
}

std::string EpilogueText() {
  return "Defaults are in parentheses. Fault counts are per connection unless said otherwise;\n"
         "a count of N acts right after the Nth event (0: at once). A value may follow its\n"
         "option after '=' or a space.\n\n"
         "Files are announced as FILE <parent> <name>: a story's base.xml and base.rdf both with\n"
         "the parent base.xml; another file with the parent stem.xml when that story is served,\n"
         "else with its name alone. Names with white space or control bytes are skipped.\n\n"
         "Exit status:\n"
         "  0  stopped by SIGINT or SIGTERM, or ended as --exit-when-done or --idle-exit asked\n"
         "  1  the server cannot start (the address is taken, the spool folder cannot be read),\n"
         "     or standard output cannot be written\n"
         "  2  the command line is wrong\n\n"
         "Example: owwired --spool examples --exit-when-done\n";
}

}  // namespace owwired
