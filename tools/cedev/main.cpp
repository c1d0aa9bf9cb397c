// cedev: the device tool. Creates the sample device and inspects and
// changes a device from the host side, always through the device API so
// that what it shows is what programs on the device see.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ce/boot.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/msgbox.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/system.h"
#include "ce/time.h"
#include "cesim/boot.h"
#include "cesim/device.h"
#include "cesim/file.h"
#include "cesim/msgbox.h"
#include "cesim/notifystore.h"
#include "cesim/power.h"
#include "cesim/share.h"
#include "tools/cedev/DbCommands.h"
#include "tools/cedev/Install.h"
#include "tools/cedev/NotifyCommands.h"
#include "tools/cedev/SampleDevice.h"
#include "tools/cedev/Screen.h"
#include "ui/ScriptScope.h"

namespace fs = std::filesystem;
using u16 = std::u16string;

namespace {

int Usage() {
  std::cerr << "usage: cedev COMMAND DIR [ARGS]\n"
               "  create DIR [--platform-type TEXT]\n"
               "                                  lay out the sample device (TEXT: its platform type,\n"
               "                                  PocketPC unless given)\n"
               "  ls DIR PATH                     list a device folder\n"
               "  cat DIR PATH                    print a device file\n"
               "  put DIR HOSTFILE PATH           copy a host file onto the device\n"
               "  get DIR PATH HOSTFILE           copy a device file to the host\n"
               "  reg DIR query KEY               show a key's values and subkeys\n"
               "  reg DIR dump KEY                show a key's values and every subkey's, recursively\n"
               "  reg DIR set KEY NAME TYPE DATA  TYPE: sz expand_sz dword binary multi_sz\n"
               "  reg DIR delete KEY [NAME]       delete a key (recursively) or a value\n"
               "  db DIR volumes                  the mounted database volumes\n"
               "  db DIR list [VOLUME]            the databases of a volume (of all stores without one)\n"
               "  db DIR dump VOLUME NAME         a database with its records\n"
               "  db DIR digest                   a hash per database over its records' properties\n"
               "  db DIR delete VOLUME NAME OID   delete one record of a database\n"
               "                                  VOLUME: a volume's path or SystemHeap; --cedb or --edb\n"
               "                                  picks the generation\n"
               "  clock DIR show|set ISO-TIME|advance SECONDS\n"
               "                                  set jumps without firing anything; advance runs the\n"
               "                                  device up to now + SECONDS (run --until)\n"
               "  notify DIR list                 the user notifications, in registration order\n"
               "  notify DIR clear HANDLE         remove one\n"
               "  power DIR on|off|show           turn the device on (a wake-up) or off, or show\n"
               "                                  whether it is on\n"
               "  battery DIR PERCENT [--ac on|off] [--drain PERCENT-PER-HOUR]\n"
               "                                  set the battery from now on\n"
               "  card DIR insert|remove [NAME]   put a storage card in or take it out (default: the\n"
               "                                  profile's first card)\n"
               "  share DIR add NAME HOSTDIR [--offered] | remove NAME | connect NAME |\n"
               "            disconnect NAME | list  network shares: HOSTDIR's files as \\Network\\NAME\n"
               "                                  (--offered: the network offers it, not yet connected)\n"
               "  event DIR N                     signal notification event N and run the device up to now\n"
               "  screenlog DIR                   the message boxes, notification bubbles and sounds\n"
               "                                  of the device\n"
               "  install DIR [PACKAGE|BINDIR]    place the stand-ins and the package installer, then\n"
               "                                  install the product's package (build/package/QuilmoBackup,\n"
               "                                  or BINDIR/../package/QuilmoBackup) or the PACKAGE folder\n"
               "                                  through the device's package installer\n"
               "  uninstall DIR NAME              remove the installed package NAME (\"Quilmo Backup\")\n"
               "  boot [OPTIONS] DIR              boot the device and keep it running until idle\n"
               "  run [OPTIONS] DIR [--until ISO-TIME] [PROGRAM [COMMAND-LINE]]\n"
               "                                  start a program (booting the device when it is down),\n"
               "                                  perform every reset and boot it asks for, until the\n"
               "                                  device is idle or its clock reaches ISO-TIME (then the\n"
               "                                  programs still running go on); COMMAND-LINE is one\n"
               "                                  argument, passed as it stands:\n"
               "                                  run DIR PROGRAM 'LocalBackup \"\\Storage Card\\x.pbf\"'\n"
               "  ps DIR                          the device's process table\n"
               "  screenshot DIR FILE [--scale N] draw the device's screen into a PNG file\n"
               "  screen DIR [--scale N]          show the device's screen live (needs a display)\n"
               "  rotate DIR                      swap the screen's width and height\n"
               "OPTIONS (boot, run): --max-resets N (5), --timeout SECONDS (120, host time),\n"
               "                     --signal-timeout MS (10000), --until ISO-TIME (device time)\n"
               "OPTIONS (run): --ui-script FILE    drive the programs' dialogs with a UI script: without\n"
               "                                   'program' lines every program started by the device\n"
               "                                   runs it from its first step; with them (the script\n"
               "                                   begins with 'program NAME') the steps after a\n"
               "                                   'program NAME' line drive the next start of NAME\n"
               "                                   (\"Halvey.exe\"), the steps a start leaves unused\n"
               "                                   wait for the next start of NAME, and the run fails\n"
               "                                   when steps are left at its end\n"
               "               --screen            show the program's windows (cedev screen DIR)\n"
               "               --count-calls       count the calls of the run's programs that change the\n"
               "                                   device, and print the count\n"
               "               --reset-after N[:KIND]\n"
               "                                   reset the device right after the Nth such call, counted\n"
               "                                   over the whole run (every program, every boot; the call\n"
               "                                   completes, nothing after it runs), then boot and go on;\n"
               "                                   KIND: file (CreateFileW creating or truncating, WriteFile,\n"
               "                                   SetEndOfFile, SetFileTime, SetFileAttributesW, Create/\n"
               "                                   RemoveDirectoryW, DeleteFileW, MoveFileW, CopyFileW), reg\n"
               "                                   (RegCreateKeyExW creating, RegSetValueExW, RegDeleteValueW,\n"
               "                                   RegDeleteKeyW, RegSaveKeyW, RegReplaceKeyW), process\n"
               "                                   (CreateProcessW), any (the default); only calls that\n"
               "                                   succeed count\n";
  return 2;
}

int Fail(const std::string& msg) {
  std::cerr << "cedev: " << msg << "\n";
  return 1;
}

std::string Err(DWORD code) { return ce::DescribeError(code); }

bool OpenDevice(const std::string& dir) {
  std::string problem;
  if (!ce::Device::Use(dir, &problem)) {
    Fail(problem);
    return false;
  }
  return true;
}

u16 Arg(const char* s) { return ce::FromUtf8(s); }

std::string TimeText(const FILETIME& ft) {
  FILETIME local{};
  SYSTEMTIME st{};
  if (!FileTimeToLocalFileTime(&ft, &local) || !FileTimeToSystemTime(&local, &st)) return "(bad time)";
  char buf[64];
  snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
           st.wSecond);
  return buf;
}

