// SPDX-License-Identifier: MIT
// The pass that runs once when a template is loaded: version, namespace prefixes and
// the registration of every property the template refers to.
#include <vector>

#include "runtime/trace_log.h"
#include "template/html_template.h"
#include "template/short_names.h"
#include "template/template_command.h"
#include "template/template_text.h"

namespace owc {

namespace {

constexpr uint32_t kDefaultVersion = 2;

}  // namespace

bool WCHTMLTemplate::ParsePreprocess() {
  mVersion = kDefaultVersion;
  mNamespaces.clear();
  mExtractPropList.Clear();
  mSearchLevel.DeleteAll();
  bool result = true;
  std::vector<std::string> refs;
  std::string word;
  std::string args;
  uint32_t line = 1;
  size_t pos = TmplCmdGetNext(mText.data(), mTextEnd, 0, &line, &word, &args, nullptr);
  // Every prefix is bound before any reference is resolved: a prefix may be declared
  // after its first use, and its last declaration wins.
  while (!word.empty()) {
    if (word == "namespace") {
      if (!TmplCmdAddNameSpace(args)) result = false;
    } else if (word == "version") {
      if (!PreprocessVersion(args, line)) result = false;
    } else if (word == "insert" || word == "if" || word == "foreach") {
      refs.push_back(args);
    }
    pos = TmplCmdGetNext(mText.data(), mTextEnd, pos, &line, &word, &args, nullptr);
  }
  for (const std::string& ref : refs) {
    if (!ref.empty() && !RegisterReference(ref)) result = false;
  }
  return result;
}

bool WCHTMLTemplate::PreprocessVersion(const std::string& args, uint32_t line) {
  int64_t version = 0;
  if (!ReadDecimal(args, &version)) {
    TraceLogF(kLevelFailure,
              "WCHTMLTemplate::ParsePreprocess bad version on line %u, defaulting to version %d",
              line, static_cast<int>(kDefaultVersion));
    return false;
  }
  if (version < 0 || version > static_cast<int64_t>(kDefaultVersion)) {
    mVersion = kDefaultVersion;
    TraceLogF(kLevelFailure,
              "WCHTMLTemplate::ParsePreprocess unsupported version on line %u, defaulting to "
              "version %d",
              line, static_cast<int>(kDefaultVersion));
    return false;
  }
  mVersion = static_cast<uint32_t>(version);
  return true;
}

bool WCHTMLTemplate::RegisterReference(const std::string& ref) {
  std::string uri;
  std::string path;
  if (const ShortNameEntry* shortName = FindShortName(ref)) {
    path = ShortNamePath(*shortName);
  } else if (!TmplValNormalize(ref, &uri, &path)) {
    TraceLog(kLevelFailure, "WCHTMLTemplate::ParsePreprocess found bad property");
    return false;
  }
  if (path.empty() || AddExtractProp(uri.c_str(), path.c_str())) return true;
  TraceLog(kLevelFailure, "WCHTMLTemplate::ParsePreprocess AddExtractProp failed");
  return false;
}

bool WCHTMLTemplate::TmplCmdAddNameSpace(const std::string& args) {
  size_t equals = args.find('=');
  if (equals == std::string::npos) {
    TraceLogF(kLevelFailure, "WCHTMLTemplate::TmplCmdAddNameSpace found bad name space [%s] at 1",
              args.c_str());
    return false;
  }
  std::string prefix = StripQuotes(TrimBlanks(args.substr(0, equals)));
  std::string uri = StripQuotes(TrimBlanks(args.substr(equals + 1)));
  if (prefix.empty()) {
    TraceLogF(kLevelFailure, "WCHTMLTemplate::TmplCmdAddNameSpace found bad name space [%s] at 2",
              args.c_str());
    return false;
  }
  mNamespaces[prefix] = uri;
  return true;
}

}  // namespace owc
