// SPDX-License-Identifier: MIT
#include "story_check.h"

#include <expat.h>

#include <cstdio>
#include <cstring>

namespace owtools {

namespace {

struct RootSearch {
  XML_Parser parser;
  std::string uri;
  bool found = false;
};

// Expat names a namespaced element "URI\x01local" with the separator chosen below, which
// no URI or name holds.
void XMLCALL OnStart(void* user, const XML_Char* name, const XML_Char**) {
  RootSearch* search = static_cast<RootSearch*>(user);
  const char* separator = std::strchr(name, '\x01');
  if (separator != nullptr) search->uri.assign(name, static_cast<size_t>(separator - name));
  search->found = true;
  XML_StopParser(search->parser, XML_FALSE);
}

void Collect(const uint8_t* data, uint32_t len, uintptr_t user, uintptr_t) {
  if (data != nullptr && len > 0) *reinterpret_cast<bool*>(user) = true;
}

bool HasStandardField(OBConvertObj story) {
  bool found = false;
  const uintptr_t user = reinterpret_cast<uintptr_t>(&found);
  OBConvertGetHeadline(story, Collect, user, 0);
  OBConvertGetSubheadline(story, Collect, user, 0, 0);
  OBConvertGetByline(story, Collect, user, 0, 0);
  OBConvertGetDistributor(story, Collect, user, 0);
  OBConvertGetDateline(story, Collect, user, 0);
  OBConvertGetSeriesName(story, Collect, user, 0);
  OBConvertGetBody(story, Collect, user, 0);
  return found;
}

}  // namespace

// Read as ISO-8859-1, in which every byte is a character: the names and the URI are
// ASCII in any encoding a story may have, and nothing before the root tag can fail.
std::string RootNamespace(const char* xml, size_t len) {
  RootSearch search;
  search.parser = XML_ParserCreateNS("ISO-8859-1", '\x01');
  if (search.parser == nullptr) return std::string();
  XML_SetUserData(search.parser, &search);
  XML_SetStartElementHandler(search.parser, OnStart);
  if (len > kRootSearchBytes) len = kRootSearchBytes;
  XML_Parse(search.parser, xml, static_cast<int>(len), XML_FALSE);
  XML_ParserFree(search.parser);
  return search.found ? search.uri : std::string();
}

bool ReadsPlainly(const std::string& uri, uint32_t readOptions) {
  if ((readOptions & OBCONVERT_READ_PLAIN_NITF) == 0) return false;
  return uri.compare(0, 25, "http://iptc.org/std/NITF/") == 0 ||
         uri.compare(0, 25, "http://iptc.org/std/nitf/") == 0;
}

std::string NamespaceProblem(const std::string& xml, uint32_t readOptions) {
  const std::string uri = RootNamespace(xml.data(), xml.size());
  if (uri.empty() || ReadsPlainly(uri, readOptions)) return std::string();
  return "its root element is in the namespace " + uri +
         ", which is not read as NITF: no field is found" +
         ((readOptions & OBCONVERT_READ_PLAIN_NITF) == 0 ? " (try without --strict)" : "");
}

std::string StoryProblem(OBConvertObj story, const std::string& xml, uint32_t readOptions) {
  std::string problem = NamespaceProblem(xml, readOptions);
  if (!problem.empty()) return problem;
  if (!HasStandardField(story)) {
    return "no standard field (headline, byline, dateline, body, ...) was found";
  }
  return std::string();
}

std::string ReadFileStart(const std::string& path, size_t limit) {
  std::string data;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return data;
  data.resize(limit);
  data.resize(std::fread(&data[0], 1, limit, file));
  std::fclose(file);
  return data;
}

}  // namespace owtools
