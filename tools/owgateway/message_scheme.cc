// SPDX-License-Identifier: MIT
#include "message_scheme.h"

#include <time.h>

#include <cstdio>

namespace owgateway {

namespace {

constexpr size_t kMaxTokenBytes = 128;
constexpr size_t kMaxHeadlineBytes = 512;
constexpr size_t kMaxNameInIdBytes = 200;

bool EndsWith(const std::string& s, const char* suffix) {
  const std::string tail(suffix);
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Hex64(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

uint64_t HashOf(const std::string& s) {
  return Fnv1a64(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

std::string PercentEscape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7f || c == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Cuts at most `max` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& s, size_t max) {
  if (s.size() <= max) return s;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

// A header value is one line: control bytes (CR and LF above all) become blanks.
std::string HeaderText(const std::string& s, size_t max) {
  std::string out = CutUtf8(s, max);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return out;
}

const char* ContentType(const CompletedFile& file) {
  if (file.kind == CompletedFile::Kind::kHtml) return "text/html";
  if (EndsWith(file.fileName, ".xml")) return "application/xml";
  if (EndsWith(file.fileName, ".rdf")) return "application/rdf+xml";
  if (EndsWith(file.fileName, ".txt")) return "text/plain";
  return "application/octet-stream";
}

}  // namespace

const char* KindName(CompletedFile::Kind kind) {
  return kind == CompletedFile::Kind::kHtml ? "html" : "raw";
}

std::string StoryNameOf(const std::string& fileName) {
  if (fileName.size() > 4 &&
      (EndsWith(fileName, ".xml") || EndsWith(fileName, ".rdf") || EndsWith(fileName, ".htm"))) {
    return fileName.substr(0, fileName.size() - 4);
  }
  return "";
}

uint64_t Fnv1a64(const uint8_t* data, size_t length) {
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = 0; i < length; ++i) {
    hash ^= data[i];
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string SubjectToken(const std::string& name) {
  std::string token;
  for (unsigned char c : name) {
    bool plain = c > 0x20 && c < 0x7f && c != '.' && c != '*' && c != '>';
    token += plain ? static_cast<char>(c) : '_';
  }
  if (token.empty()) return "_";
  if (token.size() > kMaxTokenBytes) {
    token = token.substr(0, kMaxTokenBytes - 17) + "~" + Hex64(HashOf(name));
  }
  return token;
}

std::string SubjectFor(const std::string& prefix, const CompletedFile& file) {
  return prefix + "." + KindName(file.kind) + "." + SubjectToken(file.fileName);
}

std::string DefaultSubjectPrefix(const std::string& feed) { return "wire." + SubjectToken(feed); }

bool SubjectMatches(const std::string& pattern, const std::string& subject) {
  size_t p = 0, s = 0;
  while (p < pattern.size() && s < subject.size()) {
    size_t pEnd = pattern.find('.', p);
    size_t sEnd = subject.find('.', s);
    if (pEnd == std::string::npos) pEnd = pattern.size();
    if (sEnd == std::string::npos) sEnd = subject.size();
    std::string pToken = pattern.substr(p, pEnd - p);
    if (pToken == ">") return true;
    if (pToken != "*" && pToken != subject.substr(s, sEnd - s)) return false;
    p = pEnd + 1;
    s = sEnd + 1;
  }
  return p >= pattern.size() + 1 && s >= subject.size() + 1;
}

std::string MessageId(const CompletedFile& file) {
  std::string name = PercentEscape(file.fileName);
  if (name.size() > kMaxNameInIdBytes) {
    name = CutUtf8(name, 64) + "~" + Hex64(HashOf(file.fileName));
  }
  return std::string(KindName(file.kind)) + ":" + name + ":" + std::to_string(file.length) + ":" +
         Hex64(Fnv1a64(file.data, file.length));
}

Headers FileHeaders(const CompletedFile& file, const std::string& id) {
  Headers headers{
      {"Nats-Msg-Id", id},
      {"Content-Type", ContentType(file)},
      {"Ow-Kind", KindName(file.kind)},
      {"Ow-File-Name", PercentEscape(file.fileName)},
  };
  if (!file.storyName.empty()) headers.emplace_back("Ow-Story", PercentEscape(file.storyName));
  if (!file.headline.empty()) {
    headers.emplace_back("Ow-Headline", HeaderText(file.headline, kMaxHeadlineBytes));
  }
  headers.emplace_back("Ow-Received", Rfc3339Utc(file.receivedUnixMs));
  headers.emplace_back("Ow-Size", std::to_string(file.length));
  headers.emplace_back("Ow-Content-Hash", "fnv1a64:" + Hex64(Fnv1a64(file.data, file.length)));
  return headers;
}

Headers ChunkHeaders(const std::string& id, size_t index, size_t count, size_t offset) {
  Headers headers{
      {"Nats-Msg-Id", id + "#" + std::to_string(index) + "/" + std::to_string(count)},
      {"Ow-File-Id", id},
      {"Ow-Chunk", std::to_string(index)},
      {"Ow-Chunks", std::to_string(count)},
      {"Ow-Offset", std::to_string(offset)},
  };
  if (index + 1 == count) headers.emplace_back("Ow-Final", "1");
  return headers;
}

size_t EncodedHeaderBytes(const Headers& headers) {
  size_t bytes = 10 + 2;  // "NATS/1.0\r\n" and the closing "\r\n"
  for (const auto& header : headers) bytes += header.first.size() + 2 + header.second.size() + 2;
  return bytes;
}

size_t MaxChunkHeaderBytes(const std::string& id, size_t length) {
  // Numbers as long as they can get for this file: every chunk holds at least one byte.
  const size_t most = length == 0 ? 1 : length;
  return EncodedHeaderBytes(ChunkHeaders(id, most - 1, most, most)) - EncodedHeaderBytes({});
}

bool PlanChunks(size_t length, int64_t maxPayload, size_t fileHeaderBytes, size_t chunkHeaderBytes,
                ChunkPlan& plan, std::string& error) {
  if (maxPayload <= 0) {
    error = "the server announced no maximum payload";
    return false;
  }
  const size_t max = static_cast<size_t>(maxPayload);
  if (fileHeaderBytes + length <= max) {
    plan.chunkBytes = length;
    plan.count = 1;
    return true;
  }
  // A chunk repeats the file's headers (a consumer reading one chunk sees the whole story's
  // description) and adds its own; half the payload at least must stay for data, or the
  // chunks would be mostly headers.
  const size_t overhead = fileHeaderBytes + chunkHeaderBytes;
  if (overhead > max / 2) {
    error = "the server's maximum payload (" + std::to_string(max) +
            " bytes) leaves no room beside the headers (" + std::to_string(overhead) + " bytes)";
    return false;
  }
  plan.chunkBytes = max - overhead;
  plan.count = (length + plan.chunkBytes - 1) / plan.chunkBytes;
  return true;
}

std::string EscapeName(const std::string& name) { return PercentEscape(name); }

std::string Rfc3339Utc(int64_t unixMs) {
  time_t seconds = static_cast<time_t>(unixMs / 1000);
  struct tm utc;
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(unixMs % 1000));
  return text;
}

}  // namespace owgateway
