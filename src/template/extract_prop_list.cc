// SPDX-License-Identifier: MIT
#include "template/extract_prop_list.h"

#include <new>

#include "runtime/trace_log.h"

namespace owc {

WCHTMLTemplateExtractPropList::~WCHTMLTemplateExtractPropList() { Clear(); }

bool WCHTMLTemplateExtractPropList::AddElement(const char* uri, const char* path) {
  WCHTMLTemplateExtractProp* prop = new (std::nothrow) WCHTMLTemplateExtractProp;
  if (prop == nullptr) {
    TraceLog(kLevelFailure,
             "WCHTMLTemplateExtractPropList::AddElement new WCHTMLTemplateExtractProp failed");
    return false;
  }
  try {
    prop->uri = uri != nullptr ? uri : "";
    prop->path = path != nullptr ? path : "";
  } catch (const std::bad_alloc&) {
    delete prop;
    TraceLog(kLevelFailure,
             "WCHTMLTemplateExtractPropList::AddElement new WCHTMLTemplateExtractProp failed");
    return false;
  }
  if (AddTail(prop) == nullptr) {
    delete prop;
    TraceLog(kLevelFailure, "WCHTMLTemplateExtractPropList::AddElement AddTail");
    return false;
  }
  return true;
}

bool WCHTMLTemplateExtractPropList::Find(const char* uri, const char* path) const {
  const char* u = uri != nullptr ? uri : "";
  const char* p = path != nullptr ? path : "";
  Position pos = GetHeadPosition();
  while (pos != nullptr) {
    const WCHTMLTemplateExtractProp* prop = GetNext(pos);
    if (prop->uri == u && prop->path == p) return true;
  }
  return false;
}

void WCHTMLTemplateExtractPropList::Clear() {
  Position pos = GetHeadPosition();
  while (pos != nullptr) delete GetNext(pos);
  RemoveAll();
}

}  // namespace owc
