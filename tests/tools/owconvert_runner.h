// Runs the built owconvert binary as a child process and captures what it prints.
#ifndef OWCLIENT_TESTS_TOOLS_OWCONVERT_RUNNER_H
#define OWCLIENT_TESTS_TOOLS_OWCONVERT_RUNNER_H

#include <string>
#include <vector>

namespace owc_test {

struct RunResult {
  int status = -1;  // exit status; -1 if the program did not exit normally
  std::string out;
  std::string err;
};

// Runs owconvert with `args` (no shell involved) and standard input empty. Its standard
// output and error are captured through files in `scratch_dir`.
RunResult RunOwconvert(const std::vector<std::string>& args, const std::string& scratch_dir);

// The example files shipped in examples/, as paths.
std::string ExamplePath(const std::string& relative);
std::string ExampleTemplate();
std::string ExampleTable();
std::string ExampleStory(const std::string& name);  // "harbour-bridge" -> .../name.xml

// The names of the regular files in a folder, sorted.
std::vector<std::string> FilesIn(const std::string& dir);

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_TOOLS_OWCONVERT_RUNNER_H
