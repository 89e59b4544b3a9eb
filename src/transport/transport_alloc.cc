#include "transport/transport_alloc.h"

#include <atomic>
#include <new>

namespace owc {

namespace {

std::atomic<TransportAllocHook> sAllocHook{nullptr};

}  // namespace

uint8_t* NewBytes(size_t n) {
  TransportAllocHook hook = sAllocHook.load(std::memory_order_acquire);
  if (hook != nullptr && !hook(n)) return nullptr;
  return new (std::nothrow) uint8_t[n];
}

void DeleteBytes(uint8_t* bytes) { delete[] bytes; }

void SetTransportAllocHook(TransportAllocHook hook) {
  sAllocHook.store(hook, std::memory_order_release);
}

}  // namespace owc
