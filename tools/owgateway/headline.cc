// SPDX-License-Identifier: MIT
#include "headline.h"

#include <algorithm>
#include <cstring>

namespace owgateway {

namespace {

constexpr size_t kMaxHeadline = 400;  // bytes kept for the index

// Tags dropped, white space folded, cut at kMaxHeadline without splitting an entity
// reference. No '<' or '>' survives, so nothing in it is markup.
std::string CleanText(const std::string& raw) {
  std::string out;
  bool inTag = false, space = false;
  for (char c : raw) {
    if (c == '<') inTag = true;
    if (inTag) {
      if (c == '>') inTag = false;
      continue;
    }
    if (c == '>') continue;
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      space = !out.empty();
      continue;
    }
    if (out.size() >= kMaxHeadline) break;
    if (space) out += ' ';
    space = false;
    out += c;
  }
  size_t amp = out.rfind('&');
  if (amp != std::string::npos && out.find(';', amp) == std::string::npos) out.resize(amp);
  return out;
}

std::string Between(const std::string& text, const char* open, const char* close) {
  size_t start = text.find(open);
  if (start == std::string::npos) return std::string();
  start += std::strlen(open);
  size_t end = text.find(close, start);
  if (end == std::string::npos) return std::string();
  return CleanText(text.substr(start, end - start));
}

}  // namespace

std::string HeadlineFromXml(const std::string& head) {
  std::string text = head.substr(0, kHeadlineReadLimit);
  // The element may carry attributes: <hl1 class="x">.
  size_t open = text.find("<hl1");
  while (open != std::string::npos && text.compare(open + 4, 1, ">") != 0 &&
         text.compare(open + 4, 1, " ") != 0) {
    open = text.find("<hl1", open + 4);
  }
  if (open == std::string::npos) return std::string();
  size_t gt = text.find('>', open);
  if (gt == std::string::npos) return std::string();
  size_t end = text.find("</hl1>", gt);
  if (end == std::string::npos) return std::string();
  return CleanText(text.substr(gt + 1, end - gt - 1));
}

std::string HeadlineFromHtml(const char* html, size_t length) {
  if (html == nullptr) return std::string();
  return Between(std::string(html, std::min(length, kHeadlineReadLimit)), "<title>", "</title>");
}

}  // namespace owgateway
