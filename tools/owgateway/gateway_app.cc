// SPDX-License-Identifier: MIT
#include "gateway_app.h"

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "cli.h"
#include "escape.h"
#include "headline.h"
#include "story_check.h"

namespace owgateway {

namespace {

bool EndsWith(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

constexpr size_t kMaxUnpaired = 4096;  // stories waiting for their second file

std::string BaseOf(const std::string& name) { return name.substr(0, name.size() - 4); }

// A name fit for a terminal: control characters shown as \xNN, at most 80 bytes.
std::string Printable(const std::string& name) {
  const std::string out = owtool::EscapeControls(name.substr(0, 80));
  return name.size() > 80 ? out + "..." : out;
}

}  // namespace

uint64_t MonotonicSeconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec);
}

GatewayApp::GatewayApp(const Options& options, OutputFolder& folder, StoryIndex& index,
                       SessionKeeper& session)
    : mOptions(options), mFolder(folder), mIndex(index), mSession(session) {}

void GatewayApp::Callback(HOBWBlockQElt* rec, uintptr_t user) {
  if (rec == nullptr) return;
  reinterpret_cast<GatewayApp*>(user)->OnRecord(*rec);
}

// The delivery thread renders a story just before it delivers the block that completed
// it, and logs on that thread when rendering fails: the failure is told with the story's
// name when that block arrives.
void GatewayApp::OnLibraryFailure(const char* text) {
  if (mOptions.mode != 1 && mOptions.mode != 2) return;
  if (std::strncmp(text, "HOBWQueueThread::ProcessRXDataBlock mHTMLTemplate.Generate failed",
                   65) != 0 &&
      std::strncmp(text, "HOBWQueueThread::ProcessRXDataBlock xmlDoc.Init failed", 54) != 0) {
    return;
  }
  mRenderFailed = true;
}

uint32_t GatewayApp::LibraryMode() const { return mOptions.mode == 1 ? 2 : mOptions.mode; }

// Called before the callback that completed the story returns, so before that block is
// acknowledged: with the count reached, the gateway asks for no further file.
void GatewayApp::CountStory() {
  if (++mStories == mOptions.count) HOBWHoldRequests(1);
}

void GatewayApp::Warn(const std::string& text) {
  ++mFailures;
  owtool::PrintError("owgateway", text);
}

// The HTML of a story comes right after the raw block that completed one of its files,
// named after the story's base name.
bool GatewayApp::IsHtmlRecord(const HOBWBlockQElt& rec) const {
  if (mOptions.mode == 0 || mCompletedBase.empty()) return false;
  if (rec.mFName == nullptr || rec.mParentFName == nullptr || rec.mFirstBlock != 1 ||
      rec.mLastBlock != 1 || rec.mBlockNum != 0) {
    return false;
  }
  return mCompletedBase + ".htm" == rec.mFName && mCompletedBase + ".xml" == rec.mParentFName;
}

void GatewayApp::OnRecord(const HOBWBlockQElt& rec) {
  mLastSession = rec.mSessionID;
  std::string error;
  if (!mSession.Save(rec.mSessionID, error)) DiskFailed(error);
  if (IsHtmlRecord(rec)) {
    OnHtml(rec);
    mCompletedBase.clear();
  } else {
    mCompletedBase.clear();
    OnBlock(rec);
  }
}

void GatewayApp::OnBlock(const HOBWBlockQElt& rec) {
  std::string name = rec.mFName != nullptr ? rec.mFName : "";
  bool last = rec.mLastBlock == 1;
  const char* unsafe = UnsafeNameReason(name);
  if (unsafe != nullptr) {
    if (rec.mBlockNum == 0 || mRefusedFile != name) {
      Warn("refused file name from the server (" + std::string(unsafe) + "): \"" + Printable(name) +
           "\"");
      mRefusedFile = name;
    }
    if (last) FileCompleted(name, true);
    return;
  }
  if (mPublishing != nullptr) mPublishing->BlockArrives(name, rec.mBlockNum);
  if (mOptions.mode == 1) {  // pages only: the block tells that its file is whole
    if (last) FileCompleted(name, false);
    return;
  }
  std::string error;
  switch (mFolder.AddBlock(name, rec.mSessionID, rec.mBlockNum, rec.mData, rec.mDataLen, last,
                           error)) {
    case OutputFolder::Block::kCompleted:
      Publish(name);
      FileCompleted(name, false);
      break;
    case OutputFolder::Block::kLost:
    case OutputFolder::Block::kRefused:
      if (!error.empty()) Warn(error);
      break;
    case OutputFolder::Block::kFailed:
      DiskFailed(error);
      break;
    case OutputFolder::Block::kRepeat:
      // The last block of a file in place, sent again after a restart: the story's page
      // may not have been written before.
      // The log drops the file when the killed run published it already.
      if (last && mFolder.HasFile(name)) Publish(name);
      if (last) RenderSplitStory(name);
      break;
    case OutputFolder::Block::kWritten:
      break;
  }
}