std::string AttrText(DWORD a) {
  std::string s;
  s += (a & FILE_ATTRIBUTE_DIRECTORY) ? 'd' : '-';
  s += (a & FILE_ATTRIBUTE_READONLY) ? 'r' : '-';
  s += (a & FILE_ATTRIBUTE_HIDDEN) ? 'h' : '-';
  s += (a & FILE_ATTRIBUTE_SYSTEM) ? 's' : '-';
  s += (a & FILE_ATTRIBUTE_ARCHIVE) ? 'a' : '-';
  s += (a & FILE_ATTRIBUTE_INROM) ? 'R' : '-';
  s += (a & FILE_ATTRIBUTE_TEMPORARY) ? 't' : '-';
  return s;
}

int CmdLs(const std::string& path) {
  u16 dev = Arg(path.c_str());
  DWORD attrs = (dev == u"\\") ? FILE_ATTRIBUTE_DIRECTORY : GetFileAttributesW(dev.c_str());
  if (attrs == 0xFFFFFFFFu) return Fail(path + ": " + Err(GetLastError()));
  u16 pattern = dev;
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) pattern += (pattern.back() == u'\\') ? u"*" : u"\\*";
  WIN32_FIND_DATAW fd{};
  HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_NO_MORE_FILES) return 0;  // an empty folder
    return Fail(path + ": " + Err(GetLastError()));
  }
  do {
    char size[32];
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      snprintf(size, sizeof size, "%12s", "<DIR>");
    else
      snprintf(size, sizeof size, "%12llu",
               (static_cast<unsigned long long>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
    std::cout << AttrText(fd.dwFileAttributes) << " " << size << " " << TimeText(fd.ftLastWriteTime) << " "
              << ce::ToUtf8(fd.cFileName) << "\n";
  } while (FindNextFileW(h, &fd));
  DWORD end = GetLastError();
  FindClose(h);
  if (end != ERROR_NO_MORE_FILES) return Fail(path + ": listing stopped with " + Err(end));
  return 0;
}

bool ReadDeviceFile(const std::string& path, std::string* out) {
  u16 dev = Arg(path.c_str());
  HANDLE h = CreateFileW(dev.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail(path + ": " + Err(GetLastError()));
    return false;
  }
  char buf[65536];
  DWORD got = 0;
  bool ok;
  while ((ok = ReadFile(h, buf, sizeof buf, &got, nullptr)) && got > 0) out->append(buf, got);
  DWORD err = GetLastError();
  CloseHandle(h);
  if (!ok) {
    Fail(path + ": read failed with " + Err(err));
    return false;
  }
  return true;
}

int CmdCat(const std::string& path) {
  std::string data;
  if (!ReadDeviceFile(path, &data)) return 1;
  std::cout.write(data.data(), static_cast<std::streamsize>(data.size()));
  return 0;
}

int CmdGet(const std::string& path, const std::string& hostFile) {
  std::string data;
  if (!ReadDeviceFile(path, &data)) return 1;
  std::ofstream f(hostFile, std::ios::binary | std::ios::trunc);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
  f.close();
  if (!f) return Fail("cannot write " + hostFile);
  return 0;
}

int CmdPut(const std::string& hostFile, const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(hostFile, ec)) return Fail(hostFile + " is a folder: put copies one file");
  std::ifstream f(hostFile, std::ios::binary);
  if (!f) return Fail("cannot read " + hostFile);
  std::stringstream ss;
  ss << f.rdbuf();
  if (!f && !f.eof()) return Fail("cannot read " + hostFile);
  std::string data = ss.str();
  u16 dev = Arg(path.c_str());
  HANDLE h = CreateFileW(dev.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail(path + ": " + Err(GetLastError()));
  DWORD written = 0;
  if (!data.empty() && (!WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
                        written != data.size())) {
    DWORD err = GetLastError();
    CloseHandle(h);
    return Fail(path + ": write failed with " + Err(err));
  }
  if (!CloseHandle(h)) return Fail(path + ": close failed with " + Err(GetLastError()));
  return 0;
}

// ---------------------------------------------------------------- registry

struct RootName {
  const char* shortName;
  const char* longName;
  HKEY key;
};
const RootName kRoots[] = {{"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                           {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                           {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                           {"HKU", "HKEY_USERS", HKEY_USERS}};

bool SplitKey(const std::string& text, HKEY* root, u16* sub, std::string* rootName) {
  std::string head = text.substr(0, text.find('\\'));
  std::string rest = text.size() > head.size() ? text.substr(head.size() + 1) : "";
  for (auto& r : kRoots) {
    if (strcasecmp(head.c_str(), r.shortName) == 0 || strcasecmp(head.c_str(), r.longName) == 0) {
      *root = r.key;
      *sub = Arg(rest.c_str());
      *rootName = r.longName;
      return true;
    }
  }
  return false;
}

const char* TypeName(DWORD t) {
  switch (t) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_NONE: return "REG_NONE";
    default: return "REG_UNKNOWN";
  }
}

std::string ValueText(DWORD type, const std::vector<BYTE>& data) {
  char buf[32];
  auto wide = [&](size_t from, size_t* next) {
    u16 s;
    size_t i = from;
    for (; i + 1 < data.size(); i += 2) {
      char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
      if (!c) break;
      s += c;
    }
    *next = i + 2;
    return ce::ToUtf8(s);
  };
  if ((type == REG_SZ || type == REG_EXPAND_SZ)) {
    size_t next;
    return wide(0, &next);
  }
  if (type == REG_MULTI_SZ) {
    std::string out;
    size_t pos = 0;
    while (pos + 1 < data.size()) {
      size_t next;
      std::string part = wide(pos, &next);
      if (part.empty()) break;
      if (!out.empty()) out += "\\0";
      out += part;
      pos = next;
    }
    return out;
  }
  if (type == REG_DWORD && data.size() == 4) {
    DWORD v = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<DWORD>(data[3]) << 24);
    snprintf(buf, sizeof buf, "0x%08x (%u)", v, v);
    return buf;
  }
  std::string out;
  for (BYTE b : data) {
    snprintf(buf, sizeof buf, "%s%02x", out.empty() ? "" : " ", b);
    out += buf;
  }
  return out;
}

// Shows a key's values, then its subkeys: by name, or (recursive) each
// shown the same way in turn.
int CmdRegQuery(HKEY root, const u16& sub, const std::string& shown, bool recursive = false) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(root, sub.c_str(), 0, 0, &key);
  if (rc != ERROR_SUCCESS) return Fail(shown + ": " + Err(static_cast<DWORD>(rc)));
  std::cout << shown << "\n";
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD nameLen = 256, type = 0, size = 0;
    rc = RegEnumValueW(key, i, name, &nameLen, nullptr, &type, nullptr, &size);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      RegCloseKey(key);
      return Fail("enumerating values: " + Err(static_cast<DWORD>(rc)));
    }
    std::vector<BYTE> data(size);
    DWORD size2 = size;
    rc = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size2);
    if (rc != ERROR_SUCCESS) {
      RegCloseKey(key);
      return Fail("reading value: " + Err(static_cast<DWORD>(rc)));
    }
    data.resize(size2);
    std::cout << "    " << (nameLen ? ce::ToUtf8(u16(name, nameLen)) : "(Default)") << "    " << TypeName(type)
              << "    " << ValueText(type, data) << "\n";
  }
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD nameLen = 256;
    rc = RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      RegCloseKey(key);
      return Fail("enumerating subkeys: " + Err(static_cast<DWORD>(rc)));
    }
    const std::string child = shown + "\\" + ce::ToUtf8(u16(name, nameLen));
    if (!recursive) {
      std::cout << child << "\n";
      continue;
    }
    const u16 childSub = (sub.empty() ? u16() : sub + u"\\") + u16(name, nameLen);
    if (int status = CmdRegQuery(root, childSub, child, true); status != 0) {
      RegCloseKey(key);
      return status;
    }
  }
  RegCloseKey(key);
  return 0;
}

