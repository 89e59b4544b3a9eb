// SPDX-License-Identifier: MIT
#include "doc/parser_cache.h"

#include <expat.h>

namespace owc {

XMLParserCache::~XMLParserCache() {
  if (mParser != nullptr) XML_ParserFree(mParser);
}

// A reset clears the handlers, the options, the DTD, the error and the hash salt (a new
// one is drawn for the next document), and keeps the namespace separator.
XML_ParserStruct* XMLParserCache::Take() {
  if (mParser != nullptr && XML_ParserReset(mParser, "UTF-8") == XML_TRUE) return mParser;
  if (mParser != nullptr) XML_ParserFree(mParser);
  mParser = XML_ParserCreateNS("UTF-8", ':');
  return mParser;
}

}  // namespace owc
