// SPDX-License-Identifier: MIT
#include "template/html_template.h"

#include <cstring>

#include "doc/story_paths.h"
#include "doc/xml_doc.h"
#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"

namespace owc {

WCHTMLTemplate::~WCHTMLTemplate() { Reset(); }

void WCHTMLTemplate::Reset() {
  mText.clear();
  mTextEnd = 0;
  mCommands.clear();
  mLastRead = nullptr;
  mHasTemplate = false;
  mOutput.clear();
  mDoc = nullptr;
  mVersion = 2;
  mNamespaces.clear();
  mBindingStack.Clear();
  mExtractPropList.Clear();
  mSearchLevel.DeleteAll();
  mTagXlateMap.Clear();
}

bool WCHTMLTemplate::SetTemplate(const char* text, uint32_t len) {
  mText.clear();
  mTextEnd = 0;
  mCommands.clear();
  mLastRead = nullptr;
  mHasTemplate = false;
  if (text == nullptr || len == 0) return true;
  if (!TryAllocate(static_cast<size_t>(len) + 1, [&] { mText.assign(text, len); })) return false;
  mHasTemplate = true;
  mTextEnd = strnlen(mText.c_str(), len);
  return ParsePreprocess();
}

bool WCHTMLTemplate::SetXlateTable(const char* buffer, uint32_t len) {
  return mTagXlateMap.Load(buffer, len);
}

bool WCHTMLTemplate::AddExtractProp(const char* uri, const char* path) {
  if (uri == nullptr || path == nullptr || *path == '\0') return false;
  std::string full(path);
  if (full.back() != ')') full += "(-1)";
  if (mExtractPropList.Find(uri, full.c_str())) return true;
  if (!mExtractPropList.AddElement(uri, full.c_str())) {
    TraceLog(kLevelFailure, "WCHTMLTemplate::AddExtractProp mExtractPropList.AddElement failed");
    return false;
  }
  if (*uri != '\0') full = NamespacedKey(uri, full.c_str());
  // A path the index rejects has been logged by it; the pair stays listed.
  mSearchLevel.InsertProperty(full.c_str());
  return true;
}

bool WCHTMLTemplate::Generate(WCXMLDoc* doc) {
  mOutput.clear();
  mBindingStack.Clear();
  mTagXlateMap.ResetDepths();
  mAbort = false;
  mCommandsRun = 0;
  if (doc == nullptr) return false;
  SetBudget(doc->StoryBytes());
  // Running out of memory ends the run by exception: the document and the loop frames are
  // let go on every way out.
  struct RunEnd {
    WCHTMLTemplate* tmpl;
    ~RunEnd() {
      tmpl->mDoc = nullptr;
      tmpl->mBindingStack.Clear();
    }
  } runEnd{this};
  mDoc = doc;
  if (!doc->Parse(mSearchLevel, &mParsers)) return false;
  bool interpreted = true;
  if (mHasTemplate) {
    size_t pos = 0;
    uint32_t line = 1;
    interpreted = ParseTemplate(Level::kTop, true, &pos, &line, 0);
  }
  if (!mOutput.empty()) mOutput.push_back('\0');
  return interpreted;
}

int32_t WCHTMLTemplate::GetOutputSize() const {
  return mOutput.size() > static_cast<size_t>(INT32_MAX) ? INT32_MAX
                                                         : static_cast<int32_t>(mOutput.size());
}

const uint8_t* WCHTMLTemplate::GetOutputData() const {
  return mOutput.empty() ? nullptr : reinterpret_cast<const uint8_t*>(mOutput.data());
}

}  // namespace owc
