// SPDX-License-Identifier: MIT
// Folders and files of the host: the local application data folder, folder-chain
// creation, the executable's folder and unique temporary files.
#ifndef OWCLIENT_PLATFORM_PATHS_H
#define OWCLIENT_PLATFORM_PATHS_H

#include <string>

namespace owc {

// ${XDG_DATA_HOME:-$HOME/.local/share}, created when missing; empty on failure.
std::string LocalAppDataFolder();
// mkdir -p: every missing level is created; folders that exist are success.
bool CreateFolderChain(const std::string& path);
// The folder of the running executable, without a trailing separator; empty if unknown.
std::string ExecutableFolder();
// Creates an empty file "<folder>/<prefix>XXXXXX" with a unique name (mkstemp).
bool MakeUniqueFile(const std::string& folder, const std::string& prefix, std::string& name);

}  // namespace owc

#endif  // OWCLIENT_PLATFORM_PATHS_H
