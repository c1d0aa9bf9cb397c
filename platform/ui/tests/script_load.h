// The UI script tests' common ground: loading a script's steps into an
// automation (the test fails when the script does not parse), and a fixture
// on a scratch device whose record of what the dialog saw is published
// through the test file's global while a test runs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/TestDevice.h"
#include "ui/Automation.h"

namespace autotest {

inline void LoadScript(ui::test::Automation& a, const std::string& text) {
  std::vector<ui::test::ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ui::test::ParseScript(text, &steps, &error)) << error;
  ui::test::AddScriptSteps(a, steps);
}

template <class Record>
class ScriptTest : public ::testing::Test {
 protected:
  explicit ScriptTest(Record** global) : global_(global) {}
  void SetUp() override { *global_ = &record; }
  void TearDown() override { *global_ = nullptr; }
  void Load(ui::test::Automation& a, const std::string& text) { LoadScript(a, text); }
  quilmo::test::TestDevice device;
  Record record;

 private:
  Record** global_;
};

}  // namespace autotest
