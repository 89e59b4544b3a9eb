// SPDX-License-Identifier: MIT
// The abstract base of a byte transport: receive time-out, byte accounting and rates,
// send pacing, the overflow buffer of accepted-but-unsent bytes, the last socket error,
// an auxiliary buffer and a list of registered callbacks.
//
// Threads: a port is driven by one I/O thread (the wire-client thread). Statistics,
// time-outs, the pace rate, the last error and the callbacks may be read or set from
// other threads; the overflow and auxiliary buffers belong to the I/O thread alone.
#ifndef OWCLIENT_TRANSPORT_IO_PORT_H
#define OWCLIENT_TRANSPORT_IO_PORT_H

#include <cstdint>

#include "runtime/dl_list.h"
#include "runtime/named_mutex.h"
#include "runtime/tick_time.h"
#include "transport/io_port_stats.h"

namespace owc {

// A registered notification target: Notify(a, b) calls function(context, a, b).
class IOPortCallbackInfo {
 public:
  using Function = void (*)(void* context, uint32_t value1, uint32_t value2);

  IOPortCallbackInfo() = default;
  IOPortCallbackInfo(Function function, void* context) : mFunction(function), mContext(context) {}
  IOPortCallbackInfo(const IOPortCallbackInfo&) = default;
  IOPortCallbackInfo& operator=(const IOPortCallbackInfo&) = default;
  virtual ~IOPortCallbackInfo() = default;

  bool operator==(const IOPortCallbackInfo& o) const {
    return mFunction == o.mFunction && mContext == o.mContext;
  }

  Function mFunction = nullptr;
  void* mContext = nullptr;
};

class IOPort {
 public:
  // Length of the receive and send accounting windows.
  static constexpr uint32_t kWindowMs = 10000;
  static constexpr uint32_t kNoError = 0xFFFFFFFFu;

  IOPort();
  IOPort(const IOPort&) = delete;
  IOPort& operator=(const IOPort&) = delete;
  virtual ~IOPort();

  // Send limit in bits per second, 0 for none; a new rate starts a new window at once.
  virtual void SetPaceRate(uint32_t bitsPerSecond);
  virtual uint32_t GetPaceRate();
  virtual TickTime GetLastTXTime();
  // A time-out of ms milliseconds of silence, counted from now; 0 for none.
  virtual void SetRXTimeout(uint32_t ms);
  virtual void ClearRXTimeout();
  // False once the time-out is set and has passed with no byte received.
  virtual bool IsRXTimeOK();
  virtual void SetLastError(uint32_t code);
  // The last socket error, kNoError when none was recorded.
  virtual uint32_t GetLastError();
  // A snapshot with averages since the start time; without pacing the send rate reads as
  // the send average. Callable from any thread.
  virtual bool GetStats(IOPortStats& out);
  // The transport's own meaning; false in the base.
  virtual bool Close();
  virtual bool CheckConnection();
  virtual bool IsOpen() const;
  virtual bool IsTXReady();
  virtual bool IsRXReady();

  uint32_t GetRXTimeout();

  // Accounting after every receive and send; 0 only rolls a due window. I/O thread.
  void CountRX(uint32_t bytes);
  void CountTX(uint32_t bytes);
  // How many of bytes may be sent now under the pace. I/O thread.
  uint32_t GetPaceAllowance(uint32_t bytes);
  // Statistics start time = now; called when the transport opens.
  void ResetStatsStart();

  // Overflow buffer, I/O thread only. Add appends (false, logged, content kept, when
  // memory ran out); Wrote removes n sent bytes from the front (false, logged, when n
  // exceeds the content).
  bool AddToOverflowBuf(const uint8_t* data, uint32_t n);
  bool WroteOverflowBuf(uint32_t n);
  bool HasOverflow() const { return mOverflowLen != 0; }
  const uint8_t* GetOverflowBuf() const { return mOverflowBuf; }
  uint32_t GetOverflowLen() const { return mOverflowLen; }
  void ClearOverflow();

  // Auxiliary buffer, I/O thread only. Puts fail outside the allocated size and set the
  // used count to the end of what they wrote.
  bool AuxBufInit(uint32_t size);
  bool AuxBufPut(uint32_t offset, const uint8_t* data, uint32_t n);
  bool AuxBufPutByte(uint32_t offset, uint8_t byte);
  // Sets the used count, limited to the size; returns the size.
  uint32_t AuxBufSetUsed(uint32_t n);
  const uint8_t* GetAuxBuf() const { return mAuxBuf; }
  uint32_t GetAuxSize() const { return mAuxSize; }
  uint32_t GetAuxUsed() const { return mAuxUsed; }

  // Callbacks: Register keeps a copy (false, logged, when memory ran out); Unregister
  // drops the first equal one; Notify calls each in registration order with mMtxData
  // held: a callback may use the port, but must not register or unregister, nor wait for
  // another thread that uses the port.
  bool Register(const IOPortCallbackInfo& info);
  void Unregister(const IOPortCallbackInfo& info);
  void Notify(uint32_t value1, uint32_t value2);

 private:
  void RollRXWindow(const TickTime& now) OWC_REQUIRES(mMtxStats);
  void RollTXWindow(const TickTime& now, uint32_t paceRate) OWC_REQUIRES(mMtxStats);

  DLList<IOPortCallbackInfo*> mCallbacks;  // owned
  // Guards the pace rate, the receive time-out and times, the last send time, the last
  // error and the callbacks.
  NamedMutex mMtxData{"IOPort::mMtxData"};
  // Guards mStats and the window counters: GetStats may roll the receive window from
  // another thread. Never held together with mMtxData.
  NamedMutex mMtxStats{"IOPort::mMtxStats"};
  IOPortStats mStats OWC_GUARDED_BY(mMtxStats);
  uint32_t mLastError OWC_GUARDED_BY(mMtxData) = kNoError;
  uint32_t mPaceRate OWC_GUARDED_BY(mMtxData) = 0;
  uint32_t mOverflowLen = 0;
  uint8_t* mOverflowBuf = nullptr;
  uint8_t* mAuxBuf = nullptr;
  uint32_t mAuxSize = 0;
  uint32_t mAuxUsed = 0;
  TickTime mLastRXTime;
  uint32_t mRXTimeoutMs = 0;
  uint32_t mRXWindowBytes = 0;
  TickTime mRXWindowStart;
  TickTime mLastTXTime;
  uint32_t mTXBudget = 0;
  uint32_t mTXWindowBytes = 0;  // never above mTXBudget
  TickTime mTXWindowStart;
};

}  // namespace owc

#endif  // OWCLIENT_TRANSPORT_IO_PORT_H
