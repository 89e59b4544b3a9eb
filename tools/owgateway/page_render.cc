// SPDX-License-Identifier: MIT
#include "page_render.h"

#include <sys/stat.h>

namespace owgateway {

namespace {

void Collect(const uint8_t* data, uint32_t length, uintptr_t user, uintptr_t) {
  auto* out = reinterpret_cast<std::string*>(user);
  size_t n = data != nullptr ? length : 0;
  while (n > 0 && data[n - 1] == '\0') --n;  // the output counts its terminating NUL
  out->assign(reinterpret_cast<const char*>(data), n);
}

uint64_t SizeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

PageRenderer::~PageRenderer() {
  if (mEnv != nullptr) OBConvertFreeEnv(mEnv);
}

bool PageRenderer::Load(const std::string& tmpl, const std::string& xlate) {
  return OBConvertNewEnv(tmpl.data(), static_cast<uint32_t>(tmpl.size()),
                         xlate.empty() ? nullptr : xlate.data(),
                         static_cast<uint32_t>(xlate.size()), &mEnv) == 0;
}

std::string PageRenderer::Render(const std::string& xmlPath, const std::string& rdfPath) {
  std::string html;
  if (mEnv == nullptr || SizeOf(xmlPath) + SizeOf(rdfPath) > kMaxStoryBytes) return html;
  OBConvertObj obj = nullptr;
  if (OBConvertNewObj(1, xmlPath.c_str(), 0, 1, rdfPath.c_str(), 0, &obj) != 0) return html;
  OBConvertApplyTemplate(mEnv, obj, &Collect, reinterpret_cast<uintptr_t>(&html), 0);
  OBConvertFreeObj(obj);
  return html;
}

}  // namespace owgateway
