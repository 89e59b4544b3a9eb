// SPDX-License-Identifier: MIT
// An expat parser kept from one document to the next. Creating a parser allocates its
// tables and buffers, which costs about as much as parsing a short story; a reset keeps
// them.
//
// Thread: one thread at a time, like the documents it parses.
#ifndef OWCLIENT_DOC_PARSER_CACHE_H
#define OWCLIENT_DOC_PARSER_CACHE_H

struct XML_ParserStruct;

namespace owc {

class XMLParserCache {
 public:
  XMLParserCache() = default;
  XMLParserCache(const XMLParserCache&) = delete;
  XMLParserCache& operator=(const XMLParserCache&) = delete;
  ~XMLParserCache();

  // A parser in the state of a new one (namespace processing with ':' as separator,
  // UTF-8, no handlers), or null when memory ran out. Valid until the next Take or the
  // cache's destruction.
  XML_ParserStruct* Take();

 private:
  XML_ParserStruct* mParser = nullptr;
};

}  // namespace owc

#endif  // OWCLIENT_DOC_PARSER_CACHE_H