bool ParseRegData(const std::string& type, const std::string& text, DWORD* regType, std::vector<BYTE>* out,
                  std::string* error) {
  auto putWide = [&](const u16& s) {
    for (char16_t c : s) {
      out->push_back(static_cast<BYTE>(c & 0xFF));
      out->push_back(static_cast<BYTE>(c >> 8));
    }
    out->push_back(0);
    out->push_back(0);
  };
  if (type == "sz" || type == "expand_sz") {
    *regType = type == "sz" ? REG_SZ : REG_EXPAND_SZ;
    putWide(Arg(text.c_str()));
  } else if (type == "dword") {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end || errno || v > 0xFFFFFFFFull || text[0] == '-') {
      *error = "bad dword value '" + text + "'";
      return false;
    }
    *regType = REG_DWORD;
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<BYTE>(v >> (8 * i)));
  } else if (type == "binary") {
    *regType = REG_BINARY;
    std::string hex;
    for (char c : text)
      if (!isspace(static_cast<unsigned char>(c)) && c != ',') hex += c;
    if (hex.size() % 2) {
      *error = "binary data needs whole hex bytes";
      return false;
    }
    for (size_t i = 0; i < hex.size(); i += 2) {
      if (!isxdigit(static_cast<unsigned char>(hex[i])) || !isxdigit(static_cast<unsigned char>(hex[i + 1]))) {
        *error = "bad hex byte '" + hex.substr(i, 2) + "'";
        return false;
      }
      out->push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
  } else if (type == "multi_sz") {
    // Parts separated by "\0" in the argument text.
    *regType = REG_MULTI_SZ;
    size_t pos = 0;
    while (pos <= text.size()) {
      size_t sep = text.find("\\0", pos);
      std::string part = text.substr(pos, sep == std::string::npos ? std::string::npos : sep - pos);
      if (!part.empty()) putWide(Arg(part.c_str()));
      if (sep == std::string::npos) break;
      pos = sep + 2;
    }
    out->push_back(0);
    out->push_back(0);
  } else {
    *error = "unknown type '" + type + "' (sz, expand_sz, dword, binary, multi_sz)";
    return false;
  }
  return true;
}

