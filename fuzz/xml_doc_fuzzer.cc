// SPDX-License-Identifier: MIT
// The story document: Init from memory, Parse with a property index, and every getter,
// against a model that captures by the plain definition. The model gets the same expat
// events and decides each capture with MatchParsePath over the element's whole path,
// where the document matches step by step and skips subtrees that cannot match.
//
// The reading options are modelled with expat's own means where it has them: a document
// read in its declared encoding is parsed by the model as ISO-8859-1, or windows-1252
// through an unknown-encoding handler, where the document transcodes it itself.
//
// Input: one flag byte (bits 0-1: entity-reference mode 0, 1, 2 or 7; bit 2: "/" as
// the level separator instead of "\"; bits 3-5: the reading options), then three
// sections separated by NUL bytes: the
// parse properties (one path per line, "\" written for the separator; a line "*" stands
// for the standard story fields and the usual metadata), the XML document, the RDF
// document.
#include <expat.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "doc/declared_encoding.h"
#include "doc/doc_settings.h"
#include "doc/html_entities.h"
#include "doc/search_level.h"
#include "doc/story_paths.h"
#include "doc/xml_doc.h"
#include "entity_model.h"
#include "fuzz_support.h"

namespace {

using owc::WCXMLDoc;
using owc::WCXMLSearchLevel;

struct Captured {
  std::string tag;
  std::vector<std::pair<std::string, std::string>> attrs;
  std::string content;
};

// The capture rules written out plainly: every element gets its full path, and the
// index is asked about the whole path.
class Model {
 public:
  Model(const WCXMLSearchLevel& index, char separator, uint32_t mode, uint32_t options)
      : mIndex(index), mSeparator(separator), mMode(mode), mOptions(options) {}

  // Parses like WCXMLDoc::Parse: RDF first, the XML only when the RDF parsed.
  bool Parse(const std::string& rdf, const std::string& xml) {
    return ParseOne(rdf) && ParseOne(xml);
  }

  std::map<std::string, Captured> captured;  // first capture of a path wins
  std::set<std::string> seen;                // every element path met

 private:
  struct Open {
    std::string name;
    int32_t index = 0;
    std::string path;
    std::map<std::string, int32_t> counters;  // children's names -> last index
    std::unique_ptr<Captured> frame;          // set when captured
  };

  // The encoding the model parses in: the declared one for a document that is not UTF-8.
  const char* EncodingOf(const std::string& bytes) const {
    if ((mOptions & owc::kReadDeclaredEncoding) == 0 || owc::IsValidUtf8(bytes)) return "UTF-8";
    switch (owc::ClassifyEncoding(owc::DeclaredEncoding(bytes))) {
      case owc::SingleByteEncoding::kLatin1:
        return "ISO-8859-1";
      case owc::SingleByteEncoding::kWindows1252:
        return "windows-1252";
      case owc::SingleByteEncoding::kNone:
        break;
    }
    return "UTF-8";
  }

  // windows-1252 for expat, which does not know it; the five undefined bytes are the C1
  // controls of the same value.
  static int XMLCALL Windows1252(void*, const XML_Char*, XML_Encoding* info) {
    static const int kHigh[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020,
                                  0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,
                                  0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D,
                                  0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A,
                                  0x0153, 0x9D,   0x017E, 0x0178};
    for (int i = 0; i < 256; ++i) info->map[i] = i >= 0x80 && i < 0xA0 ? kHigh[i - 0x80] : i;
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
  }

  // The HTML entities: the library's declarations as the external subset, read once;
  // any other external parameter entity empty; external general entities refused.
  static int XMLCALL ExternalEntity(XML_Parser parser, const XML_Char* context, const XML_Char*,
                                    const XML_Char* systemId, const XML_Char*) {
    if (context != nullptr) return XML_STATUS_ERROR;
    Model& m = *static_cast<Model*>(XML_GetUserData(parser));
    const bool subset = systemId == nullptr || (m.mSystemId != nullptr && *m.mSystemId == systemId);
    const bool declarations = subset && !m.mDtdRead;
    m.mDtdRead = m.mDtdRead || declarations;
    XML_Parser child = XML_ExternalEntityParserCreate(parser, nullptr, "UTF-8");
    FUZZ_CHECK(child != nullptr);
    const std::string text = declarations ? owc::HtmlEntityDtd() : std::string();
    const XML_Status status = XML_Parse(child, text.data(), static_cast<int>(text.size()), 1);
    XML_ParserFree(child);
    return status;
  }

