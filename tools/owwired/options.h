// Everything that shapes one owwired server: where it listens, what it serves, how it sends,
// which faults it injects, when it ends and where it logs. Filled by ParseCommandLine for the
// executable, or directly by a test that runs the server in-process.
#ifndef OWWIRED_OPTIONS_H_
#define OWWIRED_OPTIONS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace owwired {

// Fault injection for tests. Counts are per connection; a negative count is "off".
struct Faults {
  // Faults apply to the first N connections accepted; 0 means every connection.
  uint32_t faulty_connections = 0;
  // After N messages sent, send nothing more and ignore the client (a hung peer).
  int64_t silent_after = -1;
  // After sending N blocks, flush and close the connection.
  int64_t drop_after_blocks = -1;
  // The Nth RQST of the whole process (counting from 1) is answered "(410) Gone"; once.
  int64_t gone_at_request = -1;
  // After N messages sent, send one garbage message (bytes that start no message).
  int64_t garbage_after = -1;
  // After N messages sent, send one text message of `overlong_size` bytes (NUL included).
  int64_t overlong_after = -1;
  uint32_t overlong_size = 70000;
  // Write every byte with its own send().
  bool one_byte_writes = false;
  // Hold every message back for this long before writing it.
  uint32_t delay_ms = 0;
  // Answer FLTR with "-FLTR" and this status (0: no status); negative: off.
  int reject_filter = -1;
  // Answer USER with "-USER" and this status (0: no status); negative: off.
  int reject_user = -1;
  // After N files delivered on a connection, send DONE, end the session and close.
  int64_t done_after_files = -1;
  // After N messages received, stop reading from the client.
  int64_t stop_reading_after = -1;
  // After sending N blocks, send the head and half the data of the next one, then reset the
  // connection.
  int64_t reset_in_block_after = -1;
  // After sending N blocks, the next block's length field counts more bytes than follow it.
  int64_t overrun_block_after = -1;
  // After N messages sent, send `tiny_messages` heartbeat answers back to back.
  int64_t tiny_messages_after = -1;
  uint32_t tiny_messages = 5000;
};

struct Options {
  // Listening: an IPv4 address in dotted form; port 0 picks a free port (Server::port()).
  std::string address = "127.0.0.1";
  uint16_t port = 39030;

  // The feed, in this order: `files` as given, the spool folder, then generated stories.
  std::vector<std::pair<std::string, std::string>> files;  // name, content
  std::string spool_dir;
  uint32_t generate_stories = 0;
  uint32_t story_size = 2048;
  // Look for new spool files whenever a session has received everything.
  bool rescan = false;

  // Sending.
  uint32_t block_size = 4096;  // 1 to 65535
  bool pipeline = false;       // all blocks of a file without waiting for each ACK
  bool restart_files = false;  // a resumed unfinished file starts again at block 0
  std::string product = "owwired";
  uint32_t first_session_id = 0;  // 0: derived from the wall clock
  uint32_t max_clients = 256;
  // Unsent output per connection above which the client's input is left unread.
  size_t output_limit = 1 << 20;
  uint32_t max_sessions = 10000;

  Faults faults;
  // When set, chooses the faults of each connection (numbered from 1 in order of
  // acceptance) in place of `faults` and `faulty_connections`; called on the loop's thread.
  // The process-wide fault gone_at_request is still read from `faults`.
  std::function<Faults(uint32_t connection)> faults_for_connection;

  // Ending: after one session received every file and sent DONE; after this many seconds
  // without any connection (0: never).
  bool exit_when_done = false;
  uint32_t idle_exit_seconds = 0;

  // Logging: 0 quiet, 1 one line per event, 2 also every message received and sent.
  int verbosity = 1;
  // Receives each log line (no newline) on the server thread; null writes to stderr.
  std::function<void(const std::string&)> log_sink;
  // Milliseconds of a monotonic clock, called on the server thread; null uses the steady
  // clock. Tests move time by swapping in their own and calling Server::Wake().
  std::function<uint64_t()> clock_ms;
  // Called on the loop's thread once send() has taken the last byte of a file's last block,
  // with the file's name and the steady clock (CLOCK_MONOTONIC) in nanoseconds: latency
  // benchmarks compare it with the moment the client hands the file over. Null: off.
  std::function<void(const std::string& file_name, uint64_t monotonic_ns)> on_file_written;
};

// Reads the command line (argv[0] is skipped) into `options`. Returns -1 when the server is
// to run, or the exit status once --help, --version or a usage error was answered.
int ParseCommandLine(int argc, char** argv, Options* options);

// The text of --help above and below its table of options (every option with its default).
std::string UsageText();
std::string EpilogueText();

}  // namespace owwired

#endif  // OWWIRED_OPTIONS_H_