int CmdReg(int argc, char** argv) {
  if (argc < 5) return Usage();
  std::string verb = argv[3];
  HKEY root;
  u16 sub;
  std::string rootName;
  if (!SplitKey(argv[4], &root, &sub, &rootName)) return Fail(std::string("unknown registry root in ") + argv[4]);
  std::string shown = rootName + (sub.empty() ? "" : "\\" + ce::ToUtf8(sub));
  if (verb == "query" && argc == 5) return CmdRegQuery(root, sub, shown);
  if (verb == "dump" && argc == 5) return CmdRegQuery(root, sub, shown, true);
  if (verb == "set" && argc == 8) {
    DWORD type = 0;
    std::vector<BYTE> data;
    std::string error;
    if (!ParseRegData(argv[6], argv[7], &type, &data, &error)) return Fail(error);
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return Fail(shown + ": " + Err(static_cast<DWORD>(rc)));
    u16 name = Arg(argv[5]);
    rc = RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return Fail("setting " + std::string(argv[5]) + ": " + Err(static_cast<DWORD>(rc)));
    return 0;
  }
  if (verb == "delete" && (argc == 5 || argc == 6)) {
    if (argc == 6) {
      HKEY key = nullptr;
      LONG rc = RegOpenKeyExW(root, sub.c_str(), 0, 0, &key);
      if (rc != ERROR_SUCCESS) return Fail(shown + ": " + Err(static_cast<DWORD>(rc)));
      u16 name = Arg(argv[5]);
      rc = RegDeleteValueW(key, name.c_str());
      RegCloseKey(key);
      if (rc != ERROR_SUCCESS) return Fail(std::string(argv[5]) + ": " + Err(static_cast<DWORD>(rc)));
      return 0;
    }
    if (sub.empty()) return Fail("refusing to delete a whole root");
    LONG rc = RegDeleteKeyW(root, sub.c_str());
    if (rc != ERROR_SUCCESS) return Fail(shown + ": " + Err(static_cast<DWORD>(rc)));
    return 0;
  }
  return Usage();
}

// ---------------------------------------------------------------- clock

bool ParseIso(const std::string& s, SYSTEMTIME* st) {
  unsigned y, mo, d, h = 0, mi = 0, se = 0;
  char tail = 0;
  int n = sscanf(s.c_str(), "%u-%u-%u%*[T ]%u:%u:%u%c", &y, &mo, &d, &h, &mi, &se, &tail);
  if (n != 3 && n != 6) return false;
  // Larger numbers would wrap into the 16-bit fields below.
  for (unsigned v : {y, mo, d, h, mi, se})
    if (v > 0xFFFF) return false;
  if (!isdigit(static_cast<unsigned char>(s[0]))) return false;
  *st = SYSTEMTIME{};
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(mo);
  st->wDay = static_cast<WORD>(d);
  st->wHour = static_cast<WORD>(h);
  st->wMinute = static_cast<WORD>(mi);
  st->wSecond = static_cast<WORD>(se);
  FILETIME ft;
  return SystemTimeToFileTime(st, &ft);
}

// The device's time secs seconds from now (UTC); false when that is
// outside the years the clock holds.
bool AdvancedTime(long long secs, SYSTEMTIME* out) {
  constexpr long long kTicksPerSecond = 10000000;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const long long ticks = static_cast<long long>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  long long delta = 0, target = 0;
  if (__builtin_mul_overflow(secs, kTicksPerSecond, &delta) || __builtin_add_overflow(ticks, delta, &target) ||
      target < 0)
    return false;
  FILETIME ft{static_cast<DWORD>(target), static_cast<DWORD>(static_cast<uint64_t>(target) >> 32)};
  // Within the FILETIME range; SetSystemTime then takes the years the
  // clock holds, as clock set does.
  return FileTimeToSystemTime(&ft, out) && out->wYear <= 30827;
}

int64_t MsOfFileTime(const FILETIME& ft) {
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000) - 11644473600000LL;
}

// Runs the device up to untilMs (booting it when it is down), printing what
// happens on it. False when the run failed; *busy tells that another
// process runs the device (which then does the work itself).
bool RunDeviceUpTo(int64_t untilMs, bool* busy) {
  ce::BootOptions opt;
  opt.untilMs = untilMs;
  opt.onLine = [](const std::string& line) {
    if (line.rfind("run: the device clock reached ", 0) != 0) std::cout << line << std::endl;
  };
  ce::BootReport rep;
  const bool ok = ce::RunDevice(opt, &rep);
  *busy = !ok && GetLastError() == ERROR_LOCK_VIOLATION && rep.boots == 0;
  return ok;
}

