// rescomp: builds a resource container from a resource source (XML).
//
//   rescomp --out FILE [options] [SOURCE.xml]     a stand-alone container
//   rescomp --append FILE [options] [SOURCE.xml]  appended to a built program
//                                                 (replacing one appended
//                                                 before)
// options (a version block when the source has none; missing values of a
// source's <version> come from them too):
//   --default-version 1.2.3.4   version numbers
//   --default-name NAME         the device file name, e.g. "QuilmoStart.exe"
//   --default-type app|dll      file type (default: from the name)
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "ce/rescontainer.h"
#include "compiler.h"
#include "version.h"

namespace fs = std::filesystem;

namespace {

int Usage(const std::string& why) {
  std::cerr << "rescomp: " << why << "\n"
            << "usage: rescomp (--out FILE | --append FILE) [--default-version 1.2.3.4]\n"
            << "               [--default-name NAME] [--default-type app|dll] [SOURCE.xml ...]\n";
  return 2;
}

int Fail(const std::string& message) {
  std::cerr << "rescomp: " << message << "\n";
  return 1;
}

// Writes bytes to path through a temporary file in the same folder, keeping
// the permissions of an existing file.
bool WriteReplacing(const fs::path& path, const std::string& head, const std::string& tail,
                    std::string* error) {
  const fs::path tmp = path.string() + ".rescomp-tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(head.data(), static_cast<std::streamsize>(head.size())) ||
        !out.write(tail.data(), static_cast<std::streamsize>(tail.size())) || !out.flush()) {
      *error = "cannot write \"" + tmp.string() + "\"";
      std::error_code ec;
      fs::remove(tmp, ec);
      return false;
    }
  }
  std::error_code ec;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) ::chmod(tmp.c_str(), st.st_mode & 07777);
  fs::rename(tmp, path, ec);
  if (ec) {
    *error = "cannot replace \"" + path.string() + "\": " + ec.message();
    fs::remove(tmp, ec);
    return false;
  }
  return true;
}

bool ReadFile(const fs::path& path, uint64_t limit, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(static_cast<size_t>(limit), '\0');
  return static_cast<bool>(in.read(out->data(), static_cast<std::streamsize>(limit)));
}

}  // namespace

int main(int argc, char** argv) {
  std::string outPath, appendPath;
  std::vector<std::string> sources;
  rescomp::VersionDefaults defaults;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) return false;
      *v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--out") {
      if (!value(&outPath)) return Usage("--out needs a file");
    } else if (a == "--append") {
      if (!value(&appendPath)) return Usage("--append needs a file");
    } else if (a == "--default-version") {
      if (!value(&v) || !rescomp::ParseVersionNumbers(v, defaults.numbers))
        return Usage("--default-version needs numbers like 1.2.3.4");
      defaults.haveNumbers = true;
    } else if (a == "--default-name") {
      if (!value(&defaults.deviceName) || defaults.deviceName.empty())
        return Usage("--default-name needs a name");
    } else if (a == "--default-type") {
      if (!value(&defaults.fileType) || (defaults.fileType != "app" && defaults.fileType != "dll"))
        return Usage("--default-type needs app or dll");
    } else if (a == "-h" || a == "--help") {
      return Usage("resource compiler");
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option " + a);
    } else {
      sources.push_back(a);
    }
  }
  if (outPath.empty() == appendPath.empty()) return Usage("give exactly one of --out and --append");
  if (sources.empty() && !defaults.haveNumbers) return Usage("nothing to compile: no source and no --default-version");

  std::vector<ce::res::Resource> resources;
  std::string error;
  // Several sources make one library; an id given twice is refused by the container.
  for (const auto& source : sources) {
    std::vector<ce::res::Resource> part;
    if (!rescomp::CompileSource(source, defaults, &part, &error)) return Fail(error);
    for (auto& r : part) resources.push_back(std::move(r));
  }
  bool haveVersion = false;
  for (const auto& r : resources) haveVersion = haveVersion || r.type == ce::res::kTypeVersion;
  if (!haveVersion && defaults.haveNumbers) {
    ce::res::Resource version;
    if (!rescomp::DefaultVersionResource(defaults, &version, &error)) return Fail(error);
    resources.push_back(std::move(version));
  }
  std::string container;
  if (!ce::res::BuildContainer(std::move(resources), &container, &error))
    return Fail((sources.size() == 1 ? sources.front() + ": " : std::string()) + error);

  if (!outPath.empty()) {
    if (!WriteReplacing(outPath, container, ce::res::MakeTrailer(0, static_cast<uint32_t>(container.size())),
                        &error))
      return Fail(error);
    return 0;
  }

  // Appending: keep the program up to an earlier container, then add ours.
  std::error_code ec;
  const auto size = fs::file_size(appendPath, ec);
  if (ec) return Fail("cannot read \"" + appendPath + "\": " + ec.message());
  ce::res::ContainerSpan span;
  uint64_t keep = size;
  switch (ce::res::LocateContainer(appendPath, &span)) {
    case ce::res::Locate::kFound: keep = span.offset; break;
    case ce::res::Locate::kNone: break;
    case ce::res::Locate::kIoError: return Fail("cannot read \"" + appendPath + "\"");
  }
  if (keep + container.size() > 0xFFFFFFFFull) return Fail("\"" + appendPath + "\" is too large");
  std::string head;
  if (!ReadFile(appendPath, keep, &head)) return Fail("cannot read \"" + appendPath + "\"");
  const std::string tail =
      container + ce::res::MakeTrailer(static_cast<uint32_t>(keep), static_cast<uint32_t>(container.size()));
  if (!WriteReplacing(appendPath, head, tail, &error)) return Fail(error);
  return 0;
}
