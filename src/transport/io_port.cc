// SPDX-License-Identifier: MIT
#include "transport/io_port.h"

#include <algorithm>

namespace owc {

namespace {

TickTime Now() {
  TickTime now;
  now.SetNow();
  return now;
}

}  // namespace

IOPort::IOPort() {
  // Both windows start now. Rolled directly rather than through CountTX(0)/CountRX(0),
  // whose "window has passed" test cannot fire during the clock's first 10 seconds.
  TickTime now = Now();
  NamedLock lock(mMtxStats);
  RollTXWindow(now, 0);
  RollRXWindow(now);
}

IOPort::~IOPort() {
  AuxBufInit(0);
  ClearOverflow();
  NamedLock lock(mMtxData);
  while (!mCallbacks.IsEmpty()) delete mCallbacks.RemoveHead();
}

void IOPort::SetPaceRate(uint32_t bitsPerSecond) {
  {
    NamedLock lock(mMtxData);
    mPaceRate = bitsPerSecond;
  }
  // The new budget applies at once, also in the clock's first 10 seconds.
  TickTime now = Now();
  NamedLock lock(mMtxStats);
  RollTXWindow(now, bitsPerSecond);
}

uint32_t IOPort::GetPaceRate() {
  NamedLock lock(mMtxData);
  return mPaceRate;
}

TickTime IOPort::GetLastTXTime() {
  NamedLock lock(mMtxData);
  return mLastTXTime;
}

void IOPort::SetRXTimeout(uint32_t ms) {
  NamedLock lock(mMtxData);
  mRXTimeoutMs = ms;
  mLastRXTime.SetNow();
}

void IOPort::ClearRXTimeout() {
  NamedLock lock(mMtxData);
  mRXTimeoutMs = 0;
}

uint32_t IOPort::GetRXTimeout() {
  NamedLock lock(mMtxData);
  return mRXTimeoutMs;
}

bool IOPort::IsRXTimeOK() {
  TickTime now = Now();
  NamedLock lock(mMtxData);
  return mRXTimeoutMs == 0 || !(mLastRXTime + mRXTimeoutMs < now);
}

void IOPort::SetLastError(uint32_t code) {
  NamedLock lock(mMtxData);
  mLastError = code;
}

uint32_t IOPort::GetLastError() {
  NamedLock lock(mMtxData);
  return mLastError;
}

bool IOPort::GetStats(IOPortStats& out) {
  TickTime now = Now();
  uint32_t paceRate = GetPaceRate();
  NamedLock lock(mMtxStats);
  if (mRXWindowStart + kWindowMs < now) RollRXWindow(now);
  uint32_t seconds = now.ElapsedSeconds(mStats.mStartTime);
  mStats.mRXAverage = seconds != 0 ? mStats.mRXTotal / seconds : 0;
  mStats.mTXAverage = seconds != 0 ? mStats.mTXTotal / seconds : 0;
  out = mStats;
  // Without pacing the window bytes are held at the budget of 0, so the windowed send
  // rate is always 0; the average is the meaningful figure.
  if (paceRate == 0) out.mTXRate = out.mTXAverage;
  return true;
}

bool IOPort::Close() { return false; }
bool IOPort::CheckConnection() { return false; }
bool IOPort::IsOpen() const { return false; }
bool IOPort::IsTXReady() { return false; }
bool IOPort::IsRXReady() { return false; }

void IOPort::CountRX(uint32_t bytes) {
  TickTime now = Now();
  if (bytes > 0) {
    NamedLock lock(mMtxData);
    mLastRXTime = now;
  }
  NamedLock lock(mMtxStats);
  mRXWindowBytes += bytes;
  mStats.mRXTotal += bytes;
  if (mRXWindowStart + kWindowMs < now) RollRXWindow(now);
}

void IOPort::CountTX(uint32_t bytes) {
  TickTime now = Now();
  uint32_t paceRate;
  {
    NamedLock lock(mMtxData);
    if (bytes > 0) mLastTXTime = now;
    paceRate = mPaceRate;
  }
  NamedLock lock(mMtxStats);
  uint64_t windowBytes = static_cast<uint64_t>(mTXWindowBytes) + bytes;
  mTXWindowBytes = static_cast<uint32_t>(std::min<uint64_t>(windowBytes, mTXBudget));
  mStats.mTXTotal += bytes;
  if (mTXWindowStart + kWindowMs < now) RollTXWindow(now, paceRate);
}

uint32_t IOPort::GetPaceAllowance(uint32_t bytes) {
  CountTX(0);
  if (GetPaceRate() == 0) return bytes;
  NamedLock lock(mMtxStats);
  return std::min(bytes, mTXBudget - mTXWindowBytes);
}

void IOPort::ResetStatsStart() {
  NamedLock lock(mMtxStats);
  mStats.mStartTime.SetNow();
}

void IOPort::RollRXWindow(const TickTime& now) {
  mStats.mRXRate = mRXWindowBytes / (kWindowMs / 1000);
  mRXWindowStart = now;
  mRXWindowBytes = 0;
}

void IOPort::RollTXWindow(const TickTime& now, uint32_t paceRate) {
  mStats.mTXRate = mTXWindowBytes / (kWindowMs / 1000);
  mTXWindowStart = now;
  mTXWindowBytes = 0;
  uint64_t budget = static_cast<uint64_t>(paceRate / 8) * (kWindowMs / 1000);
  mTXBudget = static_cast<uint32_t>(std::min<uint64_t>(budget, UINT32_MAX));
}

}  // namespace owc
