// SPDX-License-Identifier: MIT
// Everything that shapes one owwired server: where it listens, what it serves, how it sends,
// which faults it injects, when it ends and where it logs. Filled by ParseCommandLine for the
// executable, or directly by a test that runs the server in-process.
#ifndef OWWIRED_OPTIONS_H
#define OWWIRED_OPTIONS_H

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace owwired {

// Fault injection for tests. Counts are per connection; a negative count is "off".
struct Faults {
  // Faults apply to the first N connections accepted; 0 means every connection.
  uint32_t faultyConnections = 0;
  // After N messages sent, send nothing more and ignore the client (a hung peer).
  int64_t silentAfter = -1;
  // After sending N blocks, flush and close the connection.
  int64_t dropAfterBlocks = -1;
  // The Nth RQST of the whole process (counting from 1) is answered "(410) Gone"; once.
  int64_t goneAtRequest = -1;
  // After N messages sent, send one garbage message (bytes that start no message).
  int64_t garbageAfter = -1;
  // After N messages sent, send one text message of `overlongSize` bytes (NUL included).
  int64_t overlongAfter = -1;
  uint32_t overlongSize = 70000;
  // Write every byte with its own send().
  bool oneByteWrites = false;
  // Hold every message back for this long before writing it.
  uint32_t delayMs = 0;
  // Answer FLTR with "-FLTR" and this status (0: no status); negative: off.
  int rejectFilter = -1;
  // Answer USER with "-USER" and this status (0: no status); negative: off.
  int rejectUser = -1;
  // After N files delivered on a connection, send DONE, end the session and close.
  int64_t doneAfterFiles = -1;
  // After N messages received, stop reading from the client.
  int64_t stopReadingAfter = -1;
  // After sending N blocks, send the head and half the data of the next one, then reset the
  // connection.
  int64_t resetInBlockAfter = -1;
  // After sending N blocks, the next block's length field counts more bytes than follow it.
  int64_t overrunBlockAfter = -1;
  // After N messages sent, send `tinyMessages` heartbeat answers back to back.
  int64_t tinyMessagesAfter = -1;
  uint32_t tinyMessages = 5000;
};

struct Options {
  // Listening: an IPv4 address in dotted form; port 0 picks a free port (Server::port()).
  std::string address = "127.0.0.1";
  uint16_t port = 39030;

  // The feed, in this order: `files` as given, the spool folder, then generated stories.
  std::vector<std::pair<std::string, std::string>> files;  // name, content
  std::string spoolDir;
  uint32_t generateStories = 0;
  uint32_t storySize = 2048;
  // Look for new spool files whenever a session has received everything.
  bool rescan = false;

  // Sending.
  uint32_t blockSize = 4096;  // 1 to 65535
  bool pipeline = false;       // all blocks of a file without waiting for each ACK
  bool restartFiles = false;  // a resumed unfinished file starts again at block 0
  std::string product = "owwired";
  uint32_t firstSessionId = 0;  // 0: derived from the wall clock
  uint32_t maxClients = 256;
  // Unsent output per connection above which the client's input is left unread.
  size_t outputLimit = 1 << 20;
  uint32_t maxSessions = 10000;

  Faults faults;
  // When set, chooses the faults of each connection (numbered from 1 in order of
  // acceptance) in place of `faults` and `faultyConnections`; called on the loop's thread.
  // The process-wide fault goneAtRequest is still read from `faults`.
  std::function<Faults(uint32_t connection)> faultsForConnection;

  // Ending: after one session received every file and sent DONE; after this many seconds
  // without any connection (0: never).
  bool exitWhenDone = false;
  uint32_t idleExitSeconds = 0;

  // Logging: 0 quiet, 1 one line per event, 2 also every message received and sent.
  int verbosity = 1;
  // Receives each log line (no newline) on the server thread; null writes to stderr.
  std::function<void(const std::string&)> logSink;
  // Milliseconds of a monotonic clock, called on the server thread; null uses the steady
  // clock. Tests move time by swapping in their own and calling Server::Wake().
  std::function<uint64_t()> clockMs;
  // Called on the loop's thread once send() has taken the last byte of a file's last block,
  // with the file's name and the steady clock (CLOCK_MONOTONIC) in nanoseconds: latency
  // benchmarks compare it with the moment the client hands the file over. Null: off.
  std::function<void(const std::string& fileName, uint64_t monotonicNs)> onFileWritten;
};

// Reads the command line (argv[0] is skipped) into `options`. Returns -1 when the server is
// to run, or the exit status once --help, --version or a usage error was answered.
int ParseCommandLine(int argc, char** argv, Options* options);

// The text of --help above and below its table of options (every option with its default).
std::string UsageText();
std::string EpilogueText();

}  // namespace owwired

#endif  // OWWIRED_OPTIONS_H
