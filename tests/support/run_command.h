#pragma once
// Runs a shell command for tests and benchmarks that compare with outside tools (ffprobe).

#include <string>

namespace avitest {

// The command's standard output; `exit_code` receives its exit status (-1 if it could not run).
std::string run_command(const std::string& command, int* exit_code = nullptr);
// True when `tool` is on the PATH.
bool have_tool(const std::string& tool);
// CPU seconds (user + system) of the finished child processes so far: commands timed by the CPU
// they spend, so that a busy machine does not blur a comparison.
double children_cpu_seconds();

}  // namespace avitest
