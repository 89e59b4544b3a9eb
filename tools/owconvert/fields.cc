// SPDX-License-Identifier: MIT
#include "fields.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "file_io.h"
#include "log_route.h"

namespace owconvert {
namespace {

using owtool::Environment;
using owtool::Story;
using owtool::StoryFiles;

void Report(const std::string& message) { owtool::PrintError("owconvert", message); }

using Getter = uint32_t (*)(OBConvertObj, OBConvertCallback, uintptr_t, uintptr_t);
using IndexedGetter = uint32_t (*)(OBConvertObj, OBConvertCallback, uintptr_t, uintptr_t, uint32_t);

struct FieldDef {
  const char* name;
  Getter plain;           // null for indexed fields
  IndexedGetter indexed;  // null for single fields
};

constexpr FieldDef kFields[] = {
    {"headline", OBConvertGetHeadline, nullptr},
    {"subheadline", nullptr, OBConvertGetSubheadline},
    {"byline", nullptr, OBConvertGetByline},
    {"distributor", OBConvertGetDistributor, nullptr},
    {"dateline", OBConvertGetDateline, nullptr},
    {"series.name", OBConvertGetSeriesName, nullptr},
    {"series.part", OBConvertGetSeriesPart, nullptr},
    {"series.totalpart", OBConvertGetSeriesTotalPart, nullptr},
    {"body", OBConvertGetBody, nullptr},
};

const FieldDef* FindField(const std::string& name) {
  for (const FieldDef& f : kFields) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

void AppendText(const uint8_t* data, uint32_t len, uintptr_t user1, uintptr_t) {
  if (data != nullptr)
    reinterpret_cast<std::string*>(user1)->append(reinterpret_cast<const char*>(data), len);
}

// Calls `read(i)` for i = 0, 1, ... and collects the values up to the first empty one.
template <typename Read>
std::vector<std::string> EveryOccurrence(Read read) {
  std::vector<std::string> values;
  for (uint32_t i = 0;; ++i) {
    std::string value = read(i);
    if (value.empty()) return values;
    values.push_back(std::move(value));
  }
}

std::string ReadIndexed(const Story& story, IndexedGetter get, uint32_t index) {
  std::string value;
  get(story.Handle(), AppendText, reinterpret_cast<uintptr_t>(&value), 0, index);
  return value;
}

std::string ReadPropertyKey(const Story& story, const Options& o, const std::string& key) {
  const char* ns = o.hasNs ? o.ns.c_str() : nullptr;
  std::string value;
  const uintptr_t user = reinterpret_cast<uintptr_t>(&value);
  if (o.hasAttr) {
    OBConvertGetPropertyAttribute(story.Handle(), AppendText, user, 0, ns, key.c_str(),
                                  o.attr.c_str());
  } else {
    OBConvertGetProperty(story.Handle(), AppendText, user, 0, ns, key.c_str(), o.withTags ? 0 : 1);
  }
  return value;
}

void AppendUtf8(uint32_t code, std::string* out) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Decodes the reference at markup[at] ('&') into `out`; returns the bytes it took. Something
// that is no reference stays as it is, one '&'.
size_t DecodeReference(const std::string& markup, size_t at, std::string* out) {
  static const std::pair<const char*, char> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  const size_t semi = markup.find(';', at);
  if (semi != std::string::npos && semi - at <= 10) {
    const std::string name = markup.substr(at + 1, semi - at - 1);
    for (const auto& [entity, c] : kNamed) {
      if (name == entity) return *out += c, semi - at + 1;
    }
    const bool hex = name.size() > 2 && name[0] == '#' && (name[1] == 'x' || name[1] == 'X');
    const std::string digits = name.size() > 1 && name[0] == '#' ? name.substr(hex ? 2 : 1) : "";
    char* end = nullptr;
    const unsigned long code = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
    if (!digits.empty() && *end == '\0' && std::isxdigit(static_cast<unsigned char>(digits[0]))) {
      AppendUtf8(static_cast<uint32_t>(code), out);
      return semi - at + 1;
    }
  }
  *out += '&';
  return 1;
}

// A paragraph, a list item or a table cell ends a word even where the story puts no space.
bool SeparatesWords(const std::string& tag) {
  static const char* const kBlocks[] = {"p",  "br", "li", "td", "th",  "tr", "hl1", "hl2",
                                        "dt", "dd", "bq", "block", "table", "media-caption"};
  size_t start = tag.size() > 1 && tag[1] == '/' ? 2 : 1, end = start;
  while (end < tag.size() && (std::isalnum(static_cast<unsigned char>(tag[end])) ||
                              tag[end] == '-' || tag[end] == '.')) {
    ++end;
  }
  const std::string name = tag.substr(start, end - start);
  for (const char* block : kBlocks) {
    if (name == block) return true;
  }
  return false;
}

bool HasIndex(const std::string& property) { return !property.empty() && property.back() == ')'; }

// What the field form asks the environment to capture, named for messages.
std::string Describe(const Options& o) {
  return o.field.empty() ? "--property " + o.property : "--field " + o.field;
}

int PrintValues(const std::vector<std::string>& values, const Options& o,
                const std::string& story) {
  if (values.empty()) {
    Report(story + ": no value for " + Describe(o));
    return kExitFailed;
  }
  std::string text;
  for (const std::string& v : values) text += (o.field.empty() || o.markup ? v : PlainText(v)) + "\n";
  if (!owtool::WriteAll(STDOUT_FILENO, text.data(), text.size())) {
    Report(std::string("cannot write to standard output: ") + std::strerror(errno));
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

std::string PlainText(const std::string& markup) {
  std::string text;
  bool space = false;  // white space (or a block's edge) since the last character
  for (size_t i = 0; i < markup.size();) {
    const char c = markup[i];
    if (c == '<') {
      const size_t close = markup.find('>', i);
      const size_t end = close == std::string::npos ? markup.size() : close + 1;
      space |= SeparatesWords(markup.substr(i, end - i));
      i = end;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      space = true;
      ++i;
    } else {
      if (space && !text.empty()) text += ' ';
      space = false;
      i += c == '&' ? DecodeReference(markup, i, &text) : (text += c, 1);
    }
  }
  return text;
}

bool ParseFieldSpec(const std::string& text, FieldSpec* field, std::string* error) {
  const size_t colon = text.find(':');
  field->name = text.substr(0, colon);
  const FieldDef* def = FindField(field->name);
  if (def == nullptr) {
    *error = "unknown field " + field->name + " (see --help for the field names)";
    return false;
  }
  if (colon == std::string::npos) return true;
  const std::string digits = text.substr(colon + 1);
  char* end = nullptr;
  const unsigned long index = std::strtoul(digits.c_str(), &end, 10);
  if (def->indexed == nullptr || digits.empty() || *end != '\0' || digits[0] == '-' ||
      index > UINT32_MAX) {
    *error = def->indexed == nullptr ? "the field " + field->name + " takes no index"
                                     : "bad index in --field " + text;
    return false;
  }
  field->hasIndex = true;
  field->index = static_cast<uint32_t>(index);
  return true;
}

std::vector<std::string> ReadField(const Story& story, const FieldSpec& field) {
  const FieldDef* def = FindField(field.name);
  if (def == nullptr) return {};
  if (def->indexed != nullptr && !field.hasIndex) {
    return EveryOccurrence([&](uint32_t i) { return ReadIndexed(story, def->indexed, i); });
  }
  std::string value;
  if (def->indexed != nullptr) {
    value = ReadIndexed(story, def->indexed, field.index);
  } else {
    def->plain(story.Handle(), AppendText, reinterpret_cast<uintptr_t>(&value), 0);
  }
  if (value.empty()) return {};
  return {value};
}

std::vector<std::string> ReadProperty(const Story& story, const Options& o) {
  if (HasIndex(o.property)) {
    std::string value = ReadPropertyKey(story, o, o.property);
    if (value.empty()) return {};
    return {value};
  }
  return EveryOccurrence([&](uint32_t i) {
    return ReadPropertyKey(story, o, o.property + "(" + std::to_string(i) + ")");
  });
}

int RunFieldForm(const Options& o, const std::string& tmpl, const std::string& table,
                 const StoryFiles& files) {
  FieldSpec field;
  std::string error;
  if (!o.field.empty() && !ParseFieldSpec(o.field, &field, &error)) {
    Report(error + "\nTry 'owconvert --help'.");
    return kExitUsage;
  }
  Environment env;
  if (env.Load(tmpl, table) != 0) {
    const std::string reason = owtool::LastLibraryFailure();
    Report("the template or translation table does not load" + (reason.empty() ? "" : ": " + reason));
    return kExitUsage;
  }
  // Without an index the library registers every occurrence of the last segment.
  if (!o.property.empty() &&
      env.AddParseProperty(o.hasNs ? o.ns.c_str() : nullptr, o.property) != 0) {
    Report("cannot register " + Describe(o));
    return kExitUsage;
  }
  Story story;
  if (!story.Load(files, &error)) {
    Report(error);
    return kExitFailed;
  }
  if (story.Apply(env, nullptr, 0) != 0) {
    Report(story.WhyNotApplied(files));
    return kExitFailed;
  }
  return PrintValues(o.field.empty() ? ReadProperty(story, o) : ReadField(story, field), o,
                     files.xml);
}

}  // namespace owconvert
