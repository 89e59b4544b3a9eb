// SPDX-License-Identifier: MIT
// owgateway's publishing options (--publish and what goes with it) as one group of rows for
// the tool's option table, with what applies them. The group knows nothing of the client
// library, so that a build without it still parses them and can say it has no JetStream.
#ifndef OWGATEWAY_PUBLISH_OPTIONS_H
#define OWGATEWAY_PUBLISH_OPTIONS_H

#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "jetstream_options.h"
#include "publisher.h"

namespace owgateway {

struct PublishSettings {
  bool enabled = false;      // --publish given
  bool publishOnly = false;  // the folder is a staging area: published files leave it
  std::string needsPublish;  // the first option given that means nothing without --publish
  JetStreamOptions jetstream;
};

// Ids of the group's rows; kept apart from the tool's other ids.
enum PublishOptionId {
  kOptPublish = 1000,
  kOptStream,
  kOptSubject,
  kOptReplicas,
  kOptNatsCreds,
  kOptNatsUser,
  kOptNatsPassword,
  kOptNatsToken,
  kOptNatsTls,
  kOptNatsCa,
  kOptNatsCert,
  kOptNatsKey,
  kOptPublishOnly,
};

std::vector<owtool::OptionSpec> PublishOptionRows();
bool IsPublishOption(int id);
// Applies one row of the group; false with error for a value that cannot be used.
bool ApplyPublishOption(int id, const char* value, PublishSettings* settings, std::string* error);
// After the whole command line: the secrets from the environment when not given, the default
// subject prefix wire.<feed>, and the checks across options (a build without JetStream,
// options that need --publish). False with error: a usage error.
bool FinishPublishSettings(const std::string& feed, PublishSettings* settings, std::string* error);
// False, with "FILE: reason", when a credentials or TLS file given cannot be read.
bool CheckPublishFiles(const PublishSettings& settings, std::string* error);

// True when this build can publish to JetStream; else the one line that says so.
bool HaveJetStream();
const char* NoJetStreamText();
// The publisher the settings ask for, started (it connects in the background); null with error
// when the client refuses its options.
std::unique_ptr<Publisher> StartPublisher(const PublishSettings& settings, std::string* error);

}  // namespace owgateway

#endif  // OWGATEWAY_PUBLISH_OPTIONS_H