void GatewayApp::Publish(const std::string& name) {
  if (mPublishing == nullptr) return;
  const bool storyFile = EndsWith(name, ".xml") || EndsWith(name, ".rdf");
  mPublishing->RawFile(name, mOptions.mode == 2 && storyFile);
}

// Returning would let the gateway acknowledge a record that is not on disk, and every
// record after it: the delivery thread waits here until the main thread ends the process.
void GatewayApp::DiskFailed(const std::string& error) {
  Warn(error);
  mDiskFailed = true;
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

// A refused name still counts: the story was received, only not written. In mode 1 no
// file is written and none counted: the story's page is.
void GatewayApp::FileCompleted(const std::string& name, bool refused) {
  if (mOptions.mode != 1) ++mFiles;
  mLastFileSecond = MonotonicSeconds();
  bool xml = EndsWith(name, ".xml");
  bool rdf = EndsWith(name, ".rdf");
  if (!(xml || rdf)) return;
  std::string base = BaseOf(name);
  // A story counts once both its files are complete (in modes 1 and 2 its HTML follows
  // within the same delivery).
  if (mStoryParts.size() >= kMaxUnpaired) mStoryParts.clear();  // lone files of a hostile feed
  int& parts = mStoryParts[base];
  parts |= xml ? 1 : 2;
  const bool paired = parts == 3;
  if (paired) {
    mStoryParts.erase(base);
    CountStory();
    if (mRenderFailed.exchange(false)) {
      Warn("story " + Printable(base) + " was received but not rendered (-v shows the "
           "library's reason)");
    }
  }
  // Set for a refused name too, so that the story's HTML record is known as its page (and
  // refused as such) rather than taken for one more file.
  mCompletedBase = base;
  if (refused || mOptions.mode == 1) return;
  // The headline is read later, off the delivery path (the main thread reads it for the
  // index), so that a big story does not hold up the acknowledgements behind it.
  mIndex.Note(base, xml ? StoryIndex::kXml : StoryIndex::kRdf, std::string());
  if (xml) CheckNamespace(name, base);
  if (!paired) RenderSplitStory(name);
}

void GatewayApp::CheckNamespace(const std::string& name, const std::string& base) {
  const std::string head = mFolder.ReadHead(name, owtools::kRootSearchBytes);
  const std::string problem = owtools::NamespaceProblem(head, OBConvertGetReadOptions());
  if (!problem.empty()) Warn("story " + Printable(base) + ": " + problem);
}

// Mode 2: a story whose other file came before a restart is never paired by the gateway,
// which renders only what one run received. Its page is rendered here from the folder,
// before the callback returns and the block is acknowledged.
void GatewayApp::RenderSplitStory(const std::string& name) {
  if (mOptions.mode != 2 || !(EndsWith(name, ".xml") || EndsWith(name, ".rdf"))) return;
  const std::string base = BaseOf(name);
  if (mFolder.HasFile(base + ".htm") || !mFolder.HasFile(base + ".xml") ||
      !mFolder.HasFile(base + ".rdf")) {
    return;
  }
  const std::string html =
      mPages.Render(mFolder.FullPath(base + ".xml"), mFolder.FullPath(base + ".rdf"));
  if (html.empty()) return;
  std::string error;
  if (!mFolder.WriteFile(base + ".htm", html.data(), html.size(), true, error)) DiskFailed(error);
  if (mPublishing != nullptr) {
    mPublishing->Page(base + ".htm", reinterpret_cast<const uint8_t*>(html.data()), html.size(),
                      true);
  }
  mIndex.Note(base, StoryIndex::kHtml, std::string());
}

void GatewayApp::OnHtml(const HOBWBlockQElt& rec) {
  std::string name = rec.mFName != nullptr ? rec.mFName : "";
  const char* unsafe = UnsafeNameReason(name);
  if (unsafe != nullptr) {
    Warn("refused HTML name (" + std::string(unsafe) + "): \"" + Printable(name) + "\"");
    return;
  }
  // The HTML record counts its terminating NUL; the file does not need it.
  size_t length = rec.mDataLen;
  if (length > 0 && rec.mData != nullptr && rec.mData[length - 1] == '\0') --length;
  std::string error;
  if (!mFolder.WriteFile(name, rec.mData, length, true, error)) DiskFailed(error);
  if (mPublishing != nullptr) mPublishing->Page(name, rec.mData, length, mOptions.mode == 2);
  const char* html = reinterpret_cast<const char*>(rec.mData);
  std::string headline = mOptions.mode == 1 ? HeadlineFromHtml(html, length) : "";
  mIndex.Note(BaseOf(name), StoryIndex::kHtml, headline);
}

}  // namespace owgateway
