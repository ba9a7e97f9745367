#pragma once

#include <string>
#include <vector>

// Runs a program (args[0], found on the path when it has no '/') with the test's environment,
// waits for it and returns its exit code; -1 when it could not be started or did not exit
// normally. What it writes to its standard output and error goes into `output` when given.
int RunProgram(const std::vector<std::string>& args, std::string* output = nullptr);
