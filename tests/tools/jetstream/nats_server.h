// SPDX-License-Identifier: MIT
// A nats-server with JetStream for a test: on a loopback address and a free port, with its
// store in a temporary folder, killed and restarted on demand, stopped at the end.
#ifndef TESTS_TOOLS_JETSTREAM_NATS_SERVER_H_
#define TESTS_TOOLS_JETSTREAM_NATS_SERVER_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/raw_socket.h"
#include "support/temp_dir.h"

namespace owc_test {

// The nats-server program, or "" when it is not installed.
inline std::string FindNatsServer() {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(std::string(path != nullptr ? path : "") +
                         ":/usr/sbin:/usr/bin:/usr/local/bin:/usr/local/sbin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && access((dir + "/nats-server").c_str(), X_OK) == 0) {
      return dir + "/nats-server";
    }
  }
  return "";
}

class NatsServer {
 public:
  NatsServer(std::string name, std::string address, int maxPayload)
      : mName(std::move(name)), mAddress(std::move(address)), mMaxPayload(maxPayload) {
    mPort = Listener(Ipv4Of(mAddress)).Port();  // free now, released at once
    mClusterPort = Listener(Ipv4Of(mAddress)).Port();
  }
  ~NatsServer() { Kill(); }

  std::string Url() const { return "nats://" + mAddress + ":" + std::to_string(mPort); }
  std::string Route() const { return mAddress + ":" + std::to_string(mClusterPort); }
  std::string LogPath() const { return mDir.Path() + "/server.log"; }
  // The cluster's other members as "address:clusterPort" (none: a lone server).
  void SetRoutes(std::vector<std::string> routes) { mRoutes = std::move(routes); }

  // Starts it (again, on the same port and store) and waits until it takes connections.
  bool Start() {
    WriteConfig();
    const std::string binary = FindNatsServer(), config = mDir.Path() + "/server.conf";
    const std::string log = LogPath();
    mPid = fork();
    if (mPid == 0) {
      int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      execl(binary.c_str(), binary.c_str(), "-c", config.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200; ++i) {  // at most 10 s
      if (const int fd = ConnectTo(Ipv4Of(mAddress), mPort); fd >= 0) return close(fd) == 0;
      int status = 0;
      if (waitpid(mPid, &status, WNOHANG) == mPid) {
        mPid = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  // SIGKILL, as a crash would; waits until it is gone.
  void Kill() {
    if (mPid <= 0) return;
    ::kill(mPid, SIGKILL);
    int status = 0;
    waitpid(mPid, &status, 0);
    mPid = -1;
  }

 private:
  void WriteConfig() {
    std::ofstream out(mDir.Path() + "/server.conf", std::ios::trunc);
    out << "server_name: " << mName << "\n"
        << "listen: " << mAddress << ":" << mPort << "\n"
        << "max_payload: " << mMaxPayload << "\n"
        << "jetstream { store_dir: \"" << mDir.Path() << "/store\" }\n";
    if (!mRoutes.empty()) {
      out << "cluster {\n  name: owc\n  listen: " << Route() << "\n  routes: [\n";
      for (const auto& route : mRoutes) out << "    nats-route://" << route << "\n";
      out << "  ]\n}\n";
    }
  }

  std::string mName, mAddress;
  int mMaxPayload;
  TempDir mDir;
  uint16_t mPort = 0, mClusterPort = 0;
  std::vector<std::string> mRoutes;
  pid_t mPid = -1;
};

}  // namespace owc_test

#endif  // TESTS_TOOLS_JETSTREAM_NATS_SERVER_H_
