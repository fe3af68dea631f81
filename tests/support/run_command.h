#pragma once
// Runs a shell command for tests and benchmarks that compare with outside tools (ffprobe).

#include <string>

namespace avitest {

// The command's standard output; `exit_code` receives its exit status (-1 if it could not run).
std::string run_command(const std::string& command, int* exit_code = nullptr);
// True when `tool` is on the PATH.
bool have_tool(const std::string& tool);

}  // namespace avitest