int CmdClock(int argc, char** argv) {
  if (argc < 4) return Usage();
  std::string verb = argv[3];
  ce::Device* dev = ce::Device::Current();
  if (verb == "set" && argc == 5) {
    SYSTEMTIME st;
    if (!ParseIso(argv[4], &st)) return Fail(std::string("bad time '") + argv[4] + "' (want YYYY-MM-DDTHH:MM:SS)");
    if (!SetLocalTime(&st)) return Fail("setting the clock: " + Err(GetLastError()));
  } else if (verb == "advance" && argc == 5) {
    char* end = nullptr;
    errno = 0;
    long long secs = strtoll(argv[4], &end, 10);
    if (!*argv[4] || *end || errno) return Fail(std::string("bad number of seconds '") + argv[4] + "'");
    SYSTEMTIME st;
    if (!AdvancedTime(secs, &st))
      return Fail(std::string("advancing by ") + argv[4] + " s leaves the years the clock holds (1601 to 30827)");
    FILETIME ft{};
    if (secs < 0) {
      // Back in time: a jump, as clock set.
      if (!SetSystemTime(&st)) return Fail("setting the clock: " + Err(GetLastError()));
    } else if (!SystemTimeToFileTime(&st, &ft)) {
      return Fail("setting the clock: " + Err(GetLastError()));
    } else {
      bool busy = false;
      if (!RunDeviceUpTo(MsOfFileTime(ft), &busy))
        return Fail(busy ? "the clock stays: another process runs the device" : "the run up to that time failed");
    }
  } else if (verb != "show" || argc != 4) {
    return Usage();
  }
  SYSTEMTIME st;
  GetLocalTime(&st);
  char buf[64];
  snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
           st.wSecond);
  std::cout << buf << " (device clock offset " << dev->ClockOffsetMs() / 1000 << " s)\n";
  return 0;
}

// A device-clock time (ms since 1970 UTC) in the device's local time.
std::string DeviceTimeText(int64_t unixMs) {
  constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;
  const uint64_t ticks = kUnixEpochTicks + static_cast<uint64_t>(unixMs) * 10000;
  return TimeText(FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)});
}

int CmdScreenLog() {
  for (const auto& e : ce::ReadScreenLog()) {
    std::cout << DeviceTimeText(e.timeMs) << "  pid " << e.pid << "  " << ce::ToUtf8(e.program) << ": ["
              << ce::ToUtf8(e.caption) << "] " << ce::ToUtf8(e.text) << " (style 0x" << std::hex << e.style
              << std::dec << ", answer " << e.answer << ")\n";
  }
  return 0;
}

// ---------------------------------------------------------------- install, boot, run, ps

std::string InstallerOutcome(unsigned code) {
  switch (code) {
    case 0: return "done";
    case 1: return "cancelled by the setup library";
    case 2: return "undone at the setup library's request";
    case 3: return "refused by the setup library";
    default: return "failed (exit " + std::to_string(code) + ")";
  }
}

int CmdInstall(int argc, char** argv) {
  fs::path bin = cedev::OwnBinDir();
  fs::path package = cedev::ProductPackage(bin);
  if (argc == 4) {
    if (cedev::IsPackageFolder(argv[3])) {
      package = argv[3];
    } else {
      bin = argv[3];
      package = cedev::ProductPackage(bin);
    }
  }
  std::vector<std::string> lines;
  std::string error;
  bool ok = cedev::InstallDeliverables(bin, &lines, &error);
  for (const auto& l : lines) std::cout << l << "\n";
  if (!ok) return Fail(error);
  std::cout << "installing the package " << package.string() << std::endl;
  unsigned code = 0;
  if (!cedev::RunPackageInstall(package, &code, &error)) return Fail(error);
  std::cout << "install: " << InstallerOutcome(code) << "\n";
  return code == 0 ? 0 : 1;
}

int CmdUninstall(const std::string& name) {
  unsigned code = 0;
  std::string error;
  if (!cedev::RunPackageUninstall(name, &code, &error)) return Fail(error);
  std::cout << "uninstall: " << InstallerOutcome(code) << "\n";
  return code == 0 ? 0 : 1;
}

// Reads "N" or "N:KIND" (KIND: file, reg, process or any), N at least 1.
bool ParseResetAfter(const std::string& text, ce::BootOptions* opt) {
  const size_t colon = text.find(':');
  const std::string number = text.substr(0, colon);
  ce::ResetAfter r;
  if (colon != std::string::npos && !ce::ParseCallKind(text.substr(colon + 1), &r.kind)) return false;
  char* end = nullptr;
  errno = 0;
  const long long n = strtoll(number.c_str(), &end, 10);
  if (number.empty() || *end || errno || n < 1) return false;
  r.n = n;
  opt->resetAfter = r;
  return true;
}

// Reads leading --options of boot and run; *next is the first other word.
// uiScript (run only, else null) receives the --ui-script file, until the
// --until time as given.
bool ParseBootOptions(int argc, char** argv, int* next, ce::BootOptions* opt, std::string* uiScript,
                      std::string* until) {
  int i = 2;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0; i += 2) {
    if (strcmp(argv[i], "--count-calls") == 0) {  // the one option without a value
      opt->countCalls = true;
      --i;
      continue;
    }
    if (i + 1 >= argc) break;
    if (strcmp(argv[i], "--reset-after") == 0) {
      if (!ParseResetAfter(argv[i + 1], opt)) return false;
      continue;
    }
    if (strcmp(argv[i], "--ui-script") == 0) {
      if (!uiScript || !*argv[i + 1]) return false;
      *uiScript = argv[i + 1];
      continue;
    }
    if (strcmp(argv[i], "--until") == 0) {
      *until = argv[i + 1];
      continue;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long v = strtoul(argv[i + 1], &end, 10);
    if (!*argv[i + 1] || *end || errno || v > 0x7FFFFFFF) return false;
    std::string o = argv[i];
    if (o == "--max-resets")
      opt->maxResets = static_cast<int>(v);
    else if (o == "--timeout" && v <= 0x7FFFFFFF / 1000)
      opt->runTimeoutMs = static_cast<DWORD>(v * 1000);
    else if (o == "--signal-timeout")
      opt->signalTimeoutMs = static_cast<DWORD>(v);
    else
      return false;
  }
  *next = i;
  return true;
}