  static void XMLCALL Doctype(void* user, const XML_Char*, const XML_Char* sysid,
                              const XML_Char*, int) {
    Model& m = *static_cast<Model*>(user);
    if (sysid != nullptr) m.mSystemIdText = sysid;
    if (sysid != nullptr) m.mSystemId = &m.mSystemIdText;
  }

  static int XMLCALL Refuse(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*,
                            const XML_Char*) {
    return XML_STATUS_ERROR;
  }

  bool ParseOne(const std::string& bytes) {
    if (bytes.empty() || bytes[0] == '\0') return true;
    mOpen.clear();
    mOpen.emplace_back();
    mSystemId = nullptr;
    mDtdRead = false;
    XML_Parser parser = XML_ParserCreateNS(EncodingOf(bytes), ':');
    FUZZ_CHECK(parser != nullptr);
    XML_SetUnknownEncodingHandler(parser, &Model::Windows1252, nullptr);
    XML_SetExternalEntityRefHandler(parser, &Model::Refuse);
    if ((mOptions & owc::kReadHtmlEntities) != 0) {
      XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_ALWAYS);
      XML_UseForeignDTD(parser, XML_TRUE);
      XML_SetStartDoctypeDeclHandler(parser, &Model::Doctype);
      XML_SetExternalEntityRefHandler(parser, &Model::ExternalEntity);
    }
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, &Model::Start, &Model::End);
    XML_SetCharacterDataHandler(parser, &Model::Text);
    bool ok = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
  }

  // The element path from the root down to self, from the names as the parser gave
  // them (a path text can be ambiguous: namespace URIs may hold any character).
  std::unique_ptr<owc::WCXMLParsePath> StepsTo(const Open& self) const {
    auto steps = std::make_unique<owc::WCXMLParsePath>();
    for (size_t i = 1; i < mOpen.size(); ++i) {
      steps->AddTail(new owc::XMLPropNode(mOpen[i].name, mOpen[i].index));
    }
    steps->AddTail(new owc::XMLPropNode(self.name, self.index));
    return steps;
  }

  void AppendToFrames(const std::string& text) {
    for (Open& open : mOpen) {
      if (open.frame != nullptr) open.frame->content += text;
    }
  }

  // A name in a NITF namespace without it, when the option says so.
  const char* Plain(const char* name) const {
    if ((mOptions & owc::kReadPlainNitf) == 0) return name;
    const std::string_view text(name);
    for (std::string_view prefix : {"http://iptc.org/std/NITF/", "http://iptc.org/std/nitf/"}) {
      const size_t colon = text.rfind(':');
      if (text.substr(0, prefix.size()) == prefix && colon != std::string_view::npos &&
          colon >= prefix.size() && colon + 1 < text.size()) {
        return name + colon + 1;
      }
    }
    return name;
  }

  static void Start(void* user, const char* rawName, const char** attrs) {
    Model& m = *static_cast<Model*>(user);
    const char* name = m.Plain(rawName);
    std::string tagText = std::string("<") + name;
    for (const char** a = attrs; a[0] != nullptr; a += 2) {
      tagText += std::string(" ") + m.Plain(a[0]) + "=\"" + m.AttributeText(a[1]) + "\"";
    }
    m.AppendToFrames(tagText + ">");
    Open& parent = m.mOpen.back();
    auto counter = parent.counters.find(name);
    int32_t index = counter == parent.counters.end() ? 0 : ++counter->second;
    if (counter == parent.counters.end()) parent.counters[name] = 0;
    Open self;
    self.name = name;
    self.index = index;
    self.path = parent.path + m.mSeparator + name + "(" + std::to_string(index) + ")";
    m.seen.insert(self.path);
    if (m.mIndex.MatchParsePath(*m.StepsTo(self))) {
      self.frame = std::make_unique<Captured>();
      self.frame->tag = name;
      for (const char** a = attrs; a[0] != nullptr; a += 2)
        self.frame->attrs.emplace_back(m.Plain(a[0]), a[1]);
    }
    m.mOpen.push_back(std::move(self));
  }

  static void End(void* user, const char* rawName) {
    Model& m = *static_cast<Model*>(user);
    const char* name = m.Plain(rawName);
    Open self = std::move(m.mOpen.back());
    m.mOpen.pop_back();
    if (self.frame != nullptr) m.captured.emplace(self.path, std::move(*self.frame));
    m.AppendToFrames(std::string("</") + name + ">");
  }

  static void Text(void* user, const char* data, int len) {
    Model& m = *static_cast<Model*>(user);
    std::string_view text(data, static_cast<size_t>(len));
    if (m.mMode == owc::kEntityRefEscape || m.mMode == owc::kEntityRefEscapeApos) {
      m.AppendToFrames(owc_fuzz::ModelEscape(text, m.mMode == owc::kEntityRefEscapeApos).text);
    } else {
      m.AppendToFrames(std::string(text));
    }
  }

  const WCXMLSearchLevel& mIndex;
  const char mSeparator;
  const uint32_t mMode;
  const uint32_t mOptions;
  std::vector<Open> mOpen;  // entry 0 stands for the document
  std::string mSystemIdText;
  const std::string* mSystemId = nullptr;  // of the DOCTYPE, when it has one
  bool mDtdRead = false;

 public:
  // An attribute value as a start tag written into a capture holds it.
  std::string AttributeText(const char* value) const {
    if (mMode != owc::kEntityRefEscape && mMode != owc::kEntityRefEscapeApos) return value;
    return owc_fuzz::ModelEscape(value, mMode == owc::kEntityRefEscapeApos).text;
  }
};

