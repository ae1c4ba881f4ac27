// Starting a program from a test and waiting for it, bounded in time.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace lanfeed::testing {

// Runs `program` with `arguments` (each passed as one argument) and waits at
// most `timeout_ms`. Returns its exit code; -1 when it could not be started,
// -2 when it had to be killed after the time-out.
int RunProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               int timeout_ms);

}  // namespace lanfeed::testing
