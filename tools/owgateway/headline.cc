#include "headline.h"

#include <cstring>

#include "story_check.h"

namespace owgateway {

namespace {

// A template that renders nothing but the headline; entity escaping of the story text
// makes the result safe to place in HTML.
const char kHeadlineTemplate[] = "<?Kavio insert headline?>";

void Collect(const uint8_t* data, uint32_t length, uintptr_t user, uintptr_t) {
  auto* out = reinterpret_cast<std::string*>(user);
  if (data != nullptr && length > 0) {
    // The template's output counts its terminating NUL.
    size_t n = length;
    while (n > 0 && data[n - 1] == '\0') --n;
    out->assign(reinterpret_cast<const char*>(data), n);
  }
}

}  // namespace

HeadlineReader::HeadlineReader() {
  if (OBConvertNewEnv(kHeadlineTemplate, sizeof kHeadlineTemplate - 1, nullptr, 0, &mEnv) != 0) {
    mEnv = nullptr;
  }
}

HeadlineReader::~HeadlineReader() {
  if (mEnv != nullptr) OBConvertFreeEnv(mEnv);
}

std::string HeadlineReader::FromFiles(const std::string& xmlPath, const std::string& rdfPath,
                                      std::string* problem) {
  std::string headline;
  if (mEnv == nullptr) return headline;
  OBConvertObj obj = nullptr;
  const char* rdf = rdfPath.empty() ? nullptr : rdfPath.c_str();
  if (OBConvertNewObj(1, xmlPath.c_str(), 0, 1, rdf, 0, &obj) != 0) return headline;
  const uint32_t rc =
      OBConvertApplyTemplate(mEnv, obj, &Collect, reinterpret_cast<uintptr_t>(&headline), 0);
  if (problem != nullptr && rc == 0) {
    *problem = owtools::StoryProblem(
        obj, owtools::ReadFileStart(xmlPath, owtools::kRootSearchBytes), OBConvertGetReadOptions());
  }
  OBConvertFreeObj(obj);
  return headline;
}

std::string HeadlineReader::FromHtml(const char* html, size_t length) {
  std::string text(html, length);
  size_t open = text.find("<title>");
  if (open == std::string::npos) return std::string();
  size_t close = text.find("</title>", open);
  if (close == std::string::npos) return std::string();
  open += 7;
  return text.substr(open, close - open);
}

}  // namespace owgateway
