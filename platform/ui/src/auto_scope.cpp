// Scoped UI scripts: sections per program start and their progress file,
// shared by the programs of a run (see ui/ScriptScope.h).
#include "ui/ScriptScope.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "ce/text.h"

namespace ui::test {
namespace {

struct Progress {
  size_t used = 0;
  long holder = 0;
};
using ProgressMap = std::map<size_t, Progress>;

// The progress file, open and locked for the life of the object.
class LockedProgress {
 public:
  explicit LockedProgress(const std::string& file) {
    fd_ = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    int rc;
    do rc = flock(fd_, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~LockedProgress() {
    if (fd_ >= 0) close(fd_);  // also drops the lock
  }
  LockedProgress(const LockedProgress&) = delete;
  LockedProgress& operator=(const LockedProgress&) = delete;

  bool ok() const { return fd_ >= 0; }

  ProgressMap Read() const {
    std::string text;
    char buf[4096];
    off_t at = 0;
    for (;;) {
      ssize_t n = pread(fd_, buf, sizeof buf, at);
      if (n <= 0) break;
      text.append(buf, static_cast<size_t>(n));
      at += n;
    }
    ProgressMap map;
    std::istringstream in(text);
    size_t index = 0;
    Progress p;
    while (in >> index >> p.used >> p.holder) map[index] = p;
    return map;
  }

  bool Write(const ProgressMap& map) const {
    std::string text;
    for (const auto& [index, p] : map)
      text += std::to_string(index) + " " + std::to_string(p.used) + " " + std::to_string(p.holder) + "\n";
    if (ftruncate(fd_, 0) != 0) return false;
    return pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
  }

 private:
  int fd_ = -1;
};

bool Alive(long pid) { return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

std::u16string Lower(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return out;
}

}  // namespace

std::vector<ScriptSection> ScriptSections(const std::vector<ScriptStep>& steps) {
  std::vector<ScriptSection> sections;
  for (const ScriptStep& s : steps) {
    if (s.kind == ScriptStep::Kind::Program) {
      sections.push_back({s.text, s.line, {}});
      continue;
    }
    if (sections.empty()) return {};  // unscoped (the parser refuses a mix)
    sections.back().steps.push_back(s);
  }
  return sections;
}

bool ProgramMatches(std::u16string_view programPath, std::u16string_view name) {
  const size_t slash = programPath.find_last_of(u"\\/");
  const std::u16string_view file = slash == std::u16string_view::npos ? programPath : programPath.substr(slash + 1);
  return !name.empty() && Lower(file) == Lower(name);
}

bool SectionClaim::Take(const std::vector<ScriptSection>& sections, std::u16string_view programPath,
                        const std::string& progressFile, std::string* error) {
  file_ = progressFile;
  ProgressMap map;
  std::unique_ptr<LockedProgress> lock;
  if (!file_.empty()) {
    lock = std::make_unique<LockedProgress>(file_);
    if (!lock->ok()) {
      *error = "cannot use the progress file " + file_ + ": " + strerror(errno);
      return false;
    }
    map = lock->Read();
  }
  const long self = static_cast<long>(getpid());
  for (size_t i = 0; i < sections.size(); ++i) {
    if (!ProgramMatches(programPath, sections[i].program)) continue;
    Progress& p = map[i];
    if (p.used >= sections[i].steps.size()) continue;
    if (p.holder != 0 && p.holder != self && Alive(p.holder)) continue;
    p.holder = self;
    section_ = i;
    first_ = p.used;
    if (lock && !lock->Write(map)) {
      *error = "cannot write the progress file " + file_;
      return false;
    }
    return true;
  }
  return false;
}

void SectionClaim::Write(size_t used, bool hold) {
  if (file_.empty()) return;
  LockedProgress lock(file_);
  if (!lock.ok()) return;  // the run's end reports the steps as unused
  ProgressMap map = lock.Read();
  Progress& p = map[section_];
  p.used = std::max(p.used, first_ + used);
  p.holder = hold ? static_cast<long>(getpid()) : 0;
  static_cast<void>(lock.Write(map));  // as above
}

void SectionClaim::Used(size_t used) { Write(used, true); }
void SectionClaim::Release() { Write(0, false); }

std::vector<std::string> UnusedScriptSections(const std::string& scriptFile, const std::string& progressFile) {
  std::ifstream f(scriptFile, std::ios::binary);
  std::stringstream text;
  text << f.rdbuf();
  std::vector<ScriptStep> steps;
  std::string error;
  if (!f || !ParseScript(text.str(), &steps, &error)) return {};  // the programs told already
  const std::vector<ScriptSection> sections = ScriptSections(steps);
  ProgressMap map;
  if (!sections.empty()) {
    LockedProgress lock(progressFile);
    if (lock.ok()) map = lock.Read();
  }
  std::vector<std::string> out;
  for (size_t i = 0; i < sections.size(); ++i) {
    const size_t used = map.count(i) ? map[i].used : 0;
    const size_t size = sections[i].steps.size();
    if (used >= size) continue;
    out.push_back("program " + ce::ToUtf8(sections[i].program) + " (line " + std::to_string(sections[i].line) +
                  "): line " + std::to_string(sections[i].steps[used].line) + ": step not reached (" +
                  std::to_string(size - used) + " step(s) left)");
  }
  return out;
}

}  // namespace ui::test
