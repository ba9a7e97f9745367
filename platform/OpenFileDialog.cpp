#include "platform/OpenFileDialog.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <sstream>

namespace {

std::mutex gBackendLock;
OpenFileDialogBackend gBackend;

// More than this on the picker's output is no selection anyone made; it counts as failed.
constexpr size_t kMaxOutputBytes = size_t{1} << 20;

bool hasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

// The program's full path from PATH, "" when it is not installed.
std::string findProgram(const std::string& name) {
  const char* pathVariable = std::getenv("PATH");
  const std::string path = pathVariable != nullptr ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string folder = path.substr(start, end - start);
    if (!folder.empty()) {
      const std::string candidate = folder + "/" + name;
      struct stat info {};
      if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    start = end + 1;
  }
  return {};
}

std::string joined(const std::vector<std::string>& words, const char* separator) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
  return text;
}

std::string withSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// The picker's arguments. Several files may be chosen; one path per output line.
std::vector<std::string> pickerArguments(const std::string& program, bool isZenity, const OpenFileDialogRequest& request) {
  std::vector<std::string> args{program};
  const std::string shown = joined(request.patterns, ";");
  if (isZenity) {
    args.insert(args.end(), {"--file-selection", "--multiple", "--separator=\n"});
    if (!request.initialFolder.empty()) args.push_back("--filename=" + withSlash(request.initialFolder));
    if (!request.patterns.empty()) args.push_back("--file-filter=" + shown + " | " + joined(request.patterns, " "));
  } else {
    args.insert(args.end(), {"--getopenfilename", request.initialFolder.empty() ? "." : request.initialFolder});
    if (!request.patterns.empty()) args.push_back(joined(request.patterns, " ") + "|" + shown);
    args.insert(args.end(), {"--multiple", "--separate-output"});
  }
  return args;
}

// Runs the program and collects its standard output; true when it ended with status 0 (or when
// its status cannot be known because the host reaps its children itself).
bool runProgram(const std::vector<std::string>& args, std::string* output) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    return false;
  }
  if (child == 0) {
    // Only async-signal-safe calls between fork and exec: the host may run other threads.
    const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nothing >= 0) {
      ::dup2(nothing, STDIN_FILENO);
      ::dup2(nothing, STDERR_FILENO);
    }
    ::dup2(pipeEnds[1], STDOUT_FILENO);
    ::close_range(3, ~0u, 0);  // the host's own files and sockets stay out of the picker
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipeEnds[1]);
  bool tooLong = false;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(pipeEnds[0], chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (output->size() + static_cast<size_t>(n) > kMaxOutputBytes) tooLong = true;
    if (!tooLong) output->append(chunk, static_cast<size_t>(n));
  }
  ::close(pipeEnds[0]);
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (tooLong) return false;
  if (waited < 0) return true;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> outputLines(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream stream(output);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

}  // namespace

void setOpenFileDialogBackend(OpenFileDialogBackend backend) {
  std::lock_guard<std::mutex> lock(gBackendLock);
  gBackend = std::move(backend);
}

std::vector<std::string> showOpenFileDialog(const OpenFileDialogRequest& request) {
  try {
    OpenFileDialogBackend backend;
    {
      std::lock_guard<std::mutex> lock(gBackendLock);
      backend = gBackend;
    }
    return backend ? backend(request) : runDesktopFileDialog(request);
  } catch (const std::exception&) {
    return {};
  }
}

std::vector<std::string> runDesktopFileDialog(const OpenFileDialogRequest& request) {
  try {
    if (!hasDisplay()) return {};
    std::string program = findProgram("zenity");
    const bool isZenity = !program.empty();
    if (!isZenity) program = findProgram("kdialog");
    if (program.empty()) return {};
    std::string output;
    if (!runProgram(pickerArguments(program, isZenity, request), &output)) return {};
    return outputLines(output);
  } catch (const std::exception&) {
    return {};
  }
}
