// SPDX-License-Identifier: MIT
#include <cstdlib>

#include "owclient/wire_messages.h"
#include "runtime/alloc_hook.h"

WCXMLWireMsgFilterReq::WCXMLWireMsgFilterReq() noexcept
    : mFilters(nullptr), mFilterCount(0), mFilterCapacity(0) {}

WCXMLWireMsgFilterReq::~WCXMLWireMsgFilterReq() { std::free(mFilters); }

bool WCXMLWireMsgFilterReq::SetInfo(uint32_t sessionID) {
  mFilterCount = 0;
  return SetHeader(1, sessionID, kTypeFilter, kAckNone, kStatusNone);
}

bool WCXMLWireMsgFilterReq::AddFilter(uint32_t requestType) {
  if (!AppendArg(GetRequestKeyword(requestType))) return false;
  if (mFilterCount == mFilterCapacity) {
    uint32_t capacity = mFilterCapacity == 0 ? 4 : 2 * mFilterCapacity;
    void* filters = owc::ReallocOrNull(mFilters, capacity * sizeof *mFilters);
    if (filters == nullptr) {
      ReleaseImage();
      return false;
    }
    mFilters = static_cast<uint32_t*>(filters);
    mFilterCapacity = capacity;
  }
  mFilters[mFilterCount++] = requestType;
  return true;
}
