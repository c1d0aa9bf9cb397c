// Runs the device tool as a user would, for the cedev tests.
#pragma once

#include <string>

#include "testkit/RunCommand.h"

namespace cedev_test {

using Result = quilmo::test::CommandResult;

// The tool's path and a trailing space, ready for arguments.
inline std::string Cedev() { return std::string(QUILMO_BIN_DIR) + "/cedev "; }

// Runs cedev with args (shell syntax), stderr merged into the output.
inline Result RunCedev(const std::string& args) { return quilmo::test::RunCommand(Cedev() + args); }

}  // namespace cedev_test
