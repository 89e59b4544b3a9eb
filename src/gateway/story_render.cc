// SPDX-License-Identifier: MIT
// The delivery thread's story rendering: the template is loaded with the output mode,
// and every dequeued block of a story's XML or RDF file is joined into the story pair,
// which is rendered to HTML once both files are complete.
#include <cstdio>
#include <string>

#include "doc/xml_doc.h"
#include "gateway/delivery_queue.h"
#include "runtime/trace_log.h"

namespace owc {

bool HOBWQueueThread::SetOutputMode(uint32_t mode, const char* tmpl, uint32_t tmplLen,
                                    const char* xlate, uint32_t xlateLen) {
  mMode = mode;
  mHTMLTemplate.Reset();
  mXMLRDFPair.Reset();  // a story half received under another template is not finished
  if (mode != kModeHTML && mode != kModeRawAndHTML) return true;
  if (tmpl == nullptr || tmplLen == 0 || !mHTMLTemplate.SetTemplate(tmpl, tmplLen)) return false;
  return mHTMLTemplate.SetXlateTable(xlate, xlateLen);
}

void HOBWQueueThread::ProcessRXDataBlock(const HOBWBlockQElt& elt) {
  if (!mXMLRDFPair.AddBlock(elt)) {
    const char* base = mXMLRDFPair.GetBaseFName();
    TraceLogF(kLevelFailure,
              "HOBWQueueThread::ProcessRXDataBlock mXMLRDFPair.AddBlock failed for existing [%s] "
              "new [%s]",
              base != nullptr ? base : "", elt.mFName != nullptr ? elt.mFName : "");
    mXMLRDFPair.Reset();
    // The refused block starts the next pair: after a story that never completes (a lone
    // file, a server's repeat), each later story would otherwise lose its first block and
    // with it its HTML.
    if (!mXMLRDFPair.AddBlock(elt)) {
      mXMLRDFPair.Reset();
      return;
    }
  }
  if (!mXMLRDFPair.IsComplete()) return;
  RenderPair(elt.mSessionID);
  mXMLRDFPair.Reset();
}

// The story document lives for this one rendering; the HTML stays in the template's
// output until the record has been delivered.
bool HOBWQueueThread::RenderPair(uint32_t sessionID) {
  const std::string base = mXMLRDFPair.GetBaseFName();
  const std::string xmlName = base + ".xml";
  const std::string rdfName = base + ".rdf";
  WCXMLDoc doc;
  if (!doc.Init(false, reinterpret_cast<const char*>(mXMLRDFPair.GetXMLBuf()),
                mXMLRDFPair.GetXMLLen(), xmlName.c_str(), false,
                reinterpret_cast<const char*>(mXMLRDFPair.GetRDFBuf()), mXMLRDFPair.GetRDFLen(),
                rdfName.c_str())) {
    TraceLog(kLevelFailure, "HOBWQueueThread::ProcessRXDataBlock xmlDoc.Init failed");
    return false;
  }
  if (!mHTMLTemplate.Generate(&doc)) {
    TraceLog(kLevelFailure, "HOBWQueueThread::ProcessRXDataBlock mHTMLTemplate.Generate failed");
    return false;
  }
  FillHTMLRecord(base.c_str(), mHTMLTemplate.GetOutputData(),
                 static_cast<uint32_t>(mHTMLTemplate.GetOutputSize()), sessionID);
  return true;
}

}  // namespace owc
