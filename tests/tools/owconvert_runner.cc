#include "tools/owconvert_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

#include "support/temp_dir.h"

extern char** environ;

namespace owc_test {

RunResult RunOwconvert(const std::vector<std::string>& args, const std::string& scratch_dir) {
  const std::string out_path = scratch_dir + "/.stdout";
  const std::string err_path = scratch_dir + "/.stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char*> argv;
  std::string program = OWCONVERT_BIN;
  argv.push_back(program.data());
  std::vector<std::string> copies(args);
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);

  RunResult result;
  pid_t pid = 0;
  int wait_status = 0;
  if (posix_spawn(&pid, OWCONVERT_BIN, &actions, nullptr, argv.data(), environ) == 0 &&
      waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status)) {
    result.status = WEXITSTATUS(wait_status);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = TempDir::Read(out_path);
  result.err = TempDir::Read(err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return result;
}

std::string ExamplePath(const std::string& relative) {
  return std::string(OWC_EXAMPLES_DIR) + "/" + relative;
}

std::string ExampleTemplate() { return ExamplePath("templates/story.tmpl"); }
std::string ExampleTable() { return ExamplePath("templates/story.xlate"); }
std::string ExampleStory(const std::string& name) {
  return ExamplePath("stories/" + name + ".xml");
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace owc_test
