// pkginstall: the device's package installer ("\Windows\pkginstall.exe").
// Command line:
//   install "<device path of a package folder>"
//   uninstall "<package name>"
// It prints one line per step and ends with the result's code
// (pkg::InstallResult: 0 done, 1 cancelled, 2 undone, 3 refused, 4 failed).
#include <iostream>
#include <string>

#include "ce/process.h"
#include "ce/system.h"
#include "ce/text.h"
#include "tools/pkginstall/Installer.h"

namespace {

// The word before the first blank, and the rest without its quotes.
void SplitCommand(std::u16string_view line, std::u16string* verb, std::u16string* argument) {
  const size_t b = line.find_first_not_of(u' ');
  if (b == std::u16string_view::npos) return;
  const size_t e = line.find(u' ', b);
  *verb = std::u16string(line.substr(b, e == std::u16string_view::npos ? e : e - b));
  if (e == std::u16string_view::npos) return;
  std::u16string rest(line.substr(e + 1));
  const size_t first = rest.find_first_not_of(u' ');
  const size_t last = rest.find_last_not_of(u' ');
  if (first == std::u16string::npos) return;
  rest = rest.substr(first, last - first + 1);
  if (rest.size() >= 2 && rest.front() == u'"' && rest.back() == u'"') rest = rest.substr(1, rest.size() - 2);
  *argument = rest;
}

}  // namespace

int WinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  std::u16string verb, argument;
  SplitCommand(commandLine ? commandLine : u"", &verb, &argument);
  const pkg::Report report = [](const std::string& line) {
    std::cout << "pkginstall: " << line << std::endl;
    OutputDebugStringW(ce::FromUtf8("pkginstall: " + line).c_str());
  };
  if (argument.empty() || (verb != u"install" && verb != u"uninstall")) {
    report("usage: install \"PACKAGE FOLDER\" | uninstall \"NAME\"");
    return pkg::kFailed;
  }
  // The installer shows no window of its own: the setup library's boxes
  // have no owner.
  return verb == u"install" ? pkg::InstallPackage(argument, nullptr, report)
                            : pkg::UninstallPackage(argument, nullptr, report);
}
CE_DEVICE_PROGRAM(WinMain)
