// SPDX-License-Identifier: MIT
#include "options.h"

#include <cstdlib>

#include "owclient/owclient.h"

namespace owgateway {
namespace {

using owtool::Value;

enum GatewayId {
  kServer, kMode, kTemplate, kXlate, kOutDir, kCount, kResume, kFresh, kSendDone, kNoSync,
  kIndexStories, kStrict, kProgress, kQuietWarn, kLogFile
};

// Numbers of seconds and counts held in 32 bits.
bool Apply32(const char* text, uint64_t min, uint32_t* out, std::string* error) {
  uint64_t n = 0;
  if (!owtool::ParseUnsigned(text, UINT32_MAX, &n) || n < min) {
    *error = "'" + std::string(text) + "' is not a number from " + std::to_string(min) + " to " +
             std::to_string(UINT32_MAX);
    return false;
  }
  *out = static_cast<uint32_t>(n);
  return true;
}

bool ApplyGateway(int id, const char* value, Options* o, std::string* error) {
  uint64_t n = 0;
  switch (id) {
    case kServer: return ParseServer(value, &o->serverHost, &o->serverPort, error);
    case kMode:
      if (!owtool::ParseUnsigned(value, 2, &n)) *error = "takes 0, 1 or 2";
      o->mode = static_cast<uint32_t>(n);
      break;
    case kTemplate: o->templateFile = value; break;
    case kXlate: o->xlateFile = value; break;
    case kOutDir:
      if (*value == '\0') *error = "needs a folder";
      o->outDir = value;
      break;
    case kCount:
      if (!owtool::ParseUnsigned(value, UINT64_MAX, &o->count)) *error = "takes a number of stories";
      break;
    case kResume: o->resumeGiven = true; return Apply32(value, 1, &o->resumeId, error);
    case kFresh: o->fresh = true; break;
    case kSendDone: o->sendDone = true; break;
    case kNoSync: o->sync = false; break;
    case kIndexStories: return Apply32(value, 1, &o->indexStories, error);
    case kStrict: o->strict = true; break;
    case kProgress: return Apply32(value, 0, &o->progressSeconds, error);
    case kQuietWarn: return Apply32(value, 0, &o->quietWarnSeconds, error);
    case kLogFile: o->logFile = true; break;
    default: break;
  }
  return error->empty();
}

OptionGroup GatewayGroup() {
  return {{
              {kServer, 0, "server", Value::kRequired, "HOST[:PORT]",
               "the wire server: a name or an IPv4 address, and its port (39030); required"},
              {kMode, 0, "mode", Value::kRequired, "MODE",
               "0 raw files (the default), 1 the HTML of each story only, 2 both"},
              {kTemplate, 't', "template", Value::kRequired, "FILE",
               "the HTML template of modes 1 and 2 (default: the installed sample)"},
              {kXlate, 'x', "xlate", Value::kRequired, "FILE",
               "the tag translation table of modes 1 and 2 (default: the installed sample "
               "with the sample template, else none)"},
              {kOutDir, 'd', "output-dir", Value::kRequired, "DIR",
               "the output folder (owgateway-out), created if missing"},
              {kOutDir, 0, "out", Value::kRequired, "DIR", nullptr},     // older spellings
              {kOutDir, 0, "outdir", Value::kRequired, "DIR", nullptr},  // kept for scripts
              {kCount, 0, "count", Value::kRequired, "N",
               "stop after exactly N stories (default: run until stopped)"},
              {kResume, 0, "resume", Value::kRequired, "ID",
               "resume session ID (default: the session kept in DIR)"},
              {kFresh, 0, "fresh", Value::kNone, nullptr,
               "log in anew, ignoring the session kept in DIR"},
              {kSendDone, 0, "send-done", Value::kNone, nullptr,
               "end the session with DONE when stopping"},
              {kNoSync, 0, "no-sync", Value::kNone, nullptr,
               "do not fsync files before acknowledging them (faster; a power cut may then "
               "lose files the server counted)"},
              {kIndexStories, 0, "index-stories", Value::kRequired, "N",
               "stories listed in DIR/index.html (500)"},
              {kStrict, 0, "strict", Value::kNone, nullptr,
               "read stories exactly as described (by default NITF namespaces are read as "
               "none, Latin-1 and windows-1252 as declared, and HTML entity names resolve)"},
              {kProgress, 0, "progress", Value::kRequired, "SECS",
               "seconds between progress lines (5; 0 = none)"},
              {kQuietWarn, 0, "quiet-warn", Value::kRequired, "SECS",
               "warn when no file arrived for SECS seconds (300; 0 = never)"},
              {kLogFile, 0, "log-file", Value::kNone, nullptr,
               "also have the library write its daily log files"},
          },
          &ApplyGateway};
}

// Checks that the options given belong together; "" when they do.
std::string Validate(const Options& o, const std::vector<std::string>& operands) {
  if (!operands.empty()) return "unexpected argument '" + operands[0] + "'";
  if (o.serverHost.empty()) return "--server HOST[:PORT] is required";
  if (o.mode == 0 && (!o.templateFile.empty() || !o.xlateFile.empty())) {
    return "--template and --xlate apply to modes 1 and 2 (mode 0 writes raw files only)";
  }
  if (o.resumeGiven && o.fresh) return "--resume and --fresh exclude each other";
  return "";
}

OptionGroup PublishGroup() {
  return {PublishOptionRows(),
          [](int id, const char* value, Options* options, std::string* error) {
            return ApplyPublishOption(id, value, &options->publish, error);
          }};
}

}  // namespace

// The one place where option groups are put together.
std::vector<OptionGroup> OptionGroups() { return {GatewayGroup(), PublishGroup()}; }

bool ParseServer(const std::string& text, std::string* host, uint16_t* port, std::string* error) {
  const size_t colon = text.find(':');
  if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) {
    *error = "'" + text + "': IPv6 addresses are not supported; give an IPv4 address or a name";
    return false;
  }
  *host = text.substr(0, colon);
  *port = kDefaultPort;
  if (host->empty()) {
    *error = "'" + text + "' names no host";
    return false;
  }
  if (colon == std::string::npos) return true;
  uint64_t n = 0;
  if (!owtool::ParseUnsigned(text.c_str() + colon + 1, 65535, &n) || n == 0) {
    *error = "'" + text.substr(colon + 1) + "' is not a port from 1 to 65535";
    return false;
  }
  *port = static_cast<uint16_t>(n);
  return true;
}

