// SPDX-License-Identifier: MIT
// The newest stories in the folder and the index.html that lists them, newest first. The
// list is bounded (the page and the memory stay the same size however long owgateway
// runs) and starts from what the folder holds, so that it survives a restart.
//
// Thread-safe: the gateway's delivery thread notes stories, the main thread reads their
// headlines and renders.
#ifndef OWGATEWAY_STORY_INDEX_H
#define OWGATEWAY_STORY_INDEX_H

#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace owgateway {

class StoryIndex {
 public:
  enum Part { kXml, kRdf, kHtml };
  static constexpr size_t kDefaultLimit = 500;

  StoryIndex(std::string serverText, size_t limit = kDefaultLimit)
      : mServer(std::move(serverText)), mLimit(limit == 0 ? 1 : limit) {}

  // The files found in the folder at the start (name, modification time): the newest
  // stories among them are listed.
  void Seed(const std::vector<std::pair<std::string, int64_t>>& files);
  // Records that a part of the story named base was written. A headline, when given
  // (already safe HTML text), replaces the one known.
  void Note(const std::string& base, Part part, const std::string& headline);
  // The listed stories whose headline is still to be read, each with the file to read it
  // from; each is handed out once.
  std::vector<std::pair<std::string, std::string>> HeadlinesWanted();
  void SetHeadline(const std::string& base, const std::string& headline);
  // Renders the page when something changed since the last call; false otherwise.
  bool RenderIfChanged(std::string& html);

 private:
  struct Story {
    std::string base;
    std::string headline;
    std::time_t received = 0;
    bool parts[3] = {false, false, false};
    bool headlineAsked = false;
  };
  Story* Find(const std::string& base);
  Story& Add(const std::string& base, std::time_t when);
  std::string Render() const;

  std::mutex mMutex;
  std::string mServer;
  size_t mLimit;
  std::deque<Story> mStories;  // oldest first, at most mLimit
  uint64_t mFoundAtStart = 0;  // stories in the folder at the start
  uint64_t mReceived = 0;      // stories noted since the start
  bool mChanged = true;
};

// Escapes text for HTML.
std::string HtmlEscape(const std::string& text);

}  // namespace owgateway

#endif  // OWGATEWAY_STORY_INDEX_H
