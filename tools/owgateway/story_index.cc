#include "story_index.h"

#include <cstdio>

namespace owgateway {

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

// Link targets are file names that passed the folder's checks; they still get escaped
// for the attribute.
std::string Link(const std::string& file, const char* label) {
  return "<a href=\"" + HtmlEscape(file) + "\">" + label + "</a>";
}

}  // namespace

void StoryIndex::Note(const std::string& base, Part part, const std::string& headline) {
  std::lock_guard<std::mutex> lock(mMutex);
  auto it = mByBase.find(base);
  if (it == mByBase.end()) {
    it = mByBase.emplace(base, mStories.size()).first;
    mStories.push_back(Story{base, std::string(), std::time(nullptr), {false, false, false}});
  }
  Story& story = mStories[it->second];
  story.parts[part] = true;
  if (!headline.empty()) story.headline = headline;
  mChanged = true;
}

size_t StoryIndex::Count() {
  std::lock_guard<std::mutex> lock(mMutex);
  return mStories.size();
}

bool StoryIndex::RenderIfChanged(std::string& html) {
  std::lock_guard<std::mutex> lock(mMutex);
  if (!mChanged) return false;
  mChanged = false;
  html = Render();
  return true;
}

std::string StoryIndex::Render() const {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>Stories from " + HtmlEscape(mServer) + "</title>\n"
      "<style>body{font-family:Georgia,serif;max-width:56em;margin:2em auto;padding:0 1em;"
      "color:#222}h1{font-size:1.6em;border-bottom:2px solid #222}li{margin:.6em 0;"
      "list-style:none}.when{color:#777;font-size:.85em;margin-right:.8em}"
      ".links a{font-size:.8em;margin-left:.6em;color:#555}</style>\n</head>\n<body>\n"
      "<h1>Stories from " + HtmlEscape(mServer) + "</h1>\n<p>" +
      std::to_string(mStories.size()) + " stories received.</p>\n<ul>\n";
  for (auto it = mStories.rbegin(); it != mStories.rend(); ++it) {
    char when[32];
    struct tm tm;
    localtime_r(&it->received, &tm);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
    std::string title = it->headline.empty() ? HtmlEscape(it->base) : it->headline;
    html += "<li><span class=\"when\">" + std::string(when) + "</span>";
    html += it->parts[kHtml] ? Link(it->base + ".htm", title.c_str()) : title;
    html += "<span class=\"links\">";
    if (it->parts[kXml]) html += Link(it->base + ".xml", "xml");
    if (it->parts[kRdf]) html += Link(it->base + ".rdf", "rdf");
    html += "</span></li>\n";
  }
  html += "</ul>\n</body>\n</html>\n";
  return html;
}

}  // namespace owgateway
