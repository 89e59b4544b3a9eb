#include "fields.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "file_io.h"

namespace owconvert {
namespace {

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
  get(story.handle(), AppendText, reinterpret_cast<uintptr_t>(&value), 0, index);
  return value;
}

std::string ReadPropertyKey(const Story& story, const Options& o, const std::string& key) {
  const char* ns = o.has_ns ? o.ns.c_str() : nullptr;
  std::string value;
  const uintptr_t user = reinterpret_cast<uintptr_t>(&value);
  if (o.has_attr) {
    OBConvertGetPropertyAttribute(story.handle(), AppendText, user, 0, ns, key.c_str(),
                                  o.attr.c_str());
  } else {
    OBConvertGetProperty(story.handle(), AppendText, user, 0, ns, key.c_str(), o.with_tags ? 0 : 1);
  }
  return value;
}

bool HasIndex(const std::string& property) { return !property.empty() && property.back() == ')'; }

// What the field form asks the environment to capture, named for messages.
std::string Describe(const Options& o) {
  return o.field.empty() ? "--property " + o.property : "--field " + o.field;
}

int PrintValues(const std::vector<std::string>& values, const Options& o,
                const std::string& story) {
  if (values.empty()) {
    std::fprintf(stderr, "owconvert: %s: no value for %s\n", story.c_str(), Describe(o).c_str());
    return kExitFailed;
  }
  std::string text;
  for (const std::string& v : values) text += v + "\n";
  if (!WriteAll(STDOUT_FILENO, text.data(), text.size())) {
    std::fprintf(stderr, "owconvert: cannot write to standard output\n");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

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
  field->has_index = true;
  field->index = static_cast<uint32_t>(index);
  return true;
}

std::vector<std::string> ReadField(const Story& story, const FieldSpec& field) {
  const FieldDef* def = FindField(field.name);
  if (def == nullptr) return {};
  if (def->indexed != nullptr && !field.has_index) {
    return EveryOccurrence([&](uint32_t i) { return ReadIndexed(story, def->indexed, i); });
  }
  std::string value;
  if (def->indexed != nullptr) {
    value = ReadIndexed(story, def->indexed, field.index);
  } else {
    def->plain(story.handle(), AppendText, reinterpret_cast<uintptr_t>(&value), 0);
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
    std::fprintf(stderr, "owconvert: %s\n", error.c_str());
    return kExitUsage;
  }
  Environment env;
  if (env.Load(tmpl, table) != 0) {
    std::fprintf(stderr, "owconvert: the template or translation table does not load\n");
    return kExitUsage;
  }
  // Without an index the library registers every occurrence of the last segment.
  if (!o.property.empty() &&
      env.AddParseProperty(o.has_ns ? o.ns.c_str() : nullptr, o.property) != 0) {
    std::fprintf(stderr, "owconvert: cannot register %s\n", Describe(o).c_str());
    return kExitUsage;
  }
  Story story;
  if (!story.Load(files, &error)) {
    std::fprintf(stderr, "owconvert: %s\n", error.c_str());
    return kExitFailed;
  }
  if (story.Apply(env, nullptr, 0) != 0) {
    std::fprintf(stderr, "owconvert: %s: does not parse or render\n", files.xml.c_str());
    return kExitFailed;
  }
  return PrintValues(o.field.empty() ? ReadProperty(story, o) : ReadField(story, field), o,
                     files.xml);
}

}  // namespace owconvert
