#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace owwired {
namespace {

enum class Arg { kNone, kRequired, kOptional };

using Setter = bool (*)(const char* value, Options* options, std::string* error);

struct OptionEntry {
  const char* name;
  char short_name;
  Arg arg;
  const char* arg_name;
  const char* help;
  Setter set;
};

bool ParseNumber(const char* text, long long min, long long max, long long* value,
                 std::string* error) {
  char* end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno != 0 || parsed < min || parsed > max) {
    *error = std::string("'") + text + "' is not a number from " + std::to_string(min) + " to " +
             std::to_string(max);
    return false;
  }
  *value = parsed;
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
bool SetStatus(const char* text, int default_status, int* field, std::string* error) {
  if (text == nullptr) {
    *field = default_status;
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
     [](const char* v, Options* o, std::string*) { return o->spool_dir = v, true; }},
    {"generate", 'g', Arg::kRequired, "N", "serve N generated stories (XML and RDF) (0)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, 10000000, &o->generate_stories, e);
     }},
    {"story-size", 0, Arg::kRequired, "BYTES", "size of each generated story's XML (2048)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, 1 << 30, &o->story_size, e);
     }},
    {"rescan", 0, Arg::kNone, nullptr,
     "look for new files in the spool folder whenever a session has received everything",
     [](const char*, Options* o, std::string*) { return o->rescan = true, true; }},
    {"block-size", 'b', Arg::kRequired, "BYTES", "data bytes per block, 1 to 65535 (4096)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 1, 65535, &o->block_size, e);
     }},
    {"pipeline", 0, Arg::kNone, nullptr,
     "send all blocks of a file without waiting for each ACK (the ACKs are still counted)",
     [](const char*, Options* o, std::string*) { return o->pipeline = true, true; }},
    {"restart-files", 0, Arg::kNone, nullptr,
     "a resumed session restarts its unfinished file at block 0 instead of its first "
     "unacknowledged block",
     [](const char*, Options* o, std::string*) { return o->restart_files = true, true; }},
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
       return SetNumber(v, 1, 0x7FFFFFFF, &o->first_session_id, e);
     }},
    {"max-clients", 0, Arg::kRequired, "N", "connections served at once; more are closed (256)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 1, 100000, &o->max_clients, e);
     }},
    {"max-sessions", 0, Arg::kRequired, "N",
     "sessions remembered for resumption; the least recently used idle one is forgotten "
     "(10000)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 1, 10000000, &o->max_sessions, e);
     }},
    {"exit-when-done", 0, Arg::kNone, nullptr,
     "exit once a session has received every file and sent DONE",
     [](const char*, Options* o, std::string*) { return o->exit_when_done = true, true; }},
    {"idle-exit", 0, Arg::kRequired, "SECONDS",
     "exit after SECONDS without any connection (0: never) (0)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kU32, &o->idle_exit_seconds, e);
     }},
    {"quiet", 'q', Arg::kNone, nullptr, "log nothing but errors",
     [](const char*, Options* o, std::string*) { return o->verbosity = 0, true; }},
    {"verbose", 'v', Arg::kNone, nullptr, "also log every message received and sent",
     [](const char*, Options* o, std::string*) { return o->verbosity = 2, true; }},
    {"faulty-connections", 0, Arg::kRequired, "N",
     "faults below apply to the first N connections only (0: all) (0)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kU32, &o->faults.faulty_connections, e);
     }},
    {"silent-after", 0, Arg::kRequired, "N",
     "fault: after N messages sent, go silent and ignore the client",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.silent_after, e);
     }},
    {"drop-after-blocks", 0, Arg::kRequired, "N",
     "fault: after sending N blocks, close the connection",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.drop_after_blocks, e);
     }},
    {"gone-at", 0, Arg::kRequired, "N",
     "fault: answer the Nth RQST (counted over all connections) with (410) Gone, once",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 1, kCount, &o->faults.gone_at_request, e);
     }},
    {"garbage-after", 0, Arg::kRequired, "N",
     "fault: after N messages sent, send one message that is not a message",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.garbage_after, e);
     }},
    {"overlong-after", 0, Arg::kRequired, "N",
     "fault: after N messages sent, send one over-long text message",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.overlong_after, e);
     }},
    {"overlong-size", 0, Arg::kRequired, "BYTES",
     "size of the over-long message, NUL included, at least 8 (70000)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 8, 1 << 26, &o->faults.overlong_size, e);
     }},
    {"one-byte-writes", 0, Arg::kNone, nullptr, "fault: write every byte with its own send()",
     [](const char*, Options* o, std::string*) { return o->faults.one_byte_writes = true, true; }},
    {"delay", 0, Arg::kRequired, "MS", "fault: hold every message back MS milliseconds",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, 3600000, &o->faults.delay_ms, e);
     }},
    {"reject-filter", 0, Arg::kOptional, "STATUS",
     "fault: answer FLTR with -FLTR and STATUS (0: no status) (400)",
     [](const char* v, Options* o, std::string* e) {
       return SetStatus(v, 400, &o->faults.reject_filter, e);
     }},
    {"reject-user", 0, Arg::kOptional, "STATUS",
     "fault: answer USER with -USER and STATUS (0: no status) (401)",
     [](const char* v, Options* o, std::string* e) {
       return SetStatus(v, 401, &o->faults.reject_user, e);
     }},
    {"done-after-files", 0, Arg::kRequired, "N",
     "fault: after N files delivered on a connection, send DONE, end the session and close",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.done_after_files, e);
     }},
    {"stop-reading-after", 0, Arg::kRequired, "N",
     "fault: after N messages received, stop reading from the client",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.stop_reading_after, e);
     }},
    {"reset-in-block-after", 0, Arg::kRequired, "N",
     "fault: after sending N blocks, send half of the next one and reset the connection",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.reset_in_block_after, e);
     }},
    {"overrun-block-after", 0, Arg::kRequired, "N",
     "fault: after sending N blocks, give the next one a length that runs past its data",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.overrun_block_after, e);
     }},
    {"tiny-messages-after", 0, Arg::kRequired, "N",
     "fault: after N messages sent, send a flood of heartbeat answers",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 0, kCount, &o->faults.tiny_messages_after, e);
     }},
    {"tiny-messages", 0, Arg::kRequired, "COUNT", "messages in that flood (5000)",
     [](const char* v, Options* o, std::string* e) {
       return SetNumber(v, 1, 10000000, &o->faults.tiny_messages, e);
     }},
    {"help", 'h', Arg::kNone, nullptr, "print this text and exit", nullptr},
};

