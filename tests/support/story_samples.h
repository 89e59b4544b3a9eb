// SPDX-License-Identifier: MIT
// Small NITF/RDF story pairs shared by the doc, template and conversion-interface tests.
#ifndef OWCLIENT_TESTS_SUPPORT_STORY_SAMPLES_H
#define OWCLIENT_TESTS_SUPPORT_STORY_SAMPLES_H

#include <string>

namespace owc_test {

constexpr char kMetaNs[] = "http://www.veltrane.com/namespaces/meta#";

// Interleaved hl1/hl2, two bylines, series attributes, nested body markup, escaped text.
constexpr char kStoryXml[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<nitf><head><title>Ignored</title></head><body>
 <body.head>
  <hedline><hl1>Rates &amp; Markets</hl1><hl2>First sub</hl2>
   <hl1>Second hl1</hl1><hl2>Second sub</hl2></hedline>
  <byline>By Ann</byline><byline>By Bob</byline><distributor>Wire Co</distributor>
  <dateline><location>Oslo</location><story.date>2024-05-01</story.date></dateline>
  <series series.name="Economy" series.part="2" series.totalpart="5"/>
 </body.head>
 <body.content><p class="lead">It's up &lt;5%</p><media id="m1"><caption>c</caption></media><p>Second</p></body.content>
</body></nitf>
)";

// Metadata in the default namespace: a headline and three keywords, then an empty one.
constexpr char kStoryRdf[] = R"(<?xml version="1.0"?>
<m:Resource xmlns:m="http://www.veltrane.com/namespaces/meta#">
  <m:headline>Meta headline</m:headline>
  <m:keyword>alpha</m:keyword><m:keyword>beta</m:keyword><m:keyword>gamma</m:keyword>
  <m:empty></m:empty>
</m:Resource>
)";

inline std::string MetaKey(const std::string& prop) {
  return std::string("\\") + kMetaNs + ":Resource(0)\\" + kMetaNs + ":" + prop;
}

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_STORY_SAMPLES_H
