// SPDX-License-Identifier: MIT
#include "template/extract_prop_list.h"

#include <cstring>
#include <memory>

#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"

namespace owc {

WCHTMLTemplateExtractPropList::~WCHTMLTemplateExtractPropList() { Clear(); }

bool WCHTMLTemplateExtractPropList::AddElement(const char* uri, const char* path) {
  uri = uri != nullptr ? uri : "";
  path = path != nullptr ? path : "";
  std::unique_ptr<WCHTMLTemplateExtractProp> prop;
  if (!TryAllocate(sizeof(WCHTMLTemplateExtractProp) + std::strlen(uri) + std::strlen(path),
                   [&] { prop.reset(new WCHTMLTemplateExtractProp{uri, path}); })) {
    TraceLog(kLevelFailure,
             "WCHTMLTemplateExtractPropList::AddElement new WCHTMLTemplateExtractProp failed");
    return false;
  }
  if (AddTail(prop.get()) == nullptr) {
    TraceLog(kLevelFailure, "WCHTMLTemplateExtractPropList::AddElement AddTail");
    return false;
  }
  prop.release();  // the list owns it now
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
