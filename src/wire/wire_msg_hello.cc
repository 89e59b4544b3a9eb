// SPDX-License-Identifier: MIT
#include <cstdio>
#include <cstring>

#include "owclient/wire_messages.h"

namespace {

const char kDefaultProductID[] = "Orbrix";
// " " + product identifier + " v%u.%02u.%02u v%u.%02u.%02u": 261 + 2 * 33 + 3, with room.
constexpr size_t kTailSize = 352;

}  // namespace

WCXMLWireMsgHello::WCXMLWireMsgHello() noexcept
    : mMajor1(1), mMinor1(0), mPatch1(0), mMajor2(1), mMinor2(0), mPatch2(0) {
  std::memcpy(mProductID, kDefaultProductID, sizeof kDefaultProductID);
  // Without memory the hello stays without an image; its user sees GetMsgLen() == 0.
  BuildImage();
}

WCXMLWireMsgHello::~WCXMLWireMsgHello() = default;

bool WCXMLWireMsgHello::SetVersions(uint32_t major1, uint32_t minor1, uint32_t patch1,
                                    uint32_t major2, uint32_t minor2, uint32_t patch2) {
  if (GetMsgBuf() == nullptr) return false;
  mMajor1 = major1;
  mMinor1 = minor1;
  mPatch1 = patch1;
  mMajor2 = major2;
  mMinor2 = minor2;
  mPatch2 = patch2;
  return BuildImage();
}

bool WCXMLWireMsgHello::SetProductID(const char* productID) {
  if (GetMsgBuf() == nullptr) return false;
  std::snprintf(mProductID, sizeof mProductID, "%s", productID != nullptr ? productID : "");
  return BuildImage();
}

// The image is rebuilt whole: it is short, and a hello is made once per connection.
bool WCXMLWireMsgHello::BuildImage() {
  char tail[kTailSize];
  int length = std::snprintf(tail, sizeof tail, " %s v%u.%02u.%02u v%u.%02u.%02u", mProductID,
                             mMajor1, mMinor1, mPatch1, mMajor2, mMinor2, mPatch2);
  return BuildHead(0, 0, kTypeHello, kAckPositive, kStatusNone, static_cast<uint32_t>(length)) &&
         AppendData(tail, static_cast<uint32_t>(length));
}
