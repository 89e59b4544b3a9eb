// SPDX-License-Identifier: MIT
// The session id kept in the output folder, so that a restarted owgateway resumes its
// session. The file holds the id and a check line ("52448401\ncheck 1a2b3c4d\n"): a file
// cut short, emptied or overwritten does not pass for another id.
#ifndef OWGATEWAY_SESSION_FILE_H
#define OWGATEWAY_SESSION_FILE_H

#include <cstdint>
#include <mutex>
#include <string>

#include "output_folder.h"

namespace owgateway {

constexpr char kSessionFile[] = ".owgateway-session";

enum class SessionRead { kNone, kRead, kUnreadable };

// kNone: no file; kUnreadable: a file that does not hold a session id as written here.
SessionRead ParseSession(const std::string& text, uint32_t& id);
SessionRead ReadSessionFile(const std::string& path, uint32_t& id);
std::string SessionText(uint32_t id);

// Keeps the session file up to date. The delivery thread saves the id before it writes the
// first block of a session, so that nothing is acknowledged in a session a restart could
// not resume.
//
// Thread-safe.
class SessionKeeper {
 public:
  explicit SessionKeeper(OutputFolder& folder) : mFolder(folder) {}
  // The id the file holds already.
  void Loaded(uint32_t id);
  // Writes id (atomically, durably) unless the file holds it already; false on failure.
  bool Save(uint32_t id, std::string& error);
  // Removes the file: the session ended.
  void Forget();

 private:
  OutputFolder& mFolder;
  std::mutex mMutex;
  uint32_t mSaved = 0;
};

}  // namespace owgateway

#endif  // OWGATEWAY_SESSION_FILE_H