const char* const kMetaNames[] = {"storyid",  "headline", "category", "priority",
                                  "released", "keyword",  "language"};

std::vector<std::string> PropertyLines(std::string_view text, char separator) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string line(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line == "*") {
      for (std::string path :
           {owc::HeadlinePath(), owc::SubheadlinePath(-1), owc::BylinePath(-1),
            owc::DistributorPath(), owc::DatelinePath(), owc::SeriesPath(), owc::BodyPath()}) {
        lines.push_back(path);
      }
      for (const char* name : kMetaNames) {
        lines.push_back(
            owc::NamespacedKey(owc::kDefaultMetaNamespace, (name + std::string("(-1)")).c_str()));
      }
      continue;
    }
    std::replace(line.begin(), line.end(), '\\', separator);
    lines.push_back(line);
  }
  return lines;
}

std::string WithTags(const Model& model, const Captured& c) {
  std::string s = "<" + c.tag;
  for (const auto& [name, value] : c.attrs) {
    s += " " + name + "=\"" + model.AttributeText(value.c_str()) + "\"";
  }
  return s + ">" + c.content + "</" + c.tag + ">";
}

// The value a getter must give for path: the content, or nothing when not captured.
std::string ValueOf(const Model& model, const std::string& path) {
  auto it = model.captured.find(path);
  return it == model.captured.end() ? std::string() : it->second.content;
}

std::string AttributeOf(const Model& model, const std::string& path, const char* attr) {
  auto it = model.captured.find(path);
  if (it == model.captured.end()) return std::string();
  for (const auto& [name, value] : it->second.attrs) {
    if (name == attr) return value;
  }
  return std::string();
}

void CheckProperties(const WCXMLDoc& doc, const Model& model) {
  std::string out;
  for (const auto& [path, capture] : model.captured) {
    FUZZ_CHECK(doc.GetProperty(nullptr, path.c_str(), false, &out, false));
    FUZZ_CHECK(out == WithTags(model, capture));
    FUZZ_CHECK(doc.GetProperty(nullptr, path.c_str(), true, &out, true));
    FUZZ_CHECK(out == capture.content + std::string(1, '\0'));
    for (const auto& [name, value] : capture.attrs) {
      FUZZ_CHECK(doc.GetPropertyAttribute(nullptr, path.c_str(), name.c_str(), &out, false));
      FUZZ_CHECK(out == AttributeOf(model, path, name.c_str()));
    }
  }
  for (const std::string& path : model.seen) {
    if (model.captured.count(path) != 0) continue;
    FUZZ_CHECK(doc.GetProperty(nullptr, path.c_str(), false, &out, true));
    FUZZ_CHECK(out == std::string(1, '\0'));
  }
}

