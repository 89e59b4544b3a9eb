#include "options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace owgateway {

namespace {

bool ParseNumber(const char* text, uint64_t max, uint64_t& out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || v > max || text[0] == '-') return false;
  out = v;
  return true;
}

bool ParseAddress(const char* text, uint32_t& out) {
  in_addr addr;
  if (inet_pton(AF_INET, text, &addr) != 1) return false;
  out = ntohl(addr.s_addr);
  return true;
}

// One of the publishing options (an unknown option otherwise), with its value when it takes one.
bool ApplyPublishRow(int argc, char** argv, int& i, PublishSettings& settings,
                     std::string& error) {
  for (const owtool::OptionSpec& row : PublishOptionRows()) {
    if (std::string("--") + row.long_name != argv[i]) continue;
    const char* value = nullptr;
    if (row.value == owtool::Value::kRequired) {
      if (i + 1 >= argc) {
        error = std::string(argv[i]) + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    return ApplyPublishOption(row.id, value, &settings, &error);
  }
  error = std::string("unknown option: ") + argv[i];
  return false;
}

}  // namespace

const char* HelpText() {
  return "Usage: owgateway --server ADDRESS [options]\n"
         "\n"
         "Runs the news gateway against a wire server (ADDRESS:39030) and writes what\n"
         "arrives into a folder: every file reassembled from its blocks, the HTML of each\n"
         "story, and an index.html of the stories received.\n"
         "\n"
         "Options:\n"
         "  --server ADDRESS   IPv4 address of the wire server (required)\n"
         "  --mode 0|1|2       0 raw files (default), 1 HTML only, 2 raw files and HTML\n"
         "  --template FILE    HTML template (required for modes 1 and 2)\n"
         "  --xlate FILE       tag translation table (optional)\n"
         "  --out DIR          output folder (default owgateway-out), created if missing\n"
         "  --count N          stop after N stories (default: run until SIGINT/SIGTERM)\n"
         "  --resume ID        resume session ID (default: the session kept in DIR)\n"
         "  --fresh            log in anew, ignoring the session kept in DIR\n"
         "  --send-done        end the session with DONE when stopping\n"
         "  --no-sync          do not fsync files before acknowledging them (faster; a\n"
         "                     power cut may then lose files the server counted)\n"
         "  --index-stories N  stories listed in DIR/index.html (default 500)\n"
         "  --strict           read stories exactly as described (by default NITF\n"
         "                     namespaces are read as none, Latin-1 and windows-1252\n"
         "                     as declared, and HTML entity names resolve)\n"
         "  --progress SECS    seconds between progress lines (default 5, 0 = none)\n"
         "  --quiet-warn SECS  warn when no file arrived for SECS seconds (default 300,\n"
         "                     0 = never)\n"
         "  --log-file         also write the library's daily log files\n"
         "  --publish URLS     also publish every completed file to JetStream, URLS\n"
         "                     nats://HOST:PORT[,HOST:PORT...]; with --stream NAME,\n"
         "                     --subject PREFIX, --replicas N, --nats-creds FILE,\n"
         "                     --nats-user USER, --nats-password PASS, --nats-token TOKEN,\n"
         "                     --nats-tls, --nats-ca FILE, --nats-cert FILE, --nats-key FILE\n"
         "                     and --publish-only (see owgateway(1))\n"
         "  -q, --quiet        only failures on standard error\n"
         "  -v, --verbose      every library log line on standard error\n"
         "  -h, --help         this text\n"
         "  --version          the version\n"
         "\n"
         "A block is acknowledged to the server only once it is written, and a file's last\n"
         "block once the file is fsync'ed and renamed into place, so that a killed\n"
         "owgateway loses nothing the server counted as delivered (modes 0 and 2; mode 1\n"
         "acknowledges on receipt). Files are written\n"
         "atomically (a temporary name, then a rename). File names from the server never\n"
         "leave DIR: a name with '/', '..', a control character or an empty name is\n"
         "refused with a log line, and no symbolic link in DIR is followed. The session id\n"
         "is kept in DIR/.owgateway-session, so a restarted owgateway resumes its session;\n"
         "a session file that cannot be read stops it (exit 2) until --fresh or --resume\n"
         "is given. A block the server sends again is not written twice, and a file with a\n"
         "missing block is reported and not written. When the server ends the session\n"
         "(DONE), owgateway says so and logs in anew after 5 seconds. When DIR cannot be\n"
         "written (a full disk, a folder made read-only), owgateway stops at once, without\n"
         "acknowledging the block that failed: the files written so far stay complete, and\n"
         "the rest stays with the server for the restart.\n"
         "A story whose root element is in a namespace not read as NITF and one received\n"
         "but not rendered are each reported in one line and counted as a problem.\n"
         "Exit status: 0 after a clean stop, 1 on a start-up error or when DIR cannot be\n"
         "written, 2 on bad usage or a session file that cannot be read.\n";
}

ParseResult ParseOptions(int argc, char** argv, Options& o, std::string& error) {
  bool haveServer = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        error = std::string(name) + " needs a value";
        return nullptr;
      }
      return argv[++i];
    };
    uint64_t n = 0;
    if (!std::strcmp(arg, "-h") || !std::strcmp(arg, "--help")) return ParseResult::kHelp;
    if (!std::strcmp(arg, "--version")) return ParseResult::kVersion;
    if (!std::strcmp(arg, "--server")) {
      const char* v = value(arg);
      if (v == nullptr) return ParseResult::kError;
      if (!ParseAddress(v, o.server)) {
        error = std::string("not an IPv4 address: ") + v;
        return ParseResult::kError;
      }
      o.serverText = v;
      haveServer = true;
    } else if (!std::strcmp(arg, "--mode")) {
      const char* v = value(arg);
      if (v == nullptr) return ParseResult::kError;
      if (!ParseNumber(v, 2, n)) {
        error = "--mode takes 0, 1 or 2";
        return ParseResult::kError;
      }
      o.mode = static_cast<uint32_t>(n);
    } else if (!std::strcmp(arg, "--template")) {
      const char* v = value(arg);
      if (v == nullptr) return ParseResult::kError;
      o.templateFile = v;
    } else if (!std::strcmp(arg, "--xlate")) {
      const char* v = value(arg);
      if (v == nullptr) return ParseResult::kError;
      o.xlateFile = v;
    } else if (!std::strcmp(arg, "--out")) {
      const char* v = value(arg);
      if (v == nullptr) return ParseResult::kError;
      o.outDir = v;
    } else if (!std::strcmp(arg, "--count") || !std::strcmp(arg, "--resume") ||
               !std::strcmp(arg, "--progress") || !std::strcmp(arg, "--quiet-warn") ||
               !std::strcmp(arg, "--index-stories")) {
      const char* v = value(arg);
      if (v == nullptr) return ParseResult::kError;
      uint64_t max = std::strcmp(arg, "--count") == 0 ? UINT64_MAX : 0xFFFFFFFFull;
      if (!ParseNumber(v, max, n)) {
        error = std::string(arg) + " takes a non-negative number";
        return ParseResult::kError;
      }
      if (!std::strcmp(arg, "--count")) o.count = n;
      if (!std::strcmp(arg, "--resume")) {
        o.resumeGiven = true;
        o.resumeId = static_cast<uint32_t>(n);
      }
      if (!std::strcmp(arg, "--progress")) o.progressSeconds = static_cast<uint32_t>(n);
      if (!std::strcmp(arg, "--quiet-warn")) o.quietWarnSeconds = static_cast<uint32_t>(n);
      if (!std::strcmp(arg, "--index-stories")) {
        if (n == 0) {
          error = "--index-stories takes a number from 1";
          return ParseResult::kError;
        }
        o.indexStories = static_cast<uint32_t>(n);
      }
    } else if (!std::strcmp(arg, "--fresh")) {
      o.fresh = true;
    } else if (!std::strcmp(arg, "--send-done")) {
      o.sendDone = true;
    } else if (!std::strcmp(arg, "--no-sync")) {
      o.sync = false;
    } else if (!std::strcmp(arg, "--strict")) {
      o.strict = true;
    } else if (!std::strcmp(arg, "--log-file")) {
      o.logFile = "auto";
    } else if (!std::strcmp(arg, "-q") || !std::strcmp(arg, "--quiet")) {
      o.verbosity = 0;
    } else if (!std::strcmp(arg, "-v") || !std::strcmp(arg, "--verbose")) {
      o.verbosity = 2;
    } else if (!ApplyPublishRow(argc, argv, i, o.publish, error)) {
      return ParseResult::kError;
    }
  }
  if (!haveServer) {
    error = "--server ADDRESS is required";
    return ParseResult::kError;
  }
  if (o.mode != 0 && o.templateFile.empty()) {
    error = "modes 1 and 2 need --template FILE";
    return ParseResult::kError;
  }
  if (!FinishPublishSettings(o.serverText, &o.publish, &error)) return ParseResult::kError;
  if (o.resumeGiven && o.fresh) {
    error = "--resume and --fresh exclude each other";
    return ParseResult::kError;
  }
  return ParseResult::kRun;
}

}  // namespace owgateway
