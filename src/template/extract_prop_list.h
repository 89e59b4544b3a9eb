// SPDX-License-Identifier: MIT
// The properties a template needs from a document, as (namespace URI, path) pairs.
#ifndef OWCLIENT_TEMPLATE_EXTRACT_PROP_LIST_H
#define OWCLIENT_TEMPLATE_EXTRACT_PROP_LIST_H

#include <string>

#include "runtime/dl_list.h"

namespace owc {

struct WCHTMLTemplateExtractProp {
  std::string uri;  // may be empty: the path is a complete property path
  std::string path;
};

// Owns its elements, in the order they were added.
class WCHTMLTemplateExtractPropList : public DLList<WCHTMLTemplateExtractProp*> {
 public:
  WCHTMLTemplateExtractPropList() = default;
  ~WCHTMLTemplateExtractPropList() override;

  // Null arguments are stored as empty strings. False when memory ran out.
  bool AddElement(const char* uri, const char* path);
  // Both strings compared byte for byte.
  bool Find(const char* uri, const char* path) const;
  void Clear();
};

}  // namespace owc

#endif  // OWCLIENT_TEMPLATE_EXTRACT_PROP_LIST_H
