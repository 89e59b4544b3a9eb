// SPDX-License-Identifier: MIT
// The property index: InsertProperty, CreateParsePath and MatchParsePath on fuzzed
// paths.
//
// Input: lines. A line that starts with "?" is a query (the rest of the line); every
// other line is inserted, in order, and is also asked as a query.
//
// Invariants: inserting the whole sequence again changes no answer and no insertion
// result; names match without regard to case; a path inserted alone into an empty
// index matches itself unless an inner segment is wild; an emptied index matches
// nothing.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "doc/search_level.h"
#include "fuzz_support.h"

namespace {

using owc::WCXMLParsePath;
using owc::WCXMLSearchLevel;

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

bool Matches(const WCXMLSearchLevel& index, const std::string& query) {
  std::unique_ptr<WCXMLParsePath> path(index.CreateParsePath(query.c_str()));
  return path != nullptr && index.MatchParsePath(*path);
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
  }
  return text;
}

// True when some segment other than the last has the wild index: such a path is stored
// but never followed.
bool HasWildInnerSegment(const WCXMLParsePath& path) {
  WCXMLParsePath::Position pos = path.GetHeadPosition();
  while (pos != nullptr) {
    const owc::XMLPropNode* step = path.GetNext(pos);
    if (pos != nullptr && step->GetIndex() == -1) return true;
  }
  return false;
}

void CheckAlone(const std::string& line) {
  WCXMLSearchLevel index;
  if (!index.InsertProperty(line.c_str())) return;
  std::unique_ptr<WCXMLParsePath> path(index.CreateParsePath(line.c_str()));
  FUZZ_CHECK(path != nullptr && !path->IsEmpty());
  if (!HasWildInnerSegment(*path)) FUZZ_CHECK(index.MatchParsePath(*path));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  owc_fuzz::InstallLogSink();
  std::vector<std::string> inserts;
  std::vector<std::string> queries;
  for (std::string& line : Lines(std::string_view(reinterpret_cast<const char*>(data), size))) {
    if (!line.empty() && line[0] == '?') {
      queries.push_back(line.substr(1));
    } else {
      queries.push_back(line);
      inserts.push_back(std::move(line));
    }
  }

  WCXMLSearchLevel index;
  FUZZ_CHECK(!index.InsertProperty(nullptr) && !index.InsertProperty(""));
  std::vector<bool> inserted;
  for (const std::string& path : inserts) inserted.push_back(index.InsertProperty(path.c_str()));
  std::vector<bool> answers;
  for (const std::string& query : queries) {
    answers.push_back(Matches(index, query));
    FUZZ_CHECK(Matches(index, UpperAscii(query)) == answers.back());
  }
  index.Dump();

  for (size_t i = 0; i < inserts.size(); ++i) {
    FUZZ_CHECK(index.InsertProperty(inserts[i].c_str()) == inserted[i]);
  }
  for (size_t i = 0; i < queries.size(); ++i) FUZZ_CHECK(Matches(index, queries[i]) == answers[i]);

  for (const std::string& path : inserts) CheckAlone(path);

  index.DeleteAll();
  for (const std::string& query : queries) FUZZ_CHECK(!Matches(index, query));
  return 0;
}
