// SPDX-License-Identifier: MIT
#include "feed.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "story_generator.h"

namespace owwired {
namespace {

constexpr size_t kMaxNameLength = 200;

bool EndsWith(const std::string& text, const char* suffix) {
  size_t n = std::strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

bool IsStoryFile(const std::string& name) {
  return (EndsWith(name, ".xml") || EndsWith(name, ".rdf")) &&
         StemOf(name).size() + 4 == name.size();
}

int RankInStory(const std::string& name) {
  if (EndsWith(name, ".xml")) return 0;
  if (EndsWith(name, ".rdf")) return 1;
  return 2;
}

bool ReadWholeFile(const std::string& path, std::string* data) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  data->clear();
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) data->append(chunk, got);
  bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Names of the regular, visible files of `dir`; false when the folder cannot be listed.
bool ListFolder(const std::string& dir, std::vector<std::string>* names, std::string* error) {
  DIR* folder = ::opendir(dir.c_str());
  if (folder == nullptr) {
    *error = "cannot open spool folder " + dir + ": " + std::strerror(errno);
    return false;
  }
  while (const dirent* entry = ::readdir(folder)) {
    std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    if (IsRegularFile(dir + "/" + name)) names->push_back(name);
  }
  ::closedir(folder);
  return true;
}

void SortByStory(std::vector<std::string>* names) {
  std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
    return std::make_tuple(StemOf(a), RankInStory(a), a) <
           std::make_tuple(StemOf(b), RankInStory(b), b);
  });
}

}  // namespace

std::string StemOf(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name;
  return name.substr(0, dot);
}

bool Feed::IsValidName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  for (unsigned char c : name) {
    if (c <= 0x20 || c == 0x7F || c == '/') return false;
  }
  return true;
}

std::string Feed::ParentOf(const std::string& name) const {
  std::string story = StemOf(name) + ".xml";
  if (IsStoryFile(name)) return story;
  return mNames.count(story) != 0 ? story : std::string();
}

bool Feed::Add(const std::string& name, std::string data) {
  if (!IsValidName(name) || mNames.count(name) != 0) return false;
  mNames.insert(name);
  mFiles.push_back(FeedFile{name, ParentOf(name), std::move(data)});
  return true;
}

long Feed::LoadSpool(const std::string& dir, std::vector<std::string>* skipped,
                     std::string* error) {
  std::vector<std::string> names;
  if (!ListFolder(dir, &names, error)) return -1;
  SortByStory(&names);
  long added = 0;
  for (const std::string& name : names) {
    if (mNames.count(name) != 0) continue;
    std::string data;
    if (!IsValidName(name) || !ReadWholeFile(dir + "/" + name, &data)) {
      skipped->push_back(name);
      continue;
    }
    if (Add(name, std::move(data))) ++added;
  }
  return added;
}

void Feed::AddGenerated(uint32_t count, size_t storySize) {
  for (uint32_t i = 1; i <= count; ++i) {
    std::string base = GeneratedStoryBase(i);
    Add(base + ".xml", GenerateStoryXml(i, storySize));
    Add(base + ".rdf", GenerateStoryRdf(i));
  }
}

uint32_t Feed::BlockCount(const FeedFile& file, uint32_t blockSize) {
  if (file.data.empty()) return 1;
  return static_cast<uint32_t>((file.data.size() + blockSize - 1) / blockSize);
}

}  // namespace owwired
