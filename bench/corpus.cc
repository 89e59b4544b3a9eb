// SPDX-License-Identifier: MIT
#include "corpus.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace owbench {

const char kMetaNamespace[] = "http://www.veltrane.com/namespaces/meta#";

namespace {

// splitmix64: small, fast and the same on every platform.
class Rng {
 public:
  explicit Rng(uint64_t seed) : mState(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
  uint64_t Next() {
    uint64_t z = (mState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  template <size_t N>
  const char* Pick(const char* const (&list)[N]) {
    return list[Below(static_cast<uint32_t>(N))];
  }

 private:
  uint64_t mState;
};

const char* const kWords[] = {"harbour",     "council",   "river",      "season",
                              "report",      "vote",      "bridge",     "festival",
                              "storm",       "league",    "museum",     "budget",
                              "railway",     "school",    "airport",    "harvest",
                              "summit",      "ferry",     "timetable",  "engineers",
                              "minister",    "residents", "forecast",   "committee",
                              "agreement",   "workers",   "tourists",   "the",
                              "a",           "of",        "and",        "to",
                              "in",          "on",        "after",      "before",
                              "during",      "which",     "said",       "would",
                              "could",       "from",      "Sønderhavn", "Ærø",
                              "café",        "Zürich",    "Kraków",     "naïve",
                              "façade",      "São Paulo", "Malmö",      "Île-de-France",
                              "Øresund",     "Straße",    "crème",      "Åland",
                              "€12 million", "−4 °C",     "–",          "“record”",
                              "‘quiet’",     "Ελλάδα",    "Москва",     "東京",
                              "smørrebrød"};

const char* const kPeople[] = {"Amara Lindqvist",   "José Ibáñez",     "Mette Krogh",
                               "Jürgen Faßbender",  "Zoë Ó Ceallaigh", "Li Wěi",
                               "Siobhán Nic Aoidh", "Nils Østergård",  "Anaïs Lefèvre"};
const char* const kTitles[] = {"Transport Correspondent", "Chief Political Writer",
                               "Science Editor", "Staff Reporter", "Europe Correspondent"};
const char* const kOrgs[] = {"Kestrel Press Agency",  "the harbour office", "Nordvik Rail",
                             "the Ministry of Works", "Café Ørsted",        "the weather service"};
const char* const kPlaces[] = {"SØNDERHAVN", "MALMÖ", "KRAKÓW", "ZÜRICH", "SÃO PAULO", "ÅLAND"};
const char* const kCategories[] = {"Regional", "Politics", "Science", "Economy", "Weather"};

void Words(Rng* rng, uint32_t n, std::string* out) {
  for (uint32_t i = 0; i < n; ++i) {
    if (i > 0) out->push_back(' ');
    out->append(rng->Pick(kWords));
  }
}

// A sentence with now and then an entity or character reference, a quotation or an
// inline element.
void Sentence(Rng* rng, std::string* out) {
  std::string s;
  Words(rng, 6 + rng->Below(10), &s);
  s[0] = static_cast<char>(s[0] >= 'a' && s[0] <= 'z' ? s[0] - 32 : s[0]);
  out->append(s);
  switch (rng->Below(12)) {
    case 0:
      out->append(" &amp; ");
      Words(rng, 3, out);
      break;
    case 1:
      out->append(", up from &lt;5&#160;% to &gt;9&#160;%");
      break;
    case 2:
      out->append(", “");
      Words(rng, 4, out);
      out->append("”, said <person>");
      out->append(rng->Pick(kPeople));
      out->append("</person> of <org>");
      out->append(rng->Pick(kOrgs));
      out->append("</org>");
      break;
    case 3:
      out->append(" &#8212; <em>");
      Words(rng, 3, out);
      out->append("</em> &#8212; ");
      Words(rng, 2, out);
      break;
    case 4:
      out->append(", \"");
      Words(rng, 3, out);
      out->append("\", she wrote");
      break;
    case 5:
      out->append(" (<a href=\"https://news.example.org/");
      out->append(std::to_string(rng->Below(100000)));
      out->append("\" title=\"More on this\">details</a>)");
      break;
    case 6:
      out->append(" with <strong>");
      Words(rng, 2, out);
      out->append("</strong>");
      break;
    case 7:
      out->append(" at the &quot;");
      Words(rng, 2, out);
      out->append("&quot; site, it&apos;s said");
      break;
    default:
      break;
  }
  out->append(". ");
}

void Paragraph(Rng* rng, std::string* out) {
  out->append(rng->Below(5) == 0 ? "<p lede=\"true\">" : "<p>");
  uint32_t n = 2 + rng->Below(4);
  for (uint32_t i = 0; i < n; ++i) {
    Sentence(rng, out);
    if (i + 1 < n && rng->Below(3) == 0) out->push_back('\n');
  }
  out->append("</p>\n");
}

void Table(Rng* rng, std::string* out) {
  out->append("<table>\n<caption>");
  Words(rng, 5, out);
  out->append(
      "</caption>\n<tr><th scope=\"col\">Item</th><th scope=\"col\">2024</th>"
      "<th scope=\"col\">2025 forecast</th></tr>\n");
  uint32_t rows = 3 + rng->Below(4);
  for (uint32_t r = 0; r < rows; ++r) {
    out->append("<tr><td>");
    out->append(rng->Pick(kWords));
    out->append("</td><td>");
    out->append(std::to_string(rng->Below(9000) + 100));
    out->append("</td><td class=\"num\">");
    out->append(std::to_string(rng->Below(9000) + 100));
    out->append("</td></tr>\n");
  }
  out->append("</table>\n");
}

void List(Rng* rng, std::string* out) {
  out->append(rng->Below(2) == 0 ? "<ul>\n" : "<ol>\n");
  const bool ordered = out->compare(out->size() - 4, 4, "ol>\n") == 0;
  uint32_t items = 3 + rng->Below(3);
  for (uint32_t i = 0; i < items; ++i) {
    out->append("<li>");
    Words(rng, 5 + rng->Below(6), out);
    if (rng->Below(3) == 0) {
      out->append(" <em>");
      Words(rng, 2, out);
      out->append("</em>");
    }
    out->append("</li>\n");
  }
  out->append(ordered ? "</ol>\n" : "</ul>\n");
}

void Quote(Rng* rng, std::string* out) {
  out->append("<bq><block><p>“");
  Words(rng, 14, out);
  out->append("”</p></block><credit>");
  out->append(rng->Pick(kPeople));
  out->append("</credit></bq>\n");
}

void Figure(Rng* rng, uint32_t n, std::string* out) {
  out->append("<media media-type=\"image\">\n<media-reference source=\"figure-");
  out->append(std::to_string(n));
  out->append(".jpg\" alternate-text=\"");
  Words(rng, 4, out);
  out->append("\" mime-type=\"image/jpeg\" width=\"1600\" height=\"900\"/>\n<media-caption>");
  Words(rng, 10, out);
  out->append(".</media-caption>\n<media-producer>Photo: ");
  out->append(rng->Pick(kOrgs));
  out->append(" / ");
  out->append(rng->Pick(kPeople));
  out->append("</media-producer>\n</media>\n");
}

void Note(Rng* rng, std::string* out) {
  out->append("<note>Editors: ");
  Words(rng, 8, out);
  out->append("</note>\n");
}

// One body section (about 1.3 KB): a subheading now and then, paragraphs and one other
// kind of block.
void Section(Rng* rng, uint32_t n, std::string* out) {
  if (n > 0 && n % 3 == 0) {
    out->append("<hl2>");
    Words(rng, 4, out);
    out->append("</hl2>\n");
  }
  Paragraph(rng, out);
  Paragraph(rng, out);
  switch (n % 6) {
    case 1:
      Table(rng, out);
      break;
    case 2:
      List(rng, out);
      break;
    case 3:
      Quote(rng, out);
      break;
    case 4:
      Figure(rng, n, out);
      break;
    case 5:
      Note(rng, out);
      break;
    default:
      Paragraph(rng, out);
      break;
  }
}

std::string Headline(Rng* rng) {
  std::string text;
  Words(rng, 7, &text);
  text[0] = static_cast<char>(text[0] >= 'a' && text[0] <= 'z' ? text[0] - 32 : text[0]);
  return text;
}

std::string Head(Rng* rng, const std::string& headline) {
  std::string out = "<body.head>\n<hedline>\n<hl1>" + headline + "</hl1>\n";
  uint32_t subheads = 2 + rng->Below(2);
  for (uint32_t i = 0; i < subheads; ++i) {
    out += "<hl2>";
    Words(rng, 6, &out);
    out += "</hl2>\n";
  }
  out += "</hedline>\n";
  uint32_t bylines = 2 + rng->Below(2);
  for (uint32_t i = 0; i < bylines; ++i) {
    out += i == 0 ? "<byline>By <person>" : "<byline>With reporting by <person>";
    out += rng->Pick(kPeople);
    out += "</person>, <byttl>";
    out += rng->Pick(kTitles);
    out += "</byttl></byline>\n";
  }
  out += "<distributor>Kestrel Press Agency</distributor>\n<dateline><location>";
  out += rng->Pick(kPlaces);
  out +=
      "</location>, <story.date norm=\"20250312T074500Z\">12 March 2025</story.date>"
      "</dateline>\n<series series.name=\"Rebuilding the Coast\" series.part=\"";
  out += std::to_string(1 + rng->Below(3));
  out += "\" series.totalpart=\"3\"/>\n</body.head>\n";
  return out;
}

}  // namespace

Story GenerateStory(uint32_t index, size_t xmlBytes) {
  Rng rng(index);
  Story story;
  char base[32];
  std::snprintf(base, sizeof base, "story%05u", index);
  story.base = base;
  const std::string headline = Headline(&rng);
  const std::string id = "KPA-2025-" + std::to_string(100000 + index);

  static const char kTail1[] = "</block>\n</body.content>\n<body.end>\n<tagline>";
  static const char kTail2[] = "</tagline>\n</body.end>\n</body>\n</nitf>\n";
  std::string& xml = story.xml;
  xml.reserve(xmlBytes + 2048);
  xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<nitf>\n<head>\n<title>" + headline +
        "</title>\n<docdata>\n<doc-id id-string=\"" + id +
        "\"/>\n<date.issue norm=\"20250312T074500Z\"/>\n</docdata>\n</head>\n<body>\n" +
        Head(&rng, headline) + "<body.content>\n<block>\n";
  std::string tagline;
  Words(&rng, 8, &tagline);
  const size_t tail = sizeof kTail1 - 1 + tagline.size() + sizeof kTail2 - 1;
  uint32_t n = 0;
  do {
    Section(&rng, n++, &xml);
  } while (xml.size() + tail < xmlBytes);
  xml += kTail1;
  xml += tagline;
  xml += kTail2;

  std::string& rdf = story.rdf;
  rdf = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Resource xmlns=\"") +
        kMetaNamespace +
        "\"\n          xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"\n"
        "          rdf:about=\"urn:story:" +
        id + "\">\n  <storyid>" + id + "</storyid>\n  <headline>" + headline +
        "</headline>\n  <category>" + rng.Pick(kCategories) + "</category>\n  <priority>" +
        std::to_string(1 + rng.Below(5)) +
        "</priority>\n  <language>en</language>\n  <released>2025-03-12T07:45:00Z</released>\n";
  uint32_t keywords = 3 + rng.Below(4);
  for (uint32_t i = 0; i < keywords; ++i) {
    rdf += "  <keyword>";
    rdf += rng.Pick(kWords);
    rdf += "</keyword>\n";
  }
  rdf += "  <wordcount>" + std::to_string(xml.size() / 7) + "</wordcount>\n</Resource>\n";
  return story;
}

std::vector<Story> GenerateCorpus(uint32_t first, uint32_t count, size_t xmlBytes) {
  std::vector<Story> stories;
  stories.reserve(count);
  for (uint32_t i = 0; i < count; ++i) stories.push_back(GenerateStory(first + i, xmlBytes));
  return stories;
}

bool WriteCorpus(const std::vector<Story>& stories, const std::string& dir, std::string* error) {
  for (const Story& story : stories) {
    for (const auto& [ext, text] :
         {std::pair<const char*, const std::string*>{".xml", &story.xml}, {".rdf", &story.rdf}}) {
      const std::string path = dir + "/" + story.base + ext;
      std::ofstream file(path, std::ios::binary | std::ios::trunc);
      file.write(text->data(), static_cast<std::streamsize>(text->size()));
      if (!file) {
        *error = "cannot write " + path;
        return false;
      }
    }
  }
  return true;
}

bool ReadFile(const std::string& path, std::string* out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  out->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

std::string MustRead(const std::string& path, const char* program) {
  std::string text;
  if (!ReadFile(path, &text)) {
    std::fprintf(stderr, "%s: cannot read %s\n", program, path.c_str());
    std::exit(2);
  }
  return text;
}

}  // namespace owbench
