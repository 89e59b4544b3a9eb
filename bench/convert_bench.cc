// SPDX-License-Identifier: MIT
// bench_convert: how fast the library turns a story pair into HTML, measured side by side in
// one process on the same generated stories against
//   (a) the floor: expat parsing the NITF and RDF documents, with namespace processing and
//       handlers that do nothing;
//   (b) the library: OBConvertNewObj from memory, OBConvertApplyTemplate with the example
//       template and translation table, and the nine field getters;
//   (c) the peer: libxslt applying bench/story.xsl (the same page as the example template),
//       compiled once, to the same stories parsed from memory, serialised to memory.
// Times are this thread's CPU time, taken in interleaved rounds; each ratio is the median of
// the per-round ratios, so a load change on the machine hits all three alike. Then, one
// process per run, the peak RSS of each workload per story size, and owconvert --batch with
// -j 1 and -j 2 over a generated corpus.
//
// Usage: bench_convert [--sizes 2048,20480,204800,2097152] [--seconds 8] [--no-memory]
//                      [--batch-stories 2000] [--batch-size 20480] [--no-batch] [--csv FILE]
//        bench_convert --repeat WORKLOAD SIZE COUNT    (one workload alone, for a profiler)
#include <expat.h>
#include <libxml/parser.h>
#include <libxslt/documents.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "corpus.h"
#include "owclient/owclient.h"

namespace {

using owbench::Story;

const std::string kSourceDir = OWBENCH_SOURCE_DIR;

// ---------------------------------------------------------------- (a) the floor

void XMLCALL NoStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL NoEnd(void*, const XML_Char*) {}
void XMLCALL NoText(void*, const XML_Char*, int) {}

size_t ParseRaw(const std::string& bytes) {
  XML_Parser parser = XML_ParserCreateNS("UTF-8", ':');
  XML_SetElementHandler(parser, NoStart, NoEnd);
  XML_SetCharacterDataHandler(parser, NoText);
  XML_Status status = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1);
  XML_ParserFree(parser);
  return status == XML_STATUS_OK ? bytes.size() : 0;
}

size_t RunFloor(const Story& story) { return ParseRaw(story.rdf) + ParseRaw(story.xml); }

// ---------------------------------------------------------------- (b) the library

struct Sink {
  size_t bytes = 0;
  std::string* keep = nullptr;
};

void Collect(const uint8_t* data, uint32_t len, uintptr_t user, uintptr_t) {
  Sink* sink = reinterpret_cast<Sink*>(user);
  sink->bytes += len;
  if (sink->keep != nullptr) sink->keep->append(reinterpret_cast<const char*>(data), len);
}

OBConvertEnv gEnv = nullptr;

void SetUpLibrary() {
  const std::string tmpl =
      owbench::MustRead(kSourceDir + "/examples/templates/story.tmpl", "bench_convert");
  const std::string xlate =
      owbench::MustRead(kSourceDir + "/examples/templates/story.xlate", "bench_convert");
  if (OBConvertNewEnv(tmpl.data(), static_cast<uint32_t>(tmpl.size()), xlate.data(),
                      static_cast<uint32_t>(xlate.size()), &gEnv) != 0) {
    std::fprintf(stderr, "bench_convert: the example template does not load\n");
    std::exit(2);
  }
}

size_t RunLibrary(const Story& story, std::string* html) {
  OBConvertObj obj = nullptr;
  if (OBConvertNewObj(0, story.xml.data(), static_cast<uint32_t>(story.xml.size()), 0,
                      story.rdf.data(), static_cast<uint32_t>(story.rdf.size()), &obj) != 0) {
    return 0;
  }
  Sink sink;
  sink.keep = html;
  const uintptr_t u = reinterpret_cast<uintptr_t>(&sink);
  uint32_t failed = OBConvertApplyTemplate(gEnv, obj, Collect, u, 0);
  sink.keep = nullptr;
  failed |= OBConvertGetHeadline(obj, Collect, u, 0);
  failed |= OBConvertGetSubheadline(obj, Collect, u, 0, 0);
  failed |= OBConvertGetByline(obj, Collect, u, 0, 0);
  failed |= OBConvertGetDistributor(obj, Collect, u, 0);
  failed |= OBConvertGetDateline(obj, Collect, u, 0);
  failed |= OBConvertGetSeriesName(obj, Collect, u, 0);
  failed |= OBConvertGetSeriesPart(obj, Collect, u, 0);
  failed |= OBConvertGetSeriesTotalPart(obj, Collect, u, 0);
  failed |= OBConvertGetBody(obj, Collect, u, 0);
  OBConvertFreeObj(obj);
  return failed == 0 ? sink.bytes : 0;
}

