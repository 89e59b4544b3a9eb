// SPDX-License-Identifier: MIT
#include "xml_check.h"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace owtool {
namespace {

// A document starts with markup once a byte-order mark and white space are passed.
bool StartsLikeXml(const std::string& bytes) {
  size_t i = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' ||
                              bytes[i] == '\n')) {
    ++i;
  }
  return i < bytes.size() && bytes[i] == '<';
}

}  // namespace

std::string XmlProblem(const std::string& bytes) {
  if (!StartsLikeXml(bytes)) return "not XML";
  std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
      XML_ParserCreateNS("UTF-8", ':'), XML_ParserFree);
  if (parser == nullptr) return "";  // no memory to tell; the library's reason stands
  XML_Status status = XML_STATUS_OK;
  size_t done = 0;
  do {  // in chunks an int can count
    const size_t chunk = std::min<size_t>(bytes.size() - done, INT_MAX / 2);
    status = XML_Parse(parser.get(), bytes.data() + done, static_cast<int>(chunk),
                       done + chunk == bytes.size());
    done += chunk;
  } while (status == XML_STATUS_OK && done < bytes.size());
  if (status == XML_STATUS_OK) return "";
  std::string what = XML_ErrorString(XML_GetErrorCode(parser.get()));
  if (what.rfind("not well-formed", 0) != 0) what = "not well-formed (" + what + ")";
  return what + " at line " +
         std::to_string(XML_GetCurrentLineNumber(parser.get())) + ", column " +
         std::to_string(XML_GetCurrentColumnNumber(parser.get()) + 1);
}

}  // namespace owtool
