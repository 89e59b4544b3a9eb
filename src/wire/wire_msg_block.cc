// SPDX-License-Identifier: MIT
#include <cstdio>

#include "owclient/wire_messages.h"

namespace {

constexpr uint32_t kMarkerLength = 4;

}  // namespace

WCXMLWireMsgRequestBlockAck::WCXMLWireMsgRequestBlockAck() noexcept
    : mBlockNumber(0), mData(nullptr), mDataLength(0), mLastBlock(0) {}

WCXMLWireMsgRequestBlockAck::~WCXMLWireMsgRequestBlockAck() = default;

// One allocation sized for the whole image, then plain copies: the receive path builds
// one of these per block at full line rate.
bool WCXMLWireMsgRequestBlockAck::SetInfo(uint32_t sessionID, uint32_t blockNumber,
                                          uint16_t dataLength, const void* data,
                                          uint8_t lastBlock) {
  mBlockNumber = blockNumber;
  mDataLength = dataLength;
  mLastBlock = lastBlock;
  mData = nullptr;

  char number[16];
  int numberLength = std::snprintf(number, sizeof number, "%u:", blockNumber);
  const unsigned char length[2] = {static_cast<unsigned char>(dataLength >> 8),
                                   static_cast<unsigned char>(dataLength & 0xFF)};
  uint32_t spare = static_cast<uint32_t>(numberLength) + sizeof length + dataLength + kMarkerLength;
  if (!BuildHead(1, sessionID, kTypeBlock, kAckPositive, kStatusNone, spare) ||
      !AppendData(number, static_cast<uint32_t>(numberLength)) ||
      !AppendData(length, sizeof length)) {
    return false;
  }
  uint32_t dataOffset = GetMsgLen() - 1;
  if (!AppendData(data, dataLength) ||
      !AppendData(lastBlock == 1 ? "BLKe" : "BLKm", kMarkerLength)) {
    return false;
  }
  mData = reinterpret_cast<const uint8_t*>(GetMsgBuf()) + dataOffset;
  return true;
}
