// SPDX-License-Identifier: MIT
// A socket checker kept for diagnostics: it accepts any valid socket, whatever its mode,
// and explains a rejection in its error text.
#ifndef OWCLIENT_TRANSPORT_SOCKET_CONFIG_H
#define OWCLIENT_TRANSPORT_SOCKET_CONFIG_H

#include <cstdint>

namespace owc {

class CSocketConfig {
 public:
  static constexpr int kErrorTextSize = 256;

  CSocketConfig() = default;
  CSocketConfig(const CSocketConfig&) = delete;
  CSocketConfig& operator=(const CSocketConfig&) = delete;
  virtual ~CSocketConfig() = default;

  // False, with the error text "Invalid Socket", for the invalid socket (-1); true for any
  // other. The socket is not kept.
  bool Check(int socket);

  void SetMode(uint32_t mode) { mMode = mode; }
  uint32_t GetMode() const { return mMode; }
  const char* GetErrorText() const { return mErrorText; }

 private:
  uint32_t mMode = 0;
  char mErrorText[kErrorTextSize] = {};
};

}  // namespace owc

#endif  // OWCLIENT_TRANSPORT_SOCKET_CONFIG_H
