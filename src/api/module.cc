// SPDX-License-Identifier: MIT
#include "api/module.h"

#include "doc/doc_settings.h"
#include "runtime/alloc_hook.h"
#include "runtime/clock_thread.h"
#include "runtime/filesystem_tool.h"
#include "runtime/log_file.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

constexpr uintptr_t kCreateLog32 = 0xFFFFFFFFu;
constexpr uint32_t kDefaultLogLevel = 4000;
constexpr char kLogBaseName[] = "xmlwire";

Module* gModule = nullptr;

struct Unloader {
  ~Unloader() {
    if (gModule != nullptr) gModule->Unload();
  }
};

}  // namespace

Module& Module::Get() {
  static Module* module = [] {
    // The clock and the trace state are created first, so they outlive the unloader
    // that stops the threads reading them.
    ModuleClock();
    GetLogObject();
    gModule = new Module;
    static Unloader unloader;
    return gModule;
  }();
  return *module;
}

namespace {

void HoldWireRX(uintptr_t handle, uint32_t flags) {
  Module::Get().ClientThread().SetRXHold(handle, (flags & kHoldReading) != 0,
                                         (flags & kHoldSilence) != 0);
}

void CorkWireTX(uintptr_t handle, bool cork) {
  Module::Get().ClientThread().SetTXCork(handle, cork);
}

}  // namespace

Module::Module()
    : mGateway(
          WireOps{&OrbrixWireOpen, &OrbrixWireTXMsg, &OrbrixWireClose, &HoldWireRX, &CorkWireTX}) {}

void Module::CreateOwnLog() {
  LogFile* log = NewOrNull<LogFile>(kDefaultLogLevel);
  if (log == nullptr) return;  // silent: logging goes only to the trace callback
  std::string folder;
  try {
    filesystemtool::instance().GetLogsFolder(folder);
  } catch (...) {
    folder.clear();
  }
  log->SetFile(folder, kLogBaseName);
  mLog = log;
  mOwnsLog = true;
}

// Clears the module's log object first, under the trace lock, so that no thread is
// writing to it when an owned one is deleted.
void Module::DropLog() {
  LogFile* log = mLog;
  SetLogObject(nullptr);
  mLog = nullptr;
  if (mOwnsLog) delete log;
  mOwnsLog = false;
}

bool Module::Startup(uintptr_t logValue) {
  DropLog();  // a second start-up without shut-down must not leak an owned log
  if (logValue == UINTPTR_MAX || logValue == kCreateLog32) {
    CreateOwnLog();
  } else if (logValue != 0) {
    mLog = reinterpret_cast<LogFile*>(logValue);
  }
  SetLogObject(mLog);
  mClockRunning = ModuleClock().Start(false);
  SetLevelSeparator(kDefaultLevelSeparator);
  mClientThread.Start(false);
  return mClockRunning;
}

// The clock's timer thread is joined by its stop, so no pause for draining timer
// callbacks is needed afterwards.
bool Module::Shutdown() {
  mClientThread.Stop(true);
  ModuleClock().Stop(true);
  mClockRunning = false;
  DropLog();
  return true;
}

void Module::Unload() {
  mGateway.SetShutdownParams(false);
  mGateway.Stop(true);
  mClientThread.Stop(true);
  ModuleClock().Stop(true);
  mClockRunning = false;
}

}  // namespace owc
