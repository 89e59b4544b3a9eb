// SPDX-License-Identifier: MIT
#include "story_generator.h"

#include <cstdio>

namespace owwired {

const char kMetaNamespace[] = "http://www.veltrane.com/namespaces/meta#";

namespace {

const char* const kWords[] = {"market", "harbour", "council",  "river",   "season",  "report",
                              "vote",   "bridge",  "festival", "storm",   "league",  "museum",
                              "budget", "railway", "school",   "airport", "harvest", "summit"};
constexpr uint32_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);

const char* Word(uint32_t index, uint32_t n) { return kWords[(index * 7 + n * 3) % kWordCount]; }

std::string Headline(uint32_t index) {
  return std::string("Generated story ") + std::to_string(index) + ": the " + Word(index, 0) +
         " and the " + Word(index, 1);
}

std::string Paragraph(uint32_t index, uint32_t n) {
  std::string text =
      "<p>Paragraph " + std::to_string(n + 1) + " of story " + std::to_string(index) + ". The";
  for (uint32_t w = 0; w < 12; ++w) {
    text += ' ';
    text += Word(index, n + w);
  }
  text += " &amp; more.</p>\n";
  return text;
}

std::string Head(uint32_t index) {
  std::string seriesPart = std::to_string(index % 3 + 1);
  return "<body.head>\n<hedline><hl1>" + Headline(index) + "</hl1><hl2>About the " +
         Word(index, 2) + "</hl2></hedline>\n<byline>By the owwired desk</byline>\n" +
         "<distributor>owwired</distributor>\n<dateline><location>Springfield</location>" +
         "<story.date>2024-01-01</story.date></dateline>\n<series series.name=\"Generated\" " +
         "series.part=\"" + seriesPart + "\" series.totalpart=\"3\"/>\n</body.head>\n";
}

}  // namespace

std::string GeneratedStoryBase(uint32_t index) {
  char name[32];
  std::snprintf(name, sizeof(name), "story%05u", index);
  return name;
}

std::string GenerateStoryXml(uint32_t index, size_t approxSize) {
  static const char kTail[] = "</body.content>\n</body>\n</nitf>\n";
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<nitf>\n<head><title>" +
                    Headline(index) + "</title></head>\n<body>\n" + Head(index) +
                    "<body.content>\n";
  uint32_t n = 0;
  do {
    xml += Paragraph(index, n++);
  } while (xml.size() + sizeof(kTail) - 1 < approxSize);
  xml += kTail;
  return xml;
}

std::string GenerateStoryRdf(uint32_t index) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<m:Resource xmlns:m=\"") +
         kMetaNamespace + "\">\n<m:headline>" + Headline(index) + "</m:headline>\n<m:keyword>" +
         Word(index, 0) + "</m:keyword>\n<m:keyword>" + Word(index, 1) +
         "</m:keyword>\n<m:category>generated</m:category>\n</m:Resource>\n";
}

}  // namespace owwired
