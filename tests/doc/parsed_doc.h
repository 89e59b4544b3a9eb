// SPDX-License-Identifier: MIT
// A story document parsed for a list of property paths, shared by the doc tests.
#ifndef OWCLIENT_TESTS_DOC_PARSED_DOC_H
#define OWCLIENT_TESTS_DOC_PARSED_DOC_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "doc/search_level.h"
#include "doc/xml_doc.h"

namespace owc_test {

inline const std::string kHead = "\\nitf(0)\\body(0)\\body.head(0)";
inline const std::string kContent = "\\nitf(0)\\body(0)\\body.content(0)";

// xml and rdf are texts, or file names when fromFiles.
struct ParsedDoc {
  ParsedDoc(std::initializer_list<std::string> props, const std::string& xml,
            const std::string& rdf = "", bool fromFiles = false) {
    for (const std::string& prop : props) index.InsertProperty(prop.c_str());
    doc.Init(fromFiles, xml.c_str(), static_cast<uint32_t>(xml.size()), nullptr, fromFiles,
             rdf.empty() ? nullptr : rdf.c_str(), static_cast<uint32_t>(rdf.size()), nullptr);
    parsed = doc.Parse(index);
  }
  std::string Get(const std::string& prop, const char* ns = nullptr) {
    std::string out = "stale";  // a missing property must still clear it
    EXPECT_TRUE(doc.GetProperty(ns, prop.c_str(), true, &out, false));
    return out;
  }

  owc::WCXMLSearchLevel index;
  owc::WCXMLDoc doc;
  bool parsed = false;
};

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_DOC_PARSED_DOC_H
