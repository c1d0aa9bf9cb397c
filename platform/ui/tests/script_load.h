// Loads a UI script's steps into an automation for the script tests; the
// test fails when the script does not parse.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/Automation.h"

namespace autotest {

inline void LoadScript(ui::test::Automation& a, const std::string& text) {
  std::vector<ui::test::ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ui::test::ParseScript(text, &steps, &error)) << error;
  ui::test::AddScriptSteps(a, steps);
}

}  // namespace autotest
