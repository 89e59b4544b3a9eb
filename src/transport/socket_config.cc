// SPDX-License-Identifier: MIT
#include "transport/socket_config.h"

#include <cstdio>

namespace owc {

bool CSocketConfig::Check(int socket) {
  if (socket == -1) {
    std::snprintf(mErrorText, sizeof mErrorText, "Invalid Socket");
    return false;
  }
  // Every mode is accepted as it stands: there is nothing to configure.
  return true;
}

}  // namespace owc
