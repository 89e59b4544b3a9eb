// SPDX-License-Identifier: MIT
// A nats-server with JetStream for a test: on a loopback address and a free port, with its
// store in a temporary folder, killed and restarted on demand, stopped at the end.
#ifndef TESTS_TOOLS_JETSTREAM_NATS_SERVER_H_
#define TESTS_TOOLS_JETSTREAM_NATS_SERVER_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace owc_test {

// The nats-server program, or "" when it is not installed.
inline std::string FindNatsServer() {
  std::vector<std::string> dirs{"/usr/sbin", "/usr/bin", "/usr/local/bin", "/usr/local/sbin"};
  if (const char* path = std::getenv("PATH")) {
    std::string all = path;
    for (size_t start = 0; start <= all.size();) {
      size_t colon = all.find(':', start);
      if (colon == std::string::npos) colon = all.size();
      dirs.insert(dirs.begin(), all.substr(start, colon - start));
      start = colon + 1;
    }
  }
  for (const auto& dir : dirs) {
    std::string candidate = dir + "/nats-server";
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// A port nobody listens on now at `address` (the kernel's pick, released at once).
inline int FreePort(const std::string& address) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  socklen_t len = sizeof sa;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
    port = ntohs(sa.sin_port);
  }
  close(fd);
  return port;
}

inline bool CanConnect(const std::string& address, int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  close(fd);
  return ok;
}

class NatsServer {
 public:
  // `routes`: the cluster's other members as "address:clusterPort" (none: a lone server).
  NatsServer(std::string name, std::string address, int maxPayload)
      : mName(std::move(name)), mAddress(std::move(address)), mMaxPayload(maxPayload) {
    char dir[] = "/tmp/owc-nats-XXXXXX";
    if (mkdtemp(dir) != nullptr) mDir = dir;
    mPort = FreePort(mAddress);
    mClusterPort = FreePort(mAddress);
  }
  ~NatsServer() {
    Kill();
    if (!mDir.empty()) std::system(("rm -rf '" + mDir + "'").c_str());
  }

  const std::string& Address() const { return mAddress; }
  int Port() const { return mPort; }
  int ClusterPort() const { return mClusterPort; }
  std::string Url() const { return "nats://" + mAddress + ":" + std::to_string(mPort); }
  std::string Route() const { return mAddress + ":" + std::to_string(mClusterPort); }
  std::string LogPath() const { return mDir + "/server.log"; }
  void SetRoutes(std::vector<std::string> routes) { mRoutes = std::move(routes); }

  // Starts it (again, on the same port and store) and waits until it takes connections.
  bool Start() {
    WriteConfig();
    std::string binary = FindNatsServer();
    std::string config = mDir + "/server.conf";
    std::string log = LogPath();
    mPid = fork();
    if (mPid == 0) {
      int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      execl(binary.c_str(), binary.c_str(), "-c", config.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200; ++i) {  // at most 10 s
      if (CanConnect(mAddress, mPort)) return true;
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
    std::ofstream out(mDir + "/server.conf", std::ios::trunc);
    out << "server_name: " << mName << "\n"
        << "listen: " << mAddress << ":" << mPort << "\n"
        << "max_payload: " << mMaxPayload << "\n"
        << "jetstream { store_dir: \"" << mDir << "/store\" }\n";
    if (!mRoutes.empty()) {
      out << "cluster {\n  name: owc\n  listen: " << Route() << "\n  routes: [\n";
      for (const auto& route : mRoutes) out << "    nats-route://" << route << "\n";
      out << "  ]\n}\n";
    }
  }

  std::string mName;
  std::string mAddress;
  int mMaxPayload;
  std::string mDir;
  int mPort = 0;
  int mClusterPort = 0;
  std::vector<std::string> mRoutes;
  pid_t mPid = -1;
};

}  // namespace owc_test

#endif  // TESTS_TOOLS_JETSTREAM_NATS_SERVER_H_
