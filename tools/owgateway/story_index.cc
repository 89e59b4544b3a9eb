// SPDX-License-Identifier: MIT
#include "story_index.h"

#include <algorithm>
#include <cstdio>
#include <map>

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

bool SplitName(const std::string& name, std::string& base, StoryIndex::Part& part) {
  if (name.size() <= 4) return false;
  const std::string end = name.substr(name.size() - 4);
  if (end == ".xml") {
    part = StoryIndex::kXml;
  } else if (end == ".rdf") {
    part = StoryIndex::kRdf;
  } else if (end == ".htm") {
    part = StoryIndex::kHtml;
  } else {
    return false;
  }
  base = name.substr(0, name.size() - 4);
  return true;
}

}  // namespace

StoryIndex::Story* StoryIndex::Find(const std::string& base) {
  for (auto it = mStories.rbegin(); it != mStories.rend(); ++it) {
    if (it->base == base) return &*it;
  }
  return nullptr;
}

StoryIndex::Story& StoryIndex::Add(const std::string& base, std::time_t when) {
  if (mStories.size() >= mLimit) mStories.pop_front();
  mStories.push_back(Story{base, std::string(), when, {false, false, false}, false});
  return mStories.back();
}

void StoryIndex::Seed(const std::vector<std::pair<std::string, int64_t>>& files) {
  std::map<std::string, Story> found;
  for (const auto& file : files) {
    std::string base;
    Part part;
    if (!SplitName(file.first, base, part)) continue;
    Story& story = found[base];
    story.base = base;
    story.parts[part] = true;
    story.received = std::max<std::time_t>(story.received, file.second);
  }
  std::vector<Story> stories;
  for (auto& entry : found) stories.push_back(entry.second);
  std::stable_sort(stories.begin(), stories.end(),
                   [](const Story& a, const Story& b) { return a.received < b.received; });
  std::lock_guard<std::mutex> lock(mMutex);
  mFoundAtStart = stories.size();
  size_t from = stories.size() > mLimit ? stories.size() - mLimit : 0;
  mStories.assign(stories.begin() + static_cast<std::ptrdiff_t>(from), stories.end());
  mChanged = true;
}

void StoryIndex::Note(const std::string& base, Part part, const std::string& headline) {
  std::lock_guard<std::mutex> lock(mMutex);
  Story* story = Find(base);
  if (story == nullptr) {
    story = &Add(base, std::time(nullptr));
    ++mReceived;
  }
  story->parts[part] = true;
  if (!headline.empty()) story->headline = headline;
  mChanged = true;
}

std::vector<std::pair<std::string, std::string>> StoryIndex::HeadlinesWanted() {
  std::lock_guard<std::mutex> lock(mMutex);
  std::vector<std::pair<std::string, std::string>> wanted;
  for (Story& story : mStories) {
    if (!story.headline.empty() || story.headlineAsked) continue;
    if (story.parts[kXml]) {
      wanted.emplace_back(story.base, story.base + ".xml");
    } else if (story.parts[kHtml]) {
      wanted.emplace_back(story.base, story.base + ".htm");
    } else {
      continue;  // asked again once its XML file comes
    }
    story.headlineAsked = true;
  }
  return wanted;
}

void StoryIndex::SetHeadline(const std::string& base, const std::string& headline) {
  std::lock_guard<std::mutex> lock(mMutex);
  Story* story = Find(base);
  if (story == nullptr || headline.empty()) return;
  story->headline = headline;
  mChanged = true;
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
      std::to_string(mReceived) + " stories received since the start, " +
      std::to_string(mFoundAtStart) + " found in the folder at the start; the newest " +
      std::to_string(mStories.size()) + " listed.</p>\n<ul>\n";
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