std::string ExitText(const ce::StartedProgram& p) {
  const std::optional<DWORD>& code = p.exitCode;
  if (!code) return "still running";
  if (!p.endedBy.empty()) return "ended by " + p.endedBy;
  char buf[48];
  if (*code == CE_EXIT_ABNORMAL)
    snprintf(buf, sizeof buf, "exit 0x%08X (ended abnormally)", *code);
  else
    snprintf(buf, sizeof buf, "exit %u", *code);
  return buf;
}

int PrintRun(bool ok, const ce::BootReport& rep) {
  std::cout << "processes started:\n";
  for (const auto& p : rep.started)
    std::cout << "  pid " << p.pid << "  " << ce::ToUtf8(p.program) << " \"" << ce::ToUtf8(p.commandLine)
              << "\"  [" << p.origin << ", boot " << p.boot << "]  " << ExitText(p) << "\n";
  std::cout << "boots: " << rep.boots << ", resets: " << rep.resets
            << (rep.resetBudgetSpent ? ", stopped: reset budget spent" : "")
            << (rep.timedOut ? ", stopped: time limit reached" : "")
            << (rep.startLimitReached ? ", stopped: start limit reached" : "") << "\n";
  return ok ? 0 : 1;
}

// Device-clock milliseconds (UTC) of a device-local ISO time; false when
// the text is no time.
bool DeviceMsOfLocalIso(const std::string& text, int64_t* ms) {
  SYSTEMTIME st;
  FILETIME local{}, utc{};
  if (!ParseIso(text, &st) || !SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc))
    return false;
  const uint64_t ticks = (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
  *ms = static_cast<int64_t>(ticks / 10000) - 11644473600000LL;
  return true;
}

// A scoped UI script's progress over the run's programs: an empty file in
// the device folder, named to them in the environment.
bool StartScriptProgress(const char* deviceDir, std::string* file) {
  *file = (fs::absolute(deviceDir) / "ui-script.progress").string();
  std::ofstream out(*file, std::ios::trunc);
  if (!out) return false;
  setenv(ui::test::kScriptStateEnv, file->c_str(), 1);
  return true;
}

// The sections of a scoped UI script that the run's programs left unused;
// false when there are any.
bool ReportUnusedScriptSteps(const std::string& script, const std::string& progressFile) {
  const std::vector<std::string> unused = ui::test::UnusedScriptSections(script, progressFile);
  for (const std::string& line : unused) std::cout << "ui script: " << line << "\n";
  return unused.empty();
}

int CmdBootOrRun(int argc, char** argv) {
  const bool run = strcmp(argv[1], "run") == 0;
  ce::BootOptions opt;
  int next = 0;
  std::string uiScript, until, progressFile;
  if (!ParseBootOptions(argc, argv, &next, &opt, run ? &uiScript : nullptr, &until)) return Usage();
  if (next >= argc) return Usage();
  const int dir = next++;
  if (next < argc && strcmp(argv[next], "--until") == 0) {
    if (next + 1 >= argc) return Usage();
    until = argv[next + 1];
    next += 2;
  }
  const int words = argc - next;  // PROGRAM [COMMAND-LINE]
  if (run && words > 2) {
    // The shell split what was meant as one command line: joining the words
    // again would lose the quoting of a path with blanks.
    std::cerr << "cedev: run takes the command line as one argument; quote it:\n"
                 "usage: cedev run [OPTIONS] DIR PROGRAM 'COMMAND LINE'\n"
                 "  e.g. cedev run DIR '\\Program Files\\Quilmo Backup\\Quilmo Backup.exe' "
                 "'LocalBackup \"\\Storage Card\\x.pbf\"'\n";
    return 2;
  }
  if ((run && words == 0 && until.empty()) || (!run && words != 0)) return Usage();
  if (!uiScript.empty()) {
    // The started program reads its UI script from here (and hides it
    // from the programs it starts).
    std::error_code ec;
    fs::path script = fs::absolute(uiScript, ec);
    if (ec || !fs::is_regular_file(script, ec)) return Fail("no UI script file " + uiScript);
    setenv("QUILMO_UI_SCRIPT", script.c_str(), 1);
    uiScript = script.string();
  }
  if (!OpenDevice(argv[dir])) return 1;
  if (!uiScript.empty() && !StartScriptProgress(argv[dir], &progressFile))
    return Fail("cannot write " + progressFile);
  if (!until.empty()) {
    int64_t ms = 0;
    if (!DeviceMsOfLocalIso(until, &ms)) return Fail("bad time '" + until + "' (want YYYY-MM-DDTHH:MM:SS)");
    opt.untilMs = ms;
  }
  opt.onLine = [](const std::string& line) { std::cout << line << std::endl; };
  ce::BootReport rep;
  if (!run) return PrintRun(ce::BootDevice(opt, &rep), rep);
  if (words == 0) return PrintRun(ce::RunDevice(opt, &rep), rep);
  const char* program = argv[next];
  const char* cmdLine = words == 2 ? argv[next + 1] : "";
  bool ok = ce::RunOnDevice(Arg(program), Arg(cmdLine), opt, &rep);
  if (!ok && (rep.started.empty() || rep.programNotStarted))
    return Fail(std::string(program) + ": " + Err(GetLastError()));
  int status = PrintRun(ok, rep);
  if (!uiScript.empty() && !ReportUnusedScriptSteps(uiScript, progressFile)) status = 1;
  // The program this run started failed: an exit code of its own other
  // than 0, or an end that no reset or limit of the run explains.
  for (const auto& p : rep.started) {
    if (p.origin != "run") continue;
    if (p.exitCode && *p.exitCode != 0 && p.endedBy.empty()) {
      std::cout << "run: " << ce::ToUtf8(p.program) << " failed (" << ExitText(p) << ")\n";
      status = 1;
    }
    break;
  }
  return status;
}

