// SPDX-License-Identifier: MIT
#include "template/template_text.h"

namespace owc {

bool IsTemplateBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsTemplateBlank(text[begin])) ++begin;
  while (end > begin && IsTemplateBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string StripQuotes(const std::string& text) {
  size_t begin = !text.empty() && text.front() == '"' ? 1 : 0;
  size_t end = text.size();
  if (end > begin && text[end - 1] == '"') --end;
  return text.substr(begin, end - begin);
}

bool ReadDecimal(const std::string& text, int64_t* value) {
  size_t i = 0;
  while (i < text.size() && IsTemplateBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  size_t digits = i;
  int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (v < INT64_MAX / 10) v = v * 10 + (text[i] - '0');
  }
  if (i == digits) return false;
  *value = negative ? -v : v;
  return true;
}

}  // namespace owc
