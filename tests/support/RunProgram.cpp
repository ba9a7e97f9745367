#include "support/RunProgram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

extern char** environ;

int RunProgram(const std::vector<std::string>& args, std::string* output) {
  if (args.empty()) return -1;
  char capture[] = "/tmp/oskra-run-XXXXXX";
  const int fd = mkstemp(capture);
  if (fd < 0) return -1;
  close(fd);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, capture, O_WRONLY | O_TRUNC, 0);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  const bool exited = spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
  if (output != nullptr) {
    std::ifstream in(capture);
    output->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::remove(capture);
  return exited ? WEXITSTATUS(status) : -1;
}