int ParseCommandLine(int argc, char** argv, Options* options) {
  owtool::ToolInfo info{"owgateway", OWGATEWAY_VERSION, OwclientVersion(), UsageText(),
                        EpilogueText()};
  info.quietHelp = "only problems on standard error: no progress and no connection lines";
  info.verboseHelp = "every log line of the library on standard error as well";
  const std::vector<OptionGroup> groups = OptionGroups();
  std::vector<owtool::OptionSpec> rows;
  for (const OptionGroup& group : groups) rows.insert(rows.end(), group.rows.begin(), group.rows.end());
  owtool::CommandLine commandLine(info, rows);
  commandLine.AllowConfigFile(
      "read options from FILE first: one a line, by their long names (see the manual)");
  const owtool::Outcome outcome =
      commandLine.Parse(argc, argv, [&](int id, const char* value, std::string* error) {
        for (const OptionGroup& group : groups) {
          for (const owtool::OptionSpec& row : group.rows) {
            if (row.id == id) return group.apply(id, value, options, error);
          }
        }
        return false;
      });
  if (outcome != owtool::Outcome::kRun) return commandLine.Finish(outcome);
  if (commandLine.CommonOptions().quiet) options->verbosity = 0;
  if (commandLine.CommonOptions().verbose) options->verbosity = 2;
  std::string error = Validate(*options, commandLine.Operands());
  if (!error.empty()) return commandLine.UsageError(error);
  // Not a mistake in the command line but in the build: one line, without the hint.
  if (options->publish.enabled && !HaveJetStream()) {
    owtool::PrintError("owgateway", NoJetStreamText());
    return kExitUsage;
  }
  if (!FinishPublishSettings(options->serverHost, &options->publish, &error)) {
    return commandLine.UsageError(error);
  }
  // A credentials or TLS file that cannot be read is found now, not at the first story's
  // publish, when the client connects.
  if (!CheckPublishFiles(options->publish, &error)) {
    owtool::PrintError("owgateway", error);
    return kExitUsage;
  }
  return -1;
}

}  // namespace owgateway