int CmdPower(const std::string& state) {
  if (state == "show") {  // only tells; nothing changes
    std::cout << (ce::DeviceIsOn() ? "power: on\n" : "power: off\n");
    return 0;
  }
  if (state == "off") {
    if (!ce::SetDevicePower(false, "cedev power off")) return Fail("turning the device off: " + Err(GetLastError()));
    std::cout << "power: off\n";
    return 0;
  }
  if (state != "on") return Usage();
  if (ce::DeviceIsOn()) {
    std::cout << "power: on already\n";
    return 0;
  }
  if (!ce::SetDevicePower(true, "cedev power on")) return Fail("turning the device on: " + Err(GetLastError()));
  // The wake-up fires now.
  bool busy = false;
  if (RunDeviceUpTo(ce::DeviceNowMs(), &busy)) return 0;
  if (busy) {
    std::cout << "power: on; the process that runs the device fires the wake-up\n";
    return 0;
  }
  return Fail("the run after the wake-up failed");
}

int CmdEvent(const std::string& number) {
  char* end = nullptr;
  errno = 0;
  unsigned long n = strtoul(number.c_str(), &end, 10);
  if (number.empty() || *end || errno || n > 0x7FFFFFFF || number[0] == '-')
    return Fail("bad event number '" + number + "'");
  if (!ce::QueueNotificationEvent(static_cast<DWORD>(n))) return Fail("the event could not be recorded");
  bool busy = false;
  if (RunDeviceUpTo(ce::DeviceNowMs(), &busy)) return 0;
  if (busy) {
    std::cout << "event " << n << ": the process that runs the device fires it\n";
    return 0;
  }
  return Fail("the run after the event failed");
}

bool ParsePercent(const std::string& text, double max, double* out) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
  char* end = nullptr;
  errno = 0;
  double v = strtod(text.c_str(), &end);
  if (*end || errno || v > max) return false;
  *out = v;
  return true;
}

int CmdBattery(int argc, char** argv) {
  double percent = 0, drain = -1;
  if (!ParsePercent(argv[3], 100, &percent)) return Fail(std::string("bad percent '") + argv[3] + "' (0 to 100)");
  ce::Device* dev = ce::Device::Current();
  bool ac = dev->GetProfile().batteryAc;
  for (int i = 4; i < argc; i += 2) {
    if (i + 1 >= argc) return Usage();
    std::string opt = argv[i], value = argv[i + 1];
    if (opt == "--ac" && (value == "on" || value == "off")) {
      ac = value == "on";
    } else if (opt == "--drain") {
      if (!ParsePercent(value, 100000, &drain)) return Fail("bad drain rate '" + value + "' (percent per hour)");
    } else {
      return Usage();
    }
  }
  if (!ce::SetDeviceBattery(percent, ac, drain)) return Fail("setting the battery: " + Err(GetLastError()));
  std::string error;
  if (!dev->UpdateProfile(
          [&](ce::Profile& p) {
            p.batteryPercent = percent;
            p.batteryAc = ac;
            if (drain >= 0) p.batteryDrain = drain;
          },
          &error))
    return Fail("the battery is set, but the profile was not written: " + error);
  SYSTEM_POWER_STATUS_EX st{};
  GetSystemPowerStatusEx(&st, TRUE);
  std::cout << "battery: " << static_cast<int>(st.BatteryLifePercent) << "%, AC " << (ac ? "on" : "off") << "\n";
  return 0;
}

int CmdCard(int argc, char** argv) {
  const std::string verb = argv[3];
  if (verb != "insert" && verb != "remove") return Usage();
  u16 name;
  if (argc == 5) {
    name = Arg(argv[4]);
  } else if (!ce::Device::Current()->GetProfile().cards.empty()) {
    name = ce::Device::Current()->GetProfile().cards.front();
  } else {
    return Fail("the device has no storage card: name one");
  }
  const bool ok = verb == "insert" ? ce::InsertStorageCard(name) : ce::RemoveStorageCard(name);
  if (!ok) return Fail("\\" + ce::ToUtf8(name) + ": " + Err(GetLastError()));
  std::cout << "\\" << ce::ToUtf8(name) << (verb == "insert" ? " inserted" : " removed") << "\n";
  return 0;
}

