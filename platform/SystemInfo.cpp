#include "platform/SystemInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxHostPathChars = 2047;

}  // namespace

std::string hostExecutablePath() {
  try {
    char buffer[kMaxHostPathChars];
    // The link's text, cut at the buffer's end when longer (readlink writes no terminator).
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer));
    if (length <= 0) return "unknown";
    return std::string(buffer, static_cast<size_t>(length));
  } catch (const std::exception&) {
    return "unknown";
  }
}

std::string kernelRelease() {
  try {
    utsname name{};
    if (::uname(&name) != 0) return {};
    return name.release;
  } catch (const std::exception&) {
    return {};
  }
}
