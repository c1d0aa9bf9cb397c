// The scope of a UI script over the programs of one device run.
//
// A script that names no program (no `program` line) drives every program
// that reads it, each from its first step: the unscoped form. A script that
// begins with `program NAME` is cut into sections, one per `program` line.
// A section drives one start of the program file NAME (its device path's
// last part, case ignored): a program that starts takes the first section
// of its name that still has steps and that no running program holds, and
// the steps it leaves unused (it ended, or the device was reset) wait for
// the next start of that name. A program for which no section waits runs
// without a script. A failed step ends its section.
//
// Which steps are used is kept in a progress file that the run's programs
// share (QUILMO_UI_SCRIPT_STATE, made empty by `cedev run --ui-script`);
// one line per section begun: "INDEX USED HOLDER" (HOLDER: the host process
// id of the program running the section, 0 for none). Without the file each
// start takes its name's first section from its first step.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/Automation.h"

namespace ui::test {

inline constexpr const char* kScriptStateEnv = "QUILMO_UI_SCRIPT_STATE";

struct ScriptSection {
  std::u16string program;  // file name, as written
  int line = 0;            // of the `program` line
  std::vector<ScriptStep> steps;
};

// The sections of a parsed script; empty for an unscoped script.
std::vector<ScriptSection> ScriptSections(const std::vector<ScriptStep>& steps);

// Whether a device program path runs the program file `name`.
bool ProgramMatches(std::u16string_view programPath, std::u16string_view name);

// One start's claim on a section, kept in the progress file.
class SectionClaim {
 public:
  // Claims the first section for programPath that has steps left and no
  // live holder; false when none waits (or the file cannot be used: *error).
  bool Take(const std::vector<ScriptSection>& sections, std::u16string_view programPath,
            const std::string& progressFile, std::string* error);
  size_t Section() const { return section_; }
  // The first step of the section this start runs.
  size_t FirstStep() const { return first_; }
  // Records that `used` steps of the section are used (from its start).
  void Used(size_t used);
  // Ends the claim: the section's unused steps wait for the next start.
  void Release();

 private:
  void Write(size_t used, bool hold);
  std::string file_;
  size_t section_ = 0;
  size_t first_ = 0;
};

// For `cedev run`'s end: "program NAME (line N): line M: step not reached
// (K step(s) left)" for each section of the script with steps left.
std::vector<std::string> UnusedScriptSections(const std::string& scriptFile, const std::string& progressFile);

}  // namespace ui::test
