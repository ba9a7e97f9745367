#pragma once

#include <string>

// What the support text tells about the machine.

// The executable file of the running process (the host), at most 2047 characters; "unknown"
// when the system cannot tell.
std::string hostExecutablePath();

// The kernel release as the system reports it (e.g. "6.1.0-18-amd64"); "" when it cannot.
std::string kernelRelease();
