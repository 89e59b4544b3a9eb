// SPDX-License-Identifier: MIT
// The named character references of HTML 4 (Latin-1, symbol and special sets), which
// news feeds use in their text as if they were XML's own. A story document hands the
// declarations to expat as its external DTD subset when the HTML-entity reading option
// is on: nothing is ever fetched or read from disk.
#ifndef OWCLIENT_DOC_HTML_ENTITIES_H
#define OWCLIENT_DOC_HTML_ENTITIES_H

#include <cstdint>
#include <string>

namespace owc {

struct HtmlEntity {
  const char* name;
  uint32_t codePoint;
};

// The 252 references, in the order of their sets.
const HtmlEntity* HtmlEntitiesBegin();
const HtmlEntity* HtmlEntitiesEnd();

// "<!ENTITY eacute "&#233;">" and so on, one a line, UTF-8 (ASCII in fact). The four that
// XML predefines (amp, lt, gt, quot) are left out. Built once; thread-safe.
const std::string& HtmlEntityDtd();

}  // namespace owc

#endif  // OWCLIENT_DOC_HTML_ENTITIES_H