// ---------------------------------------------------------------- (c) the peer

xsltStylesheetPtr gStyle = nullptr;
xsltDocLoaderFunc gDefaultLoader = nullptr;
const std::string* gRdf = nullptr;  // the metadata of the story being rendered
const char kMetaUri[] = "urn:story-metadata";

xmlDocPtr MetadataLoader(const xmlChar* uri, xmlDictPtr dict, int options, void* ctxt,
                         xsltLoadType type) {
  if (type == XSLT_LOAD_DOCUMENT && gRdf != nullptr &&
      std::strcmp(reinterpret_cast<const char*>(uri), kMetaUri) == 0) {
    return xmlReadMemory(gRdf->data(), static_cast<int>(gRdf->size()), kMetaUri, "UTF-8", options);
  }
  return gDefaultLoader(uri, dict, options, ctxt, type);
}

void SetUpPeer() {
  xmlInitParser();
  const std::string path = kSourceDir + "/bench/story.xsl";
  gStyle = xsltParseStylesheetFile(reinterpret_cast<const xmlChar*>(path.c_str()));
  if (gStyle == nullptr) {
    std::fprintf(stderr, "bench_convert: %s does not compile\n", path.c_str());
    std::exit(2);
  }
  gDefaultLoader = xsltDocDefaultLoader;
  xsltSetLoaderFunc(MetadataLoader);
}

size_t RunPeer(const Story& story, std::string* html) {
  gRdf = &story.rdf;
  xmlDocPtr doc =
      xmlReadMemory(story.xml.data(), static_cast<int>(story.xml.size()), "story.xml", "UTF-8", 0);
  if (doc == nullptr) return 0;
  xmlDocPtr result = xsltApplyStylesheet(gStyle, doc, nullptr);
  size_t bytes = 0;
  if (result != nullptr) {
    xmlChar* out = nullptr;
    int len = 0;
    if (xsltSaveResultToString(&out, &len, result, gStyle) == 0 && out != nullptr) {
      bytes = static_cast<size_t>(len);
      if (html != nullptr) html->assign(reinterpret_cast<const char*>(out), bytes);
    }
    xmlFree(out);
    xmlFreeDoc(result);
  }
  xmlFreeDoc(doc);
  gRdf = nullptr;
  return bytes;
}

// ---------------------------------------------------------------- checks and runs