const OptionEntry* FindLong(const std::string& name) {
  for (const OptionEntry& entry : kOptionTable) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

const OptionEntry* FindShort(char name) {
  for (const OptionEntry& entry : kOptionTable) {
    if (entry.short_name != 0 && entry.short_name == name) return &entry;
  }
  return nullptr;
}

// Splits one argument into its option and inline value ("--port=1" or "-p1").
const OptionEntry* Identify(const std::string& arg, const char** inline_value) {
  *inline_value = nullptr;
  if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
    size_t eq = arg.find('=');
    if (eq != std::string::npos) *inline_value = arg.c_str() + eq + 1;
    return FindLong(arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2));
  }
  if (arg.size() >= 2 && arg[0] == '-' && arg[1] != '-') {
    if (arg.size() > 2) *inline_value = arg.c_str() + 2;
    return FindShort(arg[1]);
  }
  return nullptr;
}

constexpr size_t kHelpIndent = 30;
constexpr size_t kHelpWidth = 100;

// `text` broken into lines of at most kHelpWidth columns, continuation lines indented.
std::string Wrap(const std::string& text) {
  std::string result;
  size_t column = kHelpIndent;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(start, end - start);
    if (column > kHelpIndent && column + 1 + word.size() > kHelpWidth) {
      result += "\n" + std::string(kHelpIndent, ' ');
      column = kHelpIndent;
    } else if (column > kHelpIndent) {
      result += ' ';
      ++column;
    }
    result += word;
    column += word.size();
    start = end + 1;
  }
  return result;
}

}  // namespace

ParseOutcome ParseCommandLine(int argc, const char* const* argv, Options* options,
                              std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = nullptr;
    const OptionEntry* entry = Identify(arg, &value);
    if (entry == nullptr) {
      *error = "unknown option '" + arg + "' (see --help)";
      return ParseOutcome::kError;
    }
    if (entry->set == nullptr) return ParseOutcome::kHelp;
    if (entry->arg == Arg::kNone && value != nullptr) {
      *error = "option --" + std::string(entry->name) + " takes no value";
      return ParseOutcome::kError;
    }
    if (entry->arg == Arg::kRequired && value == nullptr) {
      if (i + 1 >= argc) {
        *error = "option --" + std::string(entry->name) + " needs a value";
        return ParseOutcome::kError;
      }
      value = argv[++i];
    }
    std::string why;
    if (!entry->set(value, options, &why)) {
      *error = "option --" + std::string(entry->name) + ": " + why;
      return ParseOutcome::kError;
    }
  }
  return ParseOutcome::kRun;
}

std::string HelpText() {
  std::string text =
      "Usage: owwired [OPTION]...\n"
      "The reference news-wire server: serves story files to wire clients on port 39030.\n"
      "Without --spool or --generate it serves nothing and answers every RQST with 204.\n"
      "Logs one line per event on standard error; ends on SIGINT or SIGTERM.\n\n";
  for (const OptionEntry& entry : kOptionTable) {
    std::string left = entry.short_name != 0 ? std::string("  -") + entry.short_name + ", "
                                             : std::string("      ");
    left += "--";
    left += entry.name;
    if (entry.arg == Arg::kRequired) left += std::string("=") + entry.arg_name;
    if (entry.arg == Arg::kOptional) left += std::string("[=") + entry.arg_name + "]";
    if (left.size() < kHelpIndent) {
      left.resize(kHelpIndent, ' ');
    } else {
      left += "\n" + std::string(kHelpIndent, ' ');
    }
    text += left + Wrap(entry.help) + "\n";
  }
  text +=
      "\nDefaults are in parentheses. Fault counts are per connection unless said otherwise;\n"
      "a count of N acts right after the Nth event (0: at once).\n\n"
      "Files are announced as FILE <parent> <name>: a story's base.xml and base.rdf both with\n"
      "the parent base.xml; another file with the parent stem.xml when that story is served,\n"
      "else with its name alone. Names with white space or control bytes are skipped.\n\n"
      "Example: owwired --spool examples --exit-when-done\n";
  return text;
}

}  // namespace owwired
