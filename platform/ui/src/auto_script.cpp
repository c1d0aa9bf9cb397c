// UI script files: steps for an Automation, the script mode of a program
// (QUILMO_UI_SCRIPT) and its exit code.
#include "win_hooks.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>

#include "ce/controls.h"
#include "ce/process.h"
#include "ce/text.h"
#include "cesim/device.h"
#include "cesim/file.h"
#include "ui/Automation.h"
#include "ui/Loop.h"
#include "ui/ScreenFile.h"
#include "ui/ScriptScope.h"

namespace ui {
namespace test {
namespace {

using Kind = ScriptStep::Kind;

std::string Flag(bool b) { return b ? "1" : "0"; }

// The action of one step on the current dialog.
Automation::DialogAction DialogStep(const ScriptStep& s) {
  const int id = static_cast<int>(s.id);
  switch (s.kind) {
    case Kind::Set:
      return [id, t = s.text](Dialog& d) { d.SetText(id, t); };
    case Kind::Click:
      return [id](Dialog& d) { d.Click(id); };
    case Kind::Check:
      return [id, v = static_cast<int>(s.value)](Dialog& d) { d.SetCheck(id, v); };
    case Kind::Select:
      return [id, v = static_cast<int>(s.value)](Dialog& d) { d.Select(id, v); };
    case Kind::Focus:
      return [id](Dialog& d) { d.Focus(id); };
    case Kind::Tap:
      return [id](Dialog& d) { d.TapControl(id); };
    case Kind::Key:
      return [vk = static_cast<UINT>(s.id)](Dialog& d) { d.Key(vk); };
    case Kind::TreeCheck:
      return [id, t = s.text](Dialog& d) { d.TreeCheck(id, t); };
    case Kind::TreeExpand:
      return [id, t = s.text](Dialog& d) { d.TreeExpand(id, t); };
    case Kind::TreeSelect:
      return [id, t = s.text](Dialog& d) { d.TreeSelect(id, t); };
    case Kind::Menu:
      return [id](Dialog& d) { d.PickMenu(id); };
    case Kind::Tab:
      return [id](Dialog& d) { d.ChooseTab(id); };
    case Kind::DateTime:
      return [id, t = s.time, v = s.value](Dialog& d) { d.SetDateTime(id, t, (v & 1) != 0, (v & 2) != 0); };
    case Kind::ListTap:
    case Kind::ListDoubleTap:
    case Kind::ListActivate:
      return [id, kind = s.kind, row = static_cast<int>(s.value), label = s.text](Dialog& d) {
        const int i = row >= 0 ? row : d.FindItem(id, label);
        if (i < 0) return;
        if (kind == Kind::ListTap) d.TapItem(id, i);
        else if (kind == Kind::ListDoubleTap) d.DoubleTapItem(id, i);
        else d.ActivateItem(id, i);
      };
    default:
      return {};
  }
}

}  // namespace

void AddScriptSteps(Automation& a, const std::vector<ScriptStep>& steps) {
  for (const ScriptStep& s : steps) {
    const int id = static_cast<int>(s.id);
    if (s.kind == Kind::Program) continue;  // a section's head: no step
    switch (s.kind) {
      case Kind::Dialog:
        a.OnDialog(id);
        break;
      case Kind::Set:
      case Kind::Click:
      case Kind::Check:
      case Kind::Select:
      case Kind::Focus:
      case Kind::Tap:
      case Kind::Key:
      case Kind::TreeCheck:
      case Kind::TreeExpand:
      case Kind::TreeSelect:
      case Kind::Menu:
      case Kind::Tab:
      case Kind::DateTime:
      case Kind::ListTap:
      case Kind::ListDoubleTap:
      case Kind::ListActivate:
        a.InDialog(DialogStep(s));
        break;
      case Kind::ExpectMenu:
        a.InDialog([id, want = ce::ToUtf8(s.text), &a](Dialog& d) {
          std::string got;
          if (!d.MenuOf(id, &got)) return a.Fail("expect-menu: no menu bar button " + std::to_string(id) + " with a menu");
          if (got != want) a.Fail("menu " + std::to_string(id) + " reads \"" + got + "\", expected \"" + want + "\"");
        });
        break;
      case Kind::ExpectItem:
        a.InDialog([id, row = static_cast<int>(s.value), label = s.text, col = static_cast<int>(s.column),
                    want = s.expected, &a](Dialog& d) {
          const int i = row >= 0 ? row : d.FindItem(id, label);
          if (i < 0) return;
          const std::u16string got = d.ItemText(id, i, col);
          if (got != want)
            a.Fail("control " + std::to_string(id) + " row " + std::to_string(i) + " column " + std::to_string(col) +
                   " shows \"" + ce::ToUtf8(got) + "\", expected \"" + ce::ToUtf8(want) + "\"");
        });
        break;
      case Kind::Box:
        a.ExpectBox(static_cast<DWORD>(s.id), static_cast<int>(s.value));
        break;
      case Kind::BoxText:
        a.ExpectBoxText(s.text, static_cast<int>(s.value));
        break;
      case Kind::Advance:
        a.AdvanceClock(s.id);
        break;
      case Kind::Bubble:
        a.AnswerBubble(id);
        break;
      case Kind::ExpectText:
        a.InDialog([id, want = s.text, &a](Dialog& d) {
          if (!d.FindControl(id)) return a.Fail("expect-text: no control " + std::to_string(id));
          std::u16string got = d.Text(id);
          if (got != want)
            a.Fail("control " + std::to_string(id) + " shows \"" + ce::ToUtf8(got) + "\", expected \"" +
                   ce::ToUtf8(want) + "\"");
        });
        break;
      case Kind::ExpectVisible:
      case Kind::ExpectEnabled: {
        const bool visible = s.kind == Kind::ExpectVisible;
        a.InDialog([id, visible, want = s.value != 0, &a](Dialog& d) {
          const char* what = visible ? "visible" : "enabled";
          if (!d.FindControl(id)) return a.Fail(std::string("expect-") + what + ": no control " + std::to_string(id));
          bool got = visible ? d.IsVisible(id) : d.IsEnabled(id);
          if (got != want)
            a.Fail("control " + std::to_string(id) + " " + what + " is " + Flag(got) + ", expected " + Flag(want));
        });
        break;
      }
      case Kind::ExpectTree:
        a.InDialog([id, path = s.text, want = static_cast<int>(s.value), &a](Dialog& d) {
          const int got = d.TreeState(id, path);
          if (got < 0) return a.Fail("expect-tree: no item \"" + ce::ToUtf8(path) + "\" in control " + std::to_string(id));
          if (got != want)
            a.Fail("tree " + std::to_string(id) + " item \"" + ce::ToUtf8(path) + "\" has state " + std::to_string(got) +
                   ", expected " + std::to_string(want));
        });
        break;
      case Kind::Card:
        a.Do([name = s.text, insert = s.value != 0](Automation& self) {
          if (!(insert ? ce::InsertStorageCard(name) : ce::RemoveStorageCard(name)))
            self.Fail("card: \\" + ce::ToUtf8(name) + " could not be " + (insert ? "inserted" : "removed"));
        });
        break;
      case Kind::Program:  // skipped above
        break;
      case Kind::Screenshot:
        a.Do([name = ce::ToUtf8(s.text)](Automation& self) {
          ce::Device* dev = ce::Device::Current();
          if (!dev) return self.Fail("screenshot: no device");
          if (!WriteScreenFile(dev->Dir() / (name + ".screen.xml")))
            self.Fail("screenshot: could not write " + name + ".screen.xml");
        });
        break;
    }
    a.Label("line " + std::to_string(s.line));
  }
}

}  // namespace test

namespace {

struct ScriptRun {
  std::mutex m;
  test::Automation* automation = nullptr;  // lives to the end of the program
  bool reported = false;
  // A scoped script: the section this start runs (its steps left at the
  // end wait for the next start instead of failing this one).
  std::unique_ptr<test::SectionClaim> claim;
};
ScriptRun& Run() {
  static ScriptRun* r = new ScriptRun;
  return *r;
}

}  // namespace

int ScriptExitCode() {
  ScriptRun& r = Run();
  std::lock_guard<std::mutex> g(r.m);
  if (!r.automation) return 0;
  const bool stepFailed = !r.automation->Failures().empty();
  if (r.claim) {
    if (!r.reported) r.claim->Release();
    r.reported = true;
    return stepFailed ? 3 : 0;
  }
  std::vector<std::string> remaining = r.automation->Remaining();
  // After a failure the steps left are dropped; only say so otherwise.
  if (!r.reported && !stepFailed && !remaining.empty()) {
    std::cerr << "ui script: " << remaining.front() << ": step not reached (" << remaining.size()
              << " step(s) left)" << std::endl;
  }
  r.reported = true;
  return stepFailed || !remaining.empty() ? 3 : 0;
}

namespace detail {

// A scoped script's section for this start: the claim and the section's
// steps from the first unused one; no claim when no section waits.
bool ClaimSection(const std::vector<test::ScriptSection>& sections, std::unique_ptr<test::SectionClaim>* claim,
                  std::vector<test::ScriptStep>* steps) {
  const char* progress = getenv(test::kScriptStateEnv);
  auto taken = std::make_unique<test::SectionClaim>();
  std::string error;
  if (!taken->Take(sections, ce::OwnProgramPath(), progress ? progress : "", &error)) {
    if (error.empty()) return true;  // nothing for this program
    std::cerr << "ui script: " << error << std::endl;
    return false;
  }
  const std::vector<test::ScriptStep>& all = sections[taken->Section()].steps;
  steps->assign(all.begin() + static_cast<std::ptrdiff_t>(taken->FirstStep()), all.end());
  *claim = std::move(taken);
  return true;
}

bool LoadScriptFromEnvironment() {
  const char* env = getenv("QUILMO_UI_SCRIPT");
  if (!env || !*env) return true;
  const std::string file = env;
  env = file.c_str();
  constexpr size_t kMaxScript = 1 << 20;
  std::ifstream f(env, std::ios::binary);
  std::string text(kMaxScript + 1, '\0');
  if (f) f.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (!f && !f.eof()) {
    std::cerr << "ui script: cannot read " << env << std::endl;
    return false;
  }
  text.resize(static_cast<size_t>(f.gcount()));
  if (text.size() > kMaxScript) {
    std::cerr << "ui script: " << env << " is larger than 1 MiB" << std::endl;
    return false;
  }
  std::vector<test::ScriptStep> steps;
  std::string error;
  if (!test::ParseScript(text, &steps, &error)) {
    std::cerr << "ui script: " << error << std::endl;
    return false;
  }
  // An unscoped script is for this program only, not for the programs it
  // starts; a scoped one reaches them all and picks its section per start.
  const std::vector<test::ScriptSection> sections = test::ScriptSections(steps);
  std::unique_ptr<test::SectionClaim> claim;
  if (sections.empty()) {
    unsetenv("QUILMO_UI_SCRIPT");
  } else {
    steps.clear();
    if (!ClaimSection(sections, &claim, &steps)) return false;
    if (!claim) return true;  // this start runs as without a script
  }
  ScriptRun& r = Run();
  std::lock_guard<std::mutex> g(r.m);
  if (r.automation) {
    std::cerr << "ui script: a script is already running" << std::endl;
    return false;
  }
  // Never destroyed: the hooks must outlive every loop of the program.
  auto* a = new test::Automation;
  a->SetStopOnFailure(true);
  test::SectionClaim* section = claim.get();
  const size_t sectionSize = steps.size();
  a->OnFailure([section, sectionSize](const std::string& failure) {
    std::cerr << "ui script: " << failure << std::endl;
    // The failure ends the section: its steps left are dropped.
    if (section) section->Used(sectionSize);
  });
  if (section) a->OnProgress([section](size_t used) { section->Used(used); });
  test::AddScriptSteps(*a, steps);
  r.automation = a;
  r.claim = std::move(claim);
  SetMode(Mode::Script);
  return true;
}

}  // namespace detail
}  // namespace ui