// The text a reader sees: tags removed, character references decoded, blanks collapsed.
std::string ReadableText(const std::string& html) {
  std::string out;
  bool blank = false;
  for (size_t i = 0; i < html.size(); ++i) {
    char c = html[i];
    if (c == '<') {
      size_t end = html.find('>', i);
      if (end == std::string::npos) break;
      i = end;
      blank = true;
      continue;
    }
    std::string piece(1, c);
    if (c == '&') {
      size_t end = html.find(';', i);
      std::string ref = end == std::string::npos ? "" : html.substr(i + 1, end - i - 1);
      if (ref == "amp")
        piece = "&";
      else if (ref == "lt")
        piece = "<";
      else if (ref == "gt")
        piece = ">";
      else if (ref == "quot")
        piece = "\"";
      else if (ref == "apos")
        piece = "'";
      else if (ref == "nbsp")
        piece = "\xC2\xA0";
      if (piece != "&")
        i = end;
      else if (ref == "amp")
        i = end;
    }
    if (std::isspace(static_cast<unsigned char>(c)) != 0) {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out.push_back(' ');
    blank = false;
    out += piece;
  }
  return out;
}

struct Workload {
  const char* name;
  size_t (*run)(const Story&);
};

size_t RunLibraryOnly(const Story& s) { return RunLibrary(s, nullptr); }
size_t RunPeerOnly(const Story& s) { return RunPeer(s, nullptr); }

const Workload kWorkloads[] = {
    {"floor", RunFloor}, {"library", RunLibraryOnly}, {"peer", RunPeerOnly}};
constexpr int kFloor = 0, kLibrary = 1, kPeer = 2;

std::string SizeLabel(size_t bytes) {
  char buf[32];
  if (bytes >= 1u << 20)
    std::snprintf(buf, sizeof buf, "%zu MB", bytes >> 20);
  else
    std::snprintf(buf, sizeof buf, "%zu KB", bytes >> 10);
  return buf;
}

struct SizeResult {
  size_t size = 0;
  size_t stories = 0;
  double avgBytes = 0;  // XML + RDF per story
  int rounds = 0;
  double seconds[3] = {};  // median CPU seconds per story
  double floorRatio = 0;   // library speed / floor speed
  double peerRatio = 0;    // library speed / peer speed
};

SizeResult MeasureSize(size_t size, double budget) {
  SizeResult result;
  result.size = size;
  // About 2 MB of stories per round, at least two stories.
  const size_t count = std::max<size_t>(2, (2u << 20) / std::max<size_t>(size, 1));
  std::vector<Story> stories = owbench::GenerateCorpus(static_cast<uint32_t>(size % 997),
                                                       static_cast<uint32_t>(count), size);
  size_t bytes = 0;
  for (const Story& s : stories) bytes += s.xml.size() + s.rdf.size();
  result.stories = stories.size();
  result.avgBytes = static_cast<double>(bytes) / static_cast<double>(stories.size());

  // The first story once through both renderers: they must show the reader the same text.
  std::string ours, theirs;
  if (RunFloor(stories[0]) == 0 || RunLibrary(stories[0], &ours) == 0 ||
      RunPeer(stories[0], &theirs) == 0) {
    std::fprintf(stderr, "bench_convert: a workload failed on %s\n", stories[0].base.c_str());
    std::exit(1);
  }
  if (!ours.empty() && ours.back() == '\0') ours.pop_back();
  const bool same = ReadableText(ours) == ReadableText(theirs);
  std::printf(
      "%-6s %zu stories of %.0f bytes; library HTML %zu bytes, peer HTML %zu bytes, "
      "same text: %s\n",
      SizeLabel(size).c_str(), stories.size(), result.avgBytes, ours.size(), theirs.size(),
      same ? "yes" : "NO");
  if (!same) {
    std::string a = ReadableText(ours), b = ReadableText(theirs);
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    std::printf("  first difference at %zu:\n  library: %.80s\n  peer:    %.80s\n", i,
                a.c_str() + std::min(i, a.size()), b.c_str() + std::min(i, b.size()));
  }

  std::vector<double> times[3], floorRatios, peerRatios;
  const double start = owbench::WallSeconds();
  for (int round = 0; round < 200; ++round) {
    double t[3];
    for (int k = 0; k < 3; ++k) {
      const int w = (round + k) % 3;  // rotate the order
      const double t0 = owbench::ThreadCpuSeconds();
      for (const Story& s : stories) kWorkloads[w].run(s);
      t[w] = owbench::ThreadCpuSeconds() - t0;
    }
    for (int w = 0; w < 3; ++w) times[w].push_back(t[w] / static_cast<double>(stories.size()));
    floorRatios.push_back(t[kFloor] / t[kLibrary]);
    peerRatios.push_back(t[kPeer] / t[kLibrary]);
    ++result.rounds;
    if (round >= 4 && owbench::WallSeconds() - start > budget) break;
  }
  for (int w = 0; w < 3; ++w) result.seconds[w] = owbench::Median(times[w]);
  result.floorRatio = owbench::Median(floorRatios);
  result.peerRatio = owbench::Median(peerRatios);
  return result;
}

// For a profiler: one story of `size` through one workload `count` times, e.g.
//   valgrind --tool=callgrind --toggle-collect='*RunLibrary*' bench_convert --repeat library 20480
//   20
int Repeat(const std::string& workload, size_t size, int count) {
  Story story = owbench::GenerateStory(7, size);
  for (int w = 0; w < 3; ++w) {
    if (workload != kWorkloads[w].name) continue;
    if (w == kLibrary) SetUpLibrary();
    if (w == kPeer) SetUpPeer();
    size_t bytes = 0;
    for (int i = 0; i < count; ++i) bytes += kWorkloads[w].run(story);
    std::printf("%s: %d runs over %zu + %zu bytes, %zu bytes out\n", workload.c_str(), count,
                story.xml.size(), story.rdf.size(), bytes);
    return 0;
  }
  std::fprintf(stderr, "bench_convert: workloads are \"%s\", \"%s\" and \"%s\"\n",
               kWorkloads[0].name, kWorkloads[1].name, kWorkloads[2].name);
  return 2;
}

// Run in a child process of its own: one story of `size` through one workload, three times;
// prints the peak RSS.
int MemoryChild(size_t size, const std::string& workload) {
  Story story = owbench::GenerateStory(7, size);
  for (int w = 0; w < 3; ++w) {
    if (workload != kWorkloads[w].name) continue;
    if (w == kLibrary) SetUpLibrary();
    if (w == kPeer) SetUpPeer();
    for (int i = 0; i < 3; ++i) kWorkloads[w].run(story);
  }
  std::printf("%ld\n", owbench::HighWaterKiB());
  return 0;
}

void MeasureMemory(const std::vector<size_t>& sizes) {
  std::printf(
      "\nPeak RSS (KiB) of a process that generates one story and runs it three times "
      "through one workload\n(\"story only\" generates it and runs nothing):\n");
  std::printf("%-8s %12s %12s %12s %12s\n", "size", "story only", "expat floor", "library",
              "libxslt peer");
  const std::string self = owbench::SelfPath();
  for (size_t size : sizes) {
    std::printf("%-8s", SizeLabel(size).c_str());
    for (const char* w : {"none", kWorkloads[0].name, kWorkloads[1].name, kWorkloads[2].name}) {
      owbench::ChildRun run =
          owbench::RunChild({self, "--memory-child", std::to_string(size), w}, true);
      std::printf(" %12ld", run.status == 0 ? std::atol(run.output.c_str()) : -1L);
    }
    std::printf("\n");
  }
}

void MeasureBatch(uint32_t count, size_t size) {
  const std::string tool = OWBENCH_OWCONVERT;
  const std::string dir = owbench::MakeTempDir("owbench-batch-");
  if (dir.empty()) return;
  const std::string in = dir + "/in", out = dir + "/out";
  std::string error;
  bool written = mkdir(in.c_str(), 0755) == 0;
  for (uint32_t i = 0; written && i < count; ++i) {
    written = owbench::WriteCorpus({owbench::GenerateStory(i, size)}, in, &error);
  }
  if (!written) {
    std::fprintf(stderr, "bench_convert: corpus not written: %s\n", error.c_str());
    owbench::RemoveTree(dir);
    return;
  }
  const std::string tmpl = kSourceDir + "/examples/templates/story.tmpl";
  const std::string xlate = kSourceDir + "/examples/templates/story.xlate";
  std::vector<double> wall[2], cpu[2];
  long rss[2] = {0, 0};
  std::string summary;
  // Each run writes into a folder of its own, all removed at the end: removing the last
  // run's pages right before the next run made ext4 skip the inodes just freed while it
  // looked for new ones, one by one, and that search, serialised by the folder's lock,
  // was most of each run's time, not the conversion.
  for (int rep = 0; rep < 3; ++rep) {
    for (int j = 0; j < 2; ++j) {
      const std::string pages = out + "-" + std::to_string(rep) + "-" + std::to_string(j + 1);
      owbench::ChildRun run = owbench::RunChild(
          {tool, "-t", tmpl, "-x", xlate, "--batch", "-d", pages, "-j", std::to_string(j + 1), in},
          true);
      if (run.status != 0) std::fprintf(stderr, "bench_convert: owconvert failed\n");
      wall[j].push_back(run.wallSeconds);
      cpu[j].push_back(run.cpuSeconds);
      rss[j] = std::max(rss[j], run.peakRssKiB);
      summary = run.output;
    }
  }
  owbench::RemoveTree(dir);
  while (!summary.empty() && summary.back() == '\n') summary.pop_back();
  std::printf("\nowconvert --batch over %u stories of %s (%s), 3 runs each, medians:\n", count,
              SizeLabel(size).c_str(), summary.c_str());
  for (int j = 0; j < 2; ++j) {
    std::printf("  -j %d: %.3f s wall, %.3f s CPU, %.0f stories/s, peak RSS %ld KiB\n", j + 1,
                owbench::Median(wall[j]), owbench::Median(cpu[j]), count / owbench::Median(wall[j]),
                rss[j]);
  }
  std::printf("  scaling -j 2 over -j 1: %.2fx (2.00 would be perfect on two free cores)\n",
              owbench::Median(wall[0]) / owbench::Median(wall[1]));
}

// Columns: NITF size, bytes per story (NITF and RDF), then per workload the CPU
// microseconds and MB/s per story, then the two speed ratios.
void WriteCsv(const std::string& path, const std::vector<SizeResult>& results) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    std::fprintf(stderr, "bench_convert: cannot write %s\n", path.c_str());
    return;
  }
  std::fprintf(f,
               "size,bytes,floor_us,floor_mbps,library_us,library_mbps,libxslt_us,libxslt_mbps,"
               "library_over_floor,library_over_libxslt\n");
  for (const SizeResult& r : results) {
    std::fprintf(f, "%zu,%.0f", r.size, r.avgBytes);
    for (int w = 0; w < 3; ++w) {
      std::fprintf(f, ",%.2f,%.2f", r.seconds[w] * 1e6, r.avgBytes / r.seconds[w] / 1e6);
    }
    std::fprintf(f, ",%.3f,%.3f\n", r.floorRatio, r.peerRatio);
  }
  std::fclose(f);
}

