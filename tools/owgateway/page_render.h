// SPDX-License-Identifier: MIT
// Renders a story's page from its two files in the folder, for a story the gateway cannot
// pair because a restart came between its files (mode 2): the first file was delivered to
// the process that ended, so the library never renders the story.
//
// Thread: one thread at a time (a conversion environment is single-threaded).
#ifndef OWGATEWAY_PAGE_RENDER_H
#define OWGATEWAY_PAGE_RENDER_H

#include <cstdint>
#include <string>

#include "owclient/owclient.h"

namespace owgateway {

class PageRenderer {
 public:
  // Larger stories are left without a page, as the library refuses to join them.
  static constexpr uint64_t kMaxStoryBytes = 64ull * 1024 * 1024;

  PageRenderer() = default;
  ~PageRenderer();
  PageRenderer(const PageRenderer&) = delete;
  PageRenderer& operator=(const PageRenderer&) = delete;

  // Loads the template and the translation table (may be empty); false when they do not load.
  bool Load(const std::string& tmpl, const std::string& xlate);
  // The page of the story in xmlPath and rdfPath, "" when it does not render.
  std::string Render(const std::string& xmlPath, const std::string& rdfPath);

 private:
  OBConvertEnv mEnv = nullptr;
};

}  // namespace owgateway

#endif  // OWGATEWAY_PAGE_RENDER_H