// share DIR add NAME HOSTDIR [--offered] | remove NAME | connect NAME |
// disconnect NAME | list
int CmdShare(int argc, char** argv) {
  const std::string verb = argv[3];
  if (verb == "list" && argc == 4) {
    for (const ce::ShareState& s : ce::ListShares()) {
      std::cout << ce::ToUtf8(s.share.name) << "\t" << s.share.hostDir.string() << "\t"
                << ce::ToUtf8(ce::ShareRemoteName(s.share.name)) << "\t"
                << (s.connected ? "connected" : "offered") << "\n";
    }
    return 0;
  }
  if (verb == "add" && (argc == 6 || (argc == 7 && std::string(argv[6]) == "--offered"))) {
    std::error_code ec;
    const std::filesystem::path host = std::filesystem::absolute(argv[5], ec);
    if (ec || !std::filesystem::is_directory(host)) return Fail(std::string(argv[5]) + ": no such host folder");
    if (!ce::OfferShare(Arg(argv[4]), host)) return Fail(std::string(argv[4]) + ": " + Err(GetLastError()));
    if (argc == 6 && !ce::ConnectShare(Arg(argv[4]))) return Fail(std::string(argv[4]) + ": " + Err(GetLastError()));
    std::cout << argv[4] << (argc == 6 ? " connected as \\Network\\" : " offered as ") << argv[4] << "\n";
    return 0;
  }
  if (argc != 5) return Usage();
  const u16 name = Arg(argv[4]);
  bool ok = false;
  if (verb == "remove") ok = ce::WithdrawShare(name);
  else if (verb == "connect") ok = ce::ConnectShare(name);
  else if (verb == "disconnect") ok = ce::DisconnectShare(name, true, true);
  else return Usage();
  if (!ok) return Fail(std::string(argv[4]) + ": " + Err(GetLastError()));
  std::cout << argv[4] << (verb == "remove" ? " removed" : verb == "connect" ? " connected" : " disconnected") << "\n";
  return 0;
}

int CmdPs() {
  printf("%10s %10s  %-16s %s\n", "PID", "PARENT", "NAME", "COMMAND LINE");
  for (const auto& p : ce::ListDeviceProcesses()) {
    std::string name = ce::ToUtf8(p.exe);
    std::string rest = p.resident ? "(resident)" : ce::ToUtf8(p.path) + " \"" + ce::ToUtf8(p.commandLine) + "\"";
    printf("%10u %10u  %-16s %s\n", p.pid, p.parentPid, name.c_str(), rest.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string cmd = argv[1];
  std::string dir = argv[2];
  if (cmd == "create") {
    std::string platformType = ce::ToUtf8(cedev::SampleProfile().platform);
    std::vector<std::string> words;
    for (int i = 2; i < argc; ++i) {
      if (strcmp(argv[i], "--platform-type") == 0) {
        if (i + 1 >= argc) return Usage();
        platformType = argv[++i];
      } else {
        words.push_back(argv[i]);
      }
    }
    if (words.size() != 1) return Usage();
    dir = words[0];
    if (dir.empty()) return Fail("create needs a folder for the device (DIR is empty)");
    std::string error;
    if (!cedev::CreateSampleDevice(dir, Arg(platformType.c_str()), &error)) return Fail(error);
    std::cout << "created the sample device at " << dir << "\n";
    return 0;
  }
  if (cmd == "screenshot") return cedev::CmdScreenshot(argc, argv);
  if (cmd == "screen") return cedev::CmdScreen(argc, argv);
  if (cmd == "rotate") return cedev::CmdRotate(argc, argv);
  if (!cedev::TakeScreenOption(&argc, argv) || argc < 3) return Usage();
  if (cmd == "boot" || cmd == "run") return CmdBootOrRun(argc, argv);
  if (cmd == "db") {
    if (!OpenDevice(dir)) return 1;
    return cedev::CmdDb(argc, argv);
  }
  if (cmd == "notify") {
    if (!OpenDevice(dir)) return 1;
    return cedev::CmdNotify(argc, argv);
  }
  if (cmd == "install") {
    if (argc != 3 && argc != 4) return Usage();
    if (!OpenDevice(dir)) return 1;
    return CmdInstall(argc, argv);
  }
  if (cmd == "uninstall") {
    if (argc != 4) return Usage();
    if (!OpenDevice(dir)) return 1;
    return CmdUninstall(argv[3]);
  }
  static const std::map<std::string, int> kArgs = {{"ls", 4},    {"cat", 4},   {"put", 5}, {"get", 5},
                                                   {"ps", 3},    {"power", 4}, {"event", 4}};
  auto it = kArgs.find(cmd);
  if (it != kArgs.end() && argc != it->second) return Usage();
  if (it == kArgs.end() && cmd != "reg" && cmd != "clock" && cmd != "screenlog" && cmd != "battery" &&
      cmd != "card" && cmd != "share")
    return Usage();
  if (cmd == "share" && argc < 4) return Usage();
  if ((cmd == "battery" && argc < 4) || (cmd == "card" && (argc < 4 || argc > 5))) return Usage();
  if (!OpenDevice(dir)) return 1;
  if (cmd == "power") return CmdPower(argv[3]);
  if (cmd == "event") return CmdEvent(argv[3]);
  if (cmd == "battery") return CmdBattery(argc, argv);
  if (cmd == "card") return CmdCard(argc, argv);
  if (cmd == "share") return CmdShare(argc, argv);
  if (cmd == "ls") return CmdLs(argv[3]);
  if (cmd == "cat") return CmdCat(argv[3]);
  if (cmd == "put") return CmdPut(argv[3], argv[4]);
  if (cmd == "get") return CmdGet(argv[3], argv[4]);
  if (cmd == "reg") return CmdReg(argc, argv);
  if (cmd == "clock") return CmdClock(argc, argv);
  if (cmd == "ps") return CmdPs();
  if (argc != 3) return Usage();
  return CmdScreenLog();
}