std::vector<size_t> ParseSizes(const char* text) {
  std::vector<size_t> sizes;
  for (const char* p = text; *p != '\0';) {
    char* end = nullptr;
    sizes.push_back(std::strtoul(p, &end, 10));
    p = *end == ',' ? end + 1 : end;
    if (end == nullptr || (*end != ',' && *end != '\0')) break;
  }
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<size_t> sizes = {2048, 20480, 204800, 2097152};
  double seconds = 8;
  bool memory = true, batch = true;
  uint32_t batchStories = 2000;
  size_t batchSize = 20480;
  std::string csv;  // one line per story size, for the plot script
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool more = i + 1 < argc;
    if (arg == "--memory-child" && i + 2 < argc) {
      return MemoryChild(std::strtoul(argv[i + 1], nullptr, 10), argv[i + 2]);
    } else if (arg == "--repeat" && i + 3 < argc) {
      return Repeat(argv[i + 1], std::strtoul(argv[i + 2], nullptr, 10), std::atoi(argv[i + 3]));
    } else if (arg == "--sizes" && more) {
      sizes = ParseSizes(argv[++i]);
    } else if (arg == "--seconds" && more) {
      seconds = std::atof(argv[++i]);
    } else if (arg == "--batch-stories" && more) {
      batchStories = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--batch-size" && more) {
      batchSize = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--no-memory") {
      memory = false;
    } else if (arg == "--no-batch") {
      batch = false;
    } else if (arg == "--csv" && more) {
      csv = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: %s [--sizes LIST] [--seconds S] [--no-memory] "
                   "[--batch-stories N] [--batch-size BYTES] [--no-batch] [--csv FILE]\n",
                   argv[0]);
      return 2;
    }
  }
  std::printf("bench_convert: %s; times are thread CPU time per story\n",
              owbench::LoadLine().c_str());
  SetUpLibrary();
  SetUpPeer();
  std::vector<SizeResult> results;
  for (size_t size : sizes) results.push_back(MeasureSize(size, seconds));

  std::printf("\n%-8s %6s %9s | %10s %8s | %10s %8s | %10s %8s | %9s %9s\n", "size", "stories",
              "rounds", "floor us", "MB/s", "lib us", "MB/s", "xslt us", "MB/s", "lib/floor",
              "lib/xslt");
  for (const SizeResult& r : results) {
    std::printf("%-8s %6zu %9d |", SizeLabel(r.size).c_str(), r.stories, r.rounds);
    for (int w = 0; w < 3; ++w) {
      std::printf(" %10.1f %8.1f |", r.seconds[w] * 1e6, r.avgBytes / r.seconds[w] / 1e6);
    }
    std::printf(" %9.2f %9.2f\n", r.floorRatio, r.peerRatio);
  }
  std::printf(
      "(lib/floor: library speed as a fraction of the expat floor's; lib/xslt: library "
      "speed over the peer's)\n");
  if (!results.empty()) {
    std::printf("\nGrowth: CPU time per KB of story, ns (flat = linear)\n%-8s %12s %12s %12s\n",
                "size", "expat floor", "library", "libxslt peer");
    for (const SizeResult& r : results) {
      std::printf("%-8s", SizeLabel(r.size).c_str());
      for (int w = 0; w < 3; ++w) std::printf(" %12.1f", r.seconds[w] * 1e9 / (r.avgBytes / 1024));
      std::printf("\n");
    }
  }
  if (!csv.empty()) WriteCsv(csv, results);
  std::fflush(stdout);
  if (memory) MeasureMemory(sizes);
  std::fflush(stdout);
  if (batch) MeasureBatch(batchStories, batchSize);
  OBConvertFreeEnv(gEnv);
  xsltFreeStylesheet(gStyle);
  xsltCleanupGlobals();
  xmlCleanupParser();
  return 0;
}
