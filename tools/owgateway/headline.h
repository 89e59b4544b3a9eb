// Reads a story's headline for the index: from its XML (and RDF) files through the
// conversion interface, or from the <title> of its HTML when only that is at hand.
//
// Thread: one thread at a time (a conversion environment is single-threaded).
#ifndef OWGATEWAY_HEADLINE_H_
#define OWGATEWAY_HEADLINE_H_

#include <string>

#include "owclient/owclient.h"

namespace owgateway {

class HeadlineReader {
 public:
  HeadlineReader();
  ~HeadlineReader();
  HeadlineReader(const HeadlineReader&) = delete;
  HeadlineReader& operator=(const HeadlineReader&) = delete;

  // The headline as HTML-safe text, or "" when the story does not parse. rdfPath may be "".
  // With `problem`, what is suspect about a story that parses (story_check.h), or "".
  std::string FromFiles(const std::string& xmlPath, const std::string& rdfPath,
                        std::string* problem = nullptr);
  // The text of the first <title> element, or "".
  static std::string FromHtml(const char* html, size_t length);

 private:
  OBConvertEnv mEnv = nullptr;
};

}  // namespace owgateway

#endif  // OWGATEWAY_HEADLINE_H_
