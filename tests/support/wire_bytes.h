// SPDX-License-Identifier: MIT
// Wire messages as bytes, for tests that play a peer or feed the parser directly.
#ifndef OWCLIENT_TESTS_SUPPORT_WIRE_BYTES_H
#define OWCLIENT_TESTS_SUPPORT_WIRE_BYTES_H

#include <string>

namespace owc_test {

// A text message with its NUL.
inline std::string WireText(const std::string& text) { return text + std::string(1, '\0'); }

// A block message: head (e.g. "7:+BLK3:"), big-endian length, data, marker, NUL.
inline std::string WireBlock(const std::string& head, const std::string& data,
                             const std::string& marker) {
  const std::string length{static_cast<char>(data.size() >> 8), static_cast<char>(data.size())};
  return head + length + data + WireText(marker);
}

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_WIRE_BYTES_H
