// SPDX-License-Identifier: MIT
// The reading options of a story document that need parser callbacks of their own:
// NITF namespaces read as none, and the HTML 4 named references.
#include <expat.h>

#include <cstring>

#include "doc/doc_settings.h"
#include "doc/html_entities.h"
#include "doc/xml_doc.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

// Namespace URIs that the plain-NITF option reads as no namespace: every NITF version
// from 3.3 on declares one of these followed by its own date.
const char kNitfNamespaceStart[] = "http://iptc.org/std/";
constexpr size_t kNitfNamespaceStartLen = sizeof kNitfNamespaceStart - 1;

// Undefined entity names logged per document at most: a story full of them is one
// problem, not a flood of lines, and the list stays small.
constexpr size_t kMaxUndefinedEntitiesLogged = 16;

}  // namespace

// Expat reports a namespaced name as "URI:local" (the separator given at creation); a
// local name holds no colon, so the URI ends at the last one.
const char* WCXMLDoc::PlainName(const char* name) const {
  if (std::strncmp(name, kNitfNamespaceStart, kNitfNamespaceStartLen) != 0) return name;
  const char* tail = name + kNitfNamespaceStartLen;
  if (std::strncmp(tail, "NITF/", 5) != 0 && std::strncmp(tail, "nitf/", 5) != 0) return name;
  const char* colon = std::strrchr(tail, ':');
  return colon != nullptr && colon[1] != '\0' ? colon + 1 : name;
}

// The attribute pairs with plain names, in a scratch array valid until the next call;
// the attributes themselves when none needs renaming (the usual case: an attribute
// without a prefix is in no namespace at all).
const char** WCXMLDoc::PlainAttributes(const char** attrs) {
  if (attrs == nullptr) return attrs;
  bool renamed = false;
  for (const char** a = attrs; a[0] != nullptr && !renamed; a += 2) renamed = PlainName(a[0]) != a[0];
  if (!renamed) return attrs;
  mAttrScratch.clear();
  for (const char** a = attrs; a[0] != nullptr; a += 2) {
    mAttrScratch.push_back(PlainName(a[0]));
    mAttrScratch.push_back(a[1]);
  }
  mAttrScratch.push_back(nullptr);
  return mAttrScratch.data();
}

// With the HTML-entity option expat reads an external DTD subset, which the document
// names or which, without one, the parser supposes (a "foreign" DTD): either way the
// handler gives it the library's own declarations, never the named file. Declarations
// of the internal subset come first and so win over ours.
void WCXMLDoc::SetReadingHandlers(XML_ParserStruct* parser) {
  if ((mReadOptions & kReadHtmlEntities) == 0) return;
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_ALWAYS);
  XML_UseForeignDTD(parser, XML_TRUE);
  XML_SetStartDoctypeDeclHandler(parser, ParseCBStartDoctypeHandler);
  XML_SetExternalEntityRefHandler(parser, ParseCBExternalEntityHandler);
  XML_SetSkippedEntityHandler(parser, ParseCBSkippedEntityHandler);
}

void WCXMLDoc::ParseCBStartDoctypeHandler(void* user, const char*, const char* sysid,
                                          const char*, int) {
  WCXMLDoc* doc = static_cast<WCXMLDoc*>(user);
  if (sysid == nullptr) return;
  try {
    doc->mDoctypeSystemId = sysid;
    doc->mHasDoctypeSystemId = true;
  } catch (...) {
    doc->AbortParse();
  }
}

// context is null only for parameter entities, the external subset among them. The
// subset is read as the library's declarations, once; any other external parameter
// entity is read as empty, never from its file: declarations after an entity left
// unread would be ignored, ours among them. An external general entity still fails the
// parse.
int WCXMLDoc::ParseCBExternalEntityHandler(XML_ParserStruct* parser, const char* context,
                                           const char*, const char* systemId, const char*) {
  if (context != nullptr) return XML_STATUS_ERROR;
  WCXMLDoc* doc = static_cast<WCXMLDoc*>(XML_GetUserData(parser));
  try {
    return doc->ReadExternalEntity(parser, systemId);
  } catch (...) {
    doc->AbortParse();
    return XML_STATUS_ERROR;
  }
}

int WCXMLDoc::ReadExternalEntity(XML_ParserStruct* parser, const char* systemId) {
  const bool subset = systemId == nullptr || (mHasDoctypeSystemId && mDoctypeSystemId == systemId);
  const bool declarations = subset && !mEntityDtdRead;
  if (declarations) mEntityDtdRead = true;
  const std::string& dtd = HtmlEntityDtd();
  XML_Parser entityParser = XML_ExternalEntityParserCreate(parser, nullptr, "UTF-8");
  if (entityParser == nullptr) {
    TraceLogF(kLevelFailure, "WCXMLDoc::Parse [%s] XML_ExternalEntityParserCreate failed",
              mCurrentName.c_str());
    return XML_STATUS_ERROR;
  }
  const XML_Status status =
      declarations ? XML_Parse(entityParser, dtd.data(), static_cast<int>(dtd.size()), XML_TRUE)
                   : XML_Parse(entityParser, "", 0, XML_TRUE);
  XML_ParserFree(entityParser);
  return status;
}

void WCXMLDoc::ParseCBSkippedEntityHandler(void* user, const char* name, int isParameterEntity) {
  if (isParameterEntity != 0 || name == nullptr) return;
  WCXMLDoc* doc = static_cast<WCXMLDoc*>(user);
  try {
    doc->NoteUndefinedEntity(name);
  } catch (...) {
    doc->AbortParse();
  }
}

// Expat drops a reference it has no definition for; say so, once per name.
void WCXMLDoc::NoteUndefinedEntity(const char* name) {
  if (mUndefinedEntities.size() >= kMaxUndefinedEntitiesLogged) return;
  for (const std::string& seen : mUndefinedEntities) {
    if (seen == name) return;
  }
  mUndefinedEntities.emplace_back(name);
  TraceLogF(kLevelFailure, "WCXMLDoc::Parse [%s] has no definition of the entity &%s; (dropped)",
            mCurrentName.c_str(), name);
  if (mUndefinedEntities.size() == kMaxUndefinedEntitiesLogged) {
    TraceLogF(kLevelFailure, "WCXMLDoc::Parse [%s] further undefined entities are not logged",
              mCurrentName.c_str());
  }
}

}  // namespace owc
