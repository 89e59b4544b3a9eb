// owgateway, the built program, against servers that send what no good server would and
// on disks that stop taking data: file names that try to leave the output folder, blocks
// sent twice or skipped, a full disk, a folder that turns read-only. Nothing may be
// written outside the folder, no file may be written wrong, and the files written before
// a disk failure must stay whole. Each test has its own 127.0.0.N (140-149).
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "server.h"
#include "support/temp_dir.h"

namespace {

using owc_test::TempDir;

constexpr uid_t kNobody = 65534;

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// One owgateway process, optionally under a file-size limit (a write past it fails as on
// a full disk) or, when the test runs as root, as the unprivileged user nobody (so that a
// folder's permissions apply to it). Killed and reaped on destruction.
class Gateway {
 public:
  struct Limits {
    rlim_t fileSize = RLIM_INFINITY;
    bool asNobody = false;
  };

  Gateway(const std::vector<std::string>& args, const std::string& scratch, Limits limits) {
    mErrPath = scratch + "/stderr";
    std::vector<std::string> copies = args;
    copies.insert(copies.begin(), OWGATEWAY_BIN);
    std::vector<char*> argv;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out = open((scratch + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err = open(mErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    mPid = fork();
    if (mPid == 0) {
      // Only async-signal-safe calls between fork and exec.
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigaction(SIGXFSZ, &ignore, nullptr);  // a write past the limit fails with EFBIG
      rlimit size{limits.fileSize, limits.fileSize};
      if (limits.fileSize != RLIM_INFINITY) setrlimit(RLIMIT_FSIZE, &size);
      if (limits.asNobody &&
          (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
        _exit(126);
      }
      execv(OWGATEWAY_BIN, argv.data());
      _exit(127);
    }
    close(in);
    close(out);
    close(err);
  }
  ~Gateway() {
    if (mPid > 0 && mStatus == kRunning) {
      kill(mPid, SIGKILL);
      waitpid(mPid, nullptr, 0);
    }
  }
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  void Stop() {
    if (mPid > 0 && mStatus == kRunning) kill(mPid, SIGTERM);
  }
  // The exit status, once the process ended (a safety net, not a timing); -1 otherwise.
  int Wait(int timeoutMs = 15000) {
    WaitUntil(
        [&] {
          int status = 0;
          if (mPid <= 0 || waitpid(mPid, &status, WNOHANG) != mPid) return false;
          mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
          return true;
        },
        timeoutMs);
    return mStatus == kRunning ? -1 : mStatus;
  }
  std::string Err() const { return TempDir::Read(mErrPath); }

 private:
  static constexpr int kRunning = -1000;
  pid_t mPid = -1;
  int mStatus = kRunning;
  std::string mErrPath;
};

// A server that plays a script: the hello, answers to USER, FLTR and HRTB, each RQST
// answered with the next file of the script (or 204), and once the client acknowledges
// the announcement, that file's blocks exactly as scripted, numbers and all.
class ScriptedServer {
 public:
  struct File {
    std::string parent;  // empty: announced with its name alone
    std::string name;
    std::vector<std::pair<uint32_t, std::string>> blocks;  // the last one is marked last
  };

  ScriptedServer(uint32_t address, std::vector<File> files) : mFiles(std::move(files)) {
    mListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(mListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(39030);
    sa.sin_addr.s_addr = htonl(address);
    mBound =
        bind(mListen, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && listen(mListen, 4) == 0;
    if (mBound) mThread = std::thread([this] { Run(); });
  }
  ~ScriptedServer() {
    mStop = true;
    if (mThread.joinable()) mThread.join();
    close(mListen);
  }
  bool Bound() const { return mBound; }
  size_t FilesSent() const { return mSent.load(); }

 private:
  static std::string Text(const std::string& text) { return text + std::string(1, '\0'); }

  void Run() {
    while (!mStop) {
      pollfd p{mListen, POLLIN, 0};
      if (poll(&p, 1, 20) != 1) continue;
      int fd = accept4(mListen, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Serve(fd);
      close(fd);
    }
  }

  bool Send(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  void Serve(int fd) {
    std::string input;
    bool awaitingFileAck = false;
    if (!Send(fd, Text("+Tazu script v1.00.00 v1.00.00"))) return;
    while (!mStop) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) != 1) continue;
      char buf[4096];
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return;
      input.append(buf, static_cast<size_t>(n));
      for (size_t nul; (nul = input.find('\0')) != std::string::npos;) {
        std::string message = input.substr(0, nul);
        input.erase(0, nul + 1);
        size_t colon = message.find(':');
        std::string keyword = message.substr(colon == std::string::npos ? 0 : colon + 1);
        if (!keyword.empty() && (keyword[0] == '+' || keyword[0] == '-')) keyword.erase(0, 1);
        keyword = keyword.substr(0, keyword.find(' '));
        std::string answer;
        if (keyword == "USER" || keyword == "FLTR" || keyword == "HRTB") {
          answer = Text("77:+" + keyword);
        } else if (keyword == "RQST") {
          if (mNext < mFiles.size()) {
            const File& file = mFiles[mNext];
            answer = Text("77:+FILE " + (file.parent.empty() ? "" : file.parent + " ") + file.name);
            awaitingFileAck = true;
          } else {
            answer = Text("77:+RQST (204) No content");
          }
        } else if (keyword == "ACK" && awaitingFileAck) {
          awaitingFileAck = false;
          const File& file = mFiles[mNext++];
          for (size_t i = 0; i < file.blocks.size(); ++i) {
            const std::string& data = file.blocks[i].second;
            answer += "77:+BLK" + std::to_string(file.blocks[i].first) + ":";
            answer += static_cast<char>(data.size() >> 8);
            answer += static_cast<char>(data.size() & 0xFF);
            answer += data + (i + 1 == file.blocks.size() ? "BLKe" : "BLKm") + std::string(1, '\0');
          }
          ++mSent;
        } else if (keyword == "DONE") {
          Send(fd, Text("77:+DONE"));
          return;
        }
        if (!answer.empty() && !Send(fd, answer)) return;
      }
    }
  }

  std::vector<File> mFiles;
  size_t mNext = 0;
  int mListen = -1;
  bool mBound = false;
  std::atomic<bool> mStop{false};
  std::atomic<size_t> mSent{0};
  std::thread mThread;
};

// A folder for the gateway's output, one for its standard output and error, and nothing
// else under the root: what the gateway writes outside "out" shows up beside it.
class OwgatewayHostileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(mRoot.Path().empty());
    mOut = mRoot.File("out");
    mScratch = mRoot.File("scratch");
    ASSERT_EQ(0, mkdir(mOut.c_str(), 0755));
    ASSERT_EQ(0, mkdir(mScratch.c_str(), 0755));
    mAsNobody = geteuid() == 0;
    if (mAsNobody) {
      ASSERT_EQ(0, chmod(mRoot.Path().c_str(), 0755));
      ASSERT_EQ(0, chown(mOut.c_str(), kNobody, kNobody));
    }
  }
  void TearDown() override { chmod(mOut.c_str(), 0755); }

  std::vector<std::string> Args(uint8_t last, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {
        "--server", "127.0.0." + std::to_string(last), "--out", mOut, "--progress", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  std::string Out(const std::string& name) { return TempDir::Read(mOut + "/" + name); }

  TempDir mRoot;
  std::string mOut, mScratch;
  bool mAsNobody = false;
};

TEST_F(OwgatewayHostileTest, HostileNamesAndBadBlocksNeverWriteOutsideOrWrong) {
  const std::string xml = TempDir::Read(std::string(OWC_EXAMPLES_DIR) + "/stories/tea-harvest.xml");
  const std::string rdf = TempDir::Read(std::string(OWC_EXAMPLES_DIR) + "/stories/tea-harvest.rdf");
  auto one = [](const std::string& data) {
    return std::vector<std::pair<uint32_t, std::string>>{{0, data}};
  };
  const std::string longName = std::string(300, 'n') + ".xml";
  const std::vector<ScriptedServer::File> files = {
      {"../escape.xml", "../escape.xml", one(xml)},
      {"../escape.xml", "../escape.rdf", one(rdf)},
      {"", "sub/dir.xml", one("d")},
      {"", mRoot.File("absolute.xml"), one("a")},
      {"", "..", one("p")},
      {"", "bell\x07.xml", one("c")},
      {"", "\x1b[2J.xml", one("e")},
      {"", longName, one("l")},
      {"", "index.html", one("<p>not the index</p>")},
      {"", ".owgateway-session", one("1")},
      {"", "twice.txt", {{0, "one,"}, {1, "two,"}, {1, "two,"}, {2, "three"}}},
      {"", "gap.txt", {{0, "one,"}, {2, "three"}}},
      {"tea-harvest.xml", "tea-harvest.xml", one(xml)},
      {"tea-harvest.xml", "tea-harvest.rdf", one(rdf)},
  };
  ScriptedServer server(0x7F00008C, files);
  ASSERT_TRUE(server.Bound());
  Gateway gateway(Args(140, {"--mode", "2", "--template",
                             std::string(OWC_EXAMPLES_DIR) + "/templates/story.tmpl", "--xlate",
                             std::string(OWC_EXAMPLES_DIR) + "/templates/story.xlate"}),
                  mScratch, {RLIM_INFINITY, mAsNobody});
  ASSERT_TRUE(WaitUntil(
      [&] { return server.FilesSent() == files.size() && Exists(mOut + "/tea-harvest.htm"); }));
  gateway.Stop();
  EXPECT_EQ(0, gateway.Wait());

  EXPECT_EQ((std::set<std::string>{"out", "scratch"}), Entries(mRoot.Path()));
  EXPECT_EQ((std::set<std::string>{".owgateway-session", "index.html", "tea-harvest.htm",
                                   "tea-harvest.rdf", "tea-harvest.xml", "twice.txt"}),
            Entries(mOut));
  EXPECT_EQ("one,two,three", Out("twice.txt"));
  EXPECT_TRUE(xml == Out("tea-harvest.xml"));
  EXPECT_EQ(std::string::npos, Out("index.html").find("not the index"));
  EXPECT_EQ("77\n", Out(".owgateway-session"));
  const std::string err = gateway.Err();
  EXPECT_NE(std::string::npos, err.find("(path separator in name): \"../escape.xml\""));
  EXPECT_NE(std::string::npos, err.find("('..' in name): \"..\""));
  EXPECT_NE(std::string::npos, err.find("(control character in name): \"\\x1B[2J.xml\""));
  EXPECT_NE(std::string::npos, err.find("(name too long)"));
  EXPECT_NE(std::string::npos, err.find("(name reserved for the index)"));
  EXPECT_NE(std::string::npos, err.find("(path separator in name): \"../escape.htm\""));
  // Names are quoted with their control characters escaped, the library's lines included.
  EXPECT_EQ(std::string::npos, err.find_first_of("\x07\x1b"));
  EXPECT_NE(std::string::npos, err.find("lost gap.txt: block 2 came after block 1 was due"));
}

// The disk fills while a big file is written: a file-size limit makes that write fail
// just as ENOSPC would. The gateway reports it and stops without DONE; what it wrote
// stays whole; a restart resumes the session, reports the file it can no longer complete
// and carries on.
TEST_F(OwgatewayHostileTest, AFullDiskStopsTheGatewayAndKeepsWhatItWrote) {
  owwired::Options options;
  options.address = "127.0.0.141";
  options.verbosity = 0;
  options.block_size = 4096;
  std::string big(400000, 'b');
  options.files = {{"s1.xml", std::string(3000, '1')},
                   {"s1.rdf", "<r1/>"},
                   {"s2.xml", std::string(3000, '2')},
                   {"s2.rdf", "<r2/>"},
                   {"big.xml", big},
                   {"s3.xml", std::string(3000, '3')},
                   {"s3.rdf", "<r3/>"}};
  // The first connection is slow, so that the gateway stops while big.xml is under way.
  options.faults.faulty_connections = 1;
  options.faults.delay_ms = 10;
  owwired::Server server(options);
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  {
    Gateway gateway(Args(141), mScratch, {64 * 1024, mAsNobody});
    EXPECT_EQ(1, gateway.Wait());
    const std::string err = gateway.Err();
    EXPECT_NE(std::string::npos,
              err.find("cannot write " + mOut + "/.part-big.xml: File too large"));
    EXPECT_NE(std::string::npos, err.find("stopped because " + mOut + " cannot be written"));
  }
  EXPECT_EQ((std::set<std::string>{".owgateway-session", "index.html", "s1.rdf", "s1.xml", "s2.rdf",
                                   "s2.xml"}),
            Entries(mOut));
  EXPECT_EQ(std::string(3000, '2'), Out("s2.xml"));
  EXPECT_EQ("<r2/>", Out("s2.rdf"));
  EXPECT_NE(std::string::npos, Out("index.html").find("s2"));
  EXPECT_EQ(0u, server.GetCounters().sessions_ended);

  Gateway again(Args(141, {"--count", "1"}), mScratch, {RLIM_INFINITY, mAsNobody});
  EXPECT_EQ(0, again.Wait());
  EXPECT_EQ(1u, server.GetCounters().sessions_resumed);
  EXPECT_EQ(std::string(3000, '3'), Out("s3.xml"));
  EXPECT_FALSE(Exists(mOut + "/big.xml"));
  EXPECT_NE(std::string::npos, again.Err().find("lost big.xml: block "));
  EXPECT_EQ(std::string(3000, '1'), Out("s1.xml"));
}

// The folder turns read-only under a running gateway (permissions apply to it: as root,
// the test runs it as nobody). The next story cannot be written: reported, the gateway
// stops, and the story written before is intact.
TEST_F(OwgatewayHostileTest, AFolderThatTurnsReadOnlyStopsTheGatewayAndKeepsWhatItWrote) {
  const std::string spool = mRoot.File("spool");
  ASSERT_EQ(0, mkdir(spool.c_str(), 0755));
  TempDir::Write(spool + "/a.xml", "<a/>");
  TempDir::Write(spool + "/a.rdf", "<ra/>");
  owwired::Options options;
  options.address = "127.0.0.142";
  options.verbosity = 0;
  options.spool_dir = spool;
  options.rescan = true;
  owwired::Server server(options);
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  Gateway gateway(Args(142), mScratch, {RLIM_INFINITY, mAsNobody});
  // Everything about story a is on disk (the index and the session file are rewritten only
  // when they change), so the next write is the one for story b.
  ASSERT_TRUE(WaitUntil([&] {
    return Exists(mOut + "/.owgateway-session") &&
           Out("index.html").find("a.rdf") != std::string::npos;
  }));
  ASSERT_EQ(0, chmod(mOut.c_str(), 0555));
  TempDir::Write(spool + "/b.xml", "<b/>");
  TempDir::Write(spool + "/b.rdf", "<rb/>");
  EXPECT_EQ(1, gateway.Wait());
  const std::string err = gateway.Err();
  EXPECT_NE(std::string::npos, err.find("cannot open " + mOut + "/.part-b.xml: Permission denied"));
  EXPECT_NE(std::string::npos, err.find("stopped because " + mOut + " cannot be written"));
  EXPECT_EQ((std::set<std::string>{".owgateway-session", "a.rdf", "a.xml", "index.html"}),
            Entries(mOut));
  EXPECT_EQ("<a/>", Out("a.xml"));
  EXPECT_EQ(0u, server.GetCounters().sessions_ended);
}

}  // namespace
