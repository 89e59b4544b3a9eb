// The stories received so far and the index.html that lists them, newest first.
//
// Thread-safe: the gateway's delivery thread notes stories, the main thread renders.
#ifndef OWGATEWAY_STORY_INDEX_H_
#define OWGATEWAY_STORY_INDEX_H_

#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace owgateway {

class StoryIndex {
 public:
  enum Part { kXml, kRdf, kHtml };

  explicit StoryIndex(std::string serverText) : mServer(std::move(serverText)) {}

  // Records that a part of the story named base was written. A headline, when given
  // (already safe HTML text), replaces the one known.
  void Note(const std::string& base, Part part, const std::string& headline);
  // Renders the page when something changed since the last call; false otherwise.
  bool RenderIfChanged(std::string& html);
  size_t Count();

 private:
  struct Story {
    std::string base;
    std::string headline;
    std::time_t received;
    bool parts[3];
  };
  std::string Render() const;

  std::mutex mMutex;
  std::string mServer;
  std::vector<Story> mStories;
  std::map<std::string, size_t> mByBase;
  bool mChanged = true;
};

// Escapes text for HTML.
std::string HtmlEscape(const std::string& text);

}  // namespace owgateway

#endif  // OWGATEWAY_STORY_INDEX_H_
