// SPDX-License-Identifier: MIT
#include "doc/doc_settings.h"

#include <atomic>

namespace owc {

const char kDefaultMetaNamespace[] = "http://www.veltrane.com/namespaces/meta#";

namespace {

std::atomic<char> sLevelSeparator{kDefaultLevelSeparator};
std::atomic<uint32_t> sEntityRefOutput{kEntityRefEscape};
std::atomic<uint32_t> sReadOptions{0};

}  // namespace

char GetLevelSeparator() { return sLevelSeparator.load(std::memory_order_relaxed); }

void SetLevelSeparator(char separator) {
  sLevelSeparator.store(separator, std::memory_order_relaxed);
}

uint32_t GetEntityRefOutput() { return sEntityRefOutput.load(std::memory_order_relaxed); }

void SetEntityRefOutput(uint32_t mode) { sEntityRefOutput.store(mode, std::memory_order_relaxed); }

uint32_t GetReadOptions() { return sReadOptions.load(std::memory_order_relaxed); }

void SetReadOptions(uint32_t options) {
  sReadOptions.store(options & kReadAllOptions, std::memory_order_relaxed);
}

}  // namespace owc
