// UI script files: steps for an Automation, the script mode of a program
// (QUILMO_UI_SCRIPT) and its exit code.
#include "win_hooks.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>

#include "ce/controls.h"
#include "ce/text.h"
#include "cesim/device.h"
#include "cesim/file.h"
#include "ui/Automation.h"
#include "ui/Loop.h"
#include "ui/ScreenFile.h"

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
    case Kind::Key:
      return [vk = static_cast<UINT>(s.id)](Dialog& d) { d.Key(vk); };
    case Kind::Menu:
      return [id](Dialog& d) { d.PickMenu(id); };
    case Kind::Tab:
      return [id](Dialog& d) { d.ChooseTab(id); };
    case Kind::DateTime:
      return [id, t = s.time, v = s.value](Dialog& d) { d.SetDateTime(id, t, (v & 1) != 0, (v & 2) != 0); };
    default:
      return {};
  }
}

}  // namespace

void AddScriptSteps(Automation& a, const std::vector<ScriptStep>& steps) {
  for (const ScriptStep& s : steps) {
    const int id = static_cast<int>(s.id);
    switch (s.kind) {
      case Kind::Dialog:
        a.OnDialog(id);
        break;
      case Kind::Set:
      case Kind::Click:
      case Kind::Check:
      case Kind::Select:
      case Kind::Focus:
      case Kind::Key:
      case Kind::Menu:
      case Kind::Tab:
      case Kind::DateTime:
        a.InDialog(DialogStep(s));
        break;
      case Kind::ExpectMenu:
        a.InDialog([id, want = ce::ToUtf8(s.text), &a](Dialog& d) {
          std::string got;
          if (!d.MenuOf(id, &got)) return a.Fail("expect-menu: no menu bar button " + std::to_string(id) + " with a menu");
          if (got != want) a.Fail("menu " + std::to_string(id) + " reads \"" + got + "\", expected \"" + want + "\"");
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
      case Kind::Card:
        a.Do([name = s.text, insert = s.value != 0](Automation& self) {
          if (!(insert ? ce::InsertStorageCard(name) : ce::RemoveStorageCard(name)))
            self.Fail("card: \\" + ce::ToUtf8(name) + " could not be " + (insert ? "inserted" : "removed"));
        });
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
  std::vector<std::string> remaining = r.automation->Remaining();
  const bool stepFailed = !r.automation->Failures().empty();
  // After a failure the steps left are dropped; only say so otherwise.
  if (!r.reported && !stepFailed && !remaining.empty()) {
    std::cerr << "ui script: " << remaining.front() << ": step not reached (" << remaining.size()
              << " step(s) left)" << std::endl;
  }
  r.reported = true;
  return stepFailed || !remaining.empty() ? 3 : 0;
}

namespace detail {

bool LoadScriptFromEnvironment() {
  const char* env = getenv("QUILMO_UI_SCRIPT");
  if (!env || !*env) return true;
  // The script is for this program only, not for the programs it starts.
  const std::string file = env;
  unsetenv("QUILMO_UI_SCRIPT");
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
  ScriptRun& r = Run();
  std::lock_guard<std::mutex> g(r.m);
  if (r.automation) {
    std::cerr << "ui script: a script is already running" << std::endl;
    return false;
  }
  // Never destroyed: the hooks must outlive every loop of the program.
  auto* a = new test::Automation;
  a->SetStopOnFailure(true);
  a->OnFailure([](const std::string& failure) { std::cerr << "ui script: " << failure << std::endl; });
  test::AddScriptSteps(*a, steps);
  r.automation = a;
  SetMode(Mode::Script);
  return true;
}

}  // namespace detail
}  // namespace ui