void CheckGetters(const WCXMLDoc& doc, const Model& model) {
  std::string out;
  FUZZ_CHECK(doc.GetHeadline(&out, false) && out == ValueOf(model, owc::HeadlinePath()));
  FUZZ_CHECK(doc.GetDistributor(&out, false) && out == ValueOf(model, owc::DistributorPath()));
  FUZZ_CHECK(doc.GetDateline(&out, false) && out == ValueOf(model, owc::DatelinePath()));
  FUZZ_CHECK(doc.GetBody(&out, true) && out == ValueOf(model, owc::BodyPath()) + '\0');
  for (int32_t i = -1; i < 4; ++i) {
    FUZZ_CHECK(doc.GetSubheadline(i, &out, false) &&
               out == ValueOf(model, owc::SubheadlinePath(i)));
    FUZZ_CHECK(doc.GetByline(i, &out, false) && out == ValueOf(model, owc::BylinePath(i)));
  }
  const std::string series = owc::SeriesPath();
  FUZZ_CHECK(doc.GetSeriesName(&out, false) &&
             out == AttributeOf(model, series, owc::kSeriesNameAttr));
  FUZZ_CHECK(doc.GetSeriesPart(&out, false) &&
             out == AttributeOf(model, series, owc::kSeriesPartAttr));
  FUZZ_CHECK(doc.GetSeriesTotalPart(&out, true) &&
             out == AttributeOf(model, series, owc::kSeriesTotalPartAttr) + '\0');
  for (const char* name : kMetaNames) {
    const std::string prop = name + std::string("(0)");
    const std::string key = owc::NamespacedKey(owc::kDefaultMetaNamespace, prop.c_str());
    FUZZ_CHECK(doc.GetProperty(owc::kDefaultMetaNamespace, prop.c_str(), true, &out, false));
    FUZZ_CHECK(out == ValueOf(model, key));
    FUZZ_CHECK(
        doc.GetPropertyAttribute(owc::kDefaultMetaNamespace, prop.c_str(), "id", &out, false));
    FUZZ_CHECK(out == AttributeOf(model, key, "id"));
  }
  FUZZ_CHECK(!doc.GetProperty(nullptr, nullptr, true, &out, false));
  FUZZ_CHECK(!doc.GetPropertyAttribute(nullptr, series.c_str(), nullptr, &out, false));
}

// Module-wide settings changed for one input and restored after it.
class SettingsScope {
 public:
  SettingsScope(char separator, uint32_t mode, uint32_t options) {
    owc::SetLevelSeparator(separator);
    owc::SetEntityRefOutput(mode);
    owc::SetReadOptions(options);
  }
  ~SettingsScope() {
    owc::SetLevelSeparator(owc::kDefaultLevelSeparator);
    owc::SetEntityRefOutput(owc::kEntityRefEscape);
    owc::SetReadOptions(0);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  owc_fuzz::InstallLogSink();
  owc_fuzz::InputReader input(data, size);
  const uint8_t flags = input.Byte();
  static const uint32_t kModes[] = {0, 1, 2, 7};
  const uint32_t mode = kModes[flags & 3];
  const char separator = (flags & 4) != 0 ? '/' : '\\';
  const uint32_t options = (flags >> 3) & owc::kReadAllOptions;
  SettingsScope settings(separator, mode, options);
  const std::string_view properties = input.Section();
  const std::string xml(input.Section());
  const std::string rdf(input.Rest());

  WCXMLSearchLevel index;
  for (const std::string& line : PropertyLines(properties, separator)) {
    index.InsertProperty(line.c_str());
  }

  WCXMLDoc doc;
  FUZZ_CHECK(doc.Init(false, xml.data(), static_cast<uint32_t>(xml.size()), nullptr, false,
                      rdf.data(), static_cast<uint32_t>(rdf.size()), "story.rdf"));
  Model model(index, separator, mode, options);
  const bool parsed = doc.Parse(index);
  FUZZ_CHECK(parsed == model.Parse(rdf, xml));
  CheckProperties(doc, model);
  CheckGetters(doc, model);

  // A second parse captures nothing new: every path is a duplicate.
  FUZZ_CHECK(doc.Parse(index) == parsed);
  CheckProperties(doc, model);

  // Init drops every capture.
  FUZZ_CHECK(doc.Init(false, nullptr, 0, nullptr, false, nullptr, 0, nullptr));
  std::string out;
  for (const auto& entry : model.captured) {
    FUZZ_CHECK(doc.GetProperty(nullptr, entry.first.c_str(), false, &out, false) && out.empty());
  }
  return 0;
}
