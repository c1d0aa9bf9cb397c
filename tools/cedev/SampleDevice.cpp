#include "tools/cedev/SampleDevice.h"

#include <fstream>
#include <random>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "ce/system.h"
#include "ce/time.h"
#include "tools/cedev/SampleDatabases.h"

namespace fs = std::filesystem;

namespace cedev {
namespace {

using u16 = std::u16string;

const char16_t* const kFolders[] = {
    u"\\Windows",
    u"\\Windows\\StartUp",
    u"\\Windows\\Start Menu",
    u"\\Windows\\Start Menu\\Programs",
    u"\\Windows\\Start Menu\\Programs\\Games",
    u"\\Windows\\Messaging",
    u"\\Windows\\Temp",
    u"\\Windows\\Favorites",
    u"\\Windows\\Temporary Internet Files",
    u"\\Windows\\Cookies",
    u"\\Windows\\History",
    u"\\My Documents",
    u"\\My Documents\\Personal",
    u"\\My Documents\\Business",
    u"\\My Documents\\Templates",
    u"\\My Documents\\My Pictures",
    u"\\My Documents\\My Music",
    u"\\Program Files",
    u"\\Program Files\\Pocket Notes",
    u"\\Program Files\\Pocket Notes\\Data",
    u"\\temp",
    u"\\Network",
    u"\\Documents and Settings",
    u"\\Documents and Settings\\default",
    u"\\Storage Card\\Photos",
    u"\\Storage Card\\Music",
    u"\\Storage Card\\Documents",
};

// Files the device keeps in ROM: read-only, never written by anyone.
const char16_t* const kRomFiles[] = {
    u"\\Windows\\coredll.dll",   u"\\Windows\\toolhelp.dll", u"\\Windows\\shell32.exe",
    u"\\Windows\\device.exe",    u"\\Windows\\gwes.exe",     u"\\Windows\\filesys.exe",
    u"\\Windows\\services.exe",  u"\\Windows\\stwater.gif",  u"\\Windows\\notify.wav",
    u"\\Windows\\default.htm",   u"\\Windows\\tahoma.ttf",   u"\\Windows\\repllog.exe",
};

// Files other programs keep open while the device runs (the browser's
// index files).
const char16_t* const kHeldOpen[] = {
    u"\\Windows\\Temporary Internet Files\\index.dat",
    u"\\Windows\\Cookies\\index.dat",
    u"\\Windows\\History\\index.dat",
};

const char* const kWords[] = {"meeting", "notes",  "budget", "travel", "invoice", "draft",   "summary",
                              "photo",   "report", "agenda", "letter", "project", "minutes", "quarter",
                              "client",  "plan",   "list",   "recipe", "journal", "ideas"};

const char16_t* const kOddNames[] = {
    u"README",
    u"archive.2006.03.07.bak",
    u"Caf\u00e9 r\u00e9sum\u00e9.txt",
    u"\u00dcbersicht \u00c4nderungen.doc",
    u"\u041f\u0440\u0438\u0432\u0435\u0442.txt",
    u"\u65e5\u672c\u8a9e\u306e\u30e1\u30e2.txt",
    u"a very long file name that goes on and on to show how long names are kept by the device.txt",
    u"no extension at all",
    u"name.with...dots",
    u"UPPER CASE NAME.TXT",
    u"mixed.Case.Extension.TxT",
    u"x",
};

struct Writer {
  std::mt19937 rng{20061207u};
  std::string* error;
  int files = 0;
  uint64_t bytes = 0;

  uint32_t Next(uint32_t n) { return static_cast<uint32_t>(rng() % n); }

  bool Fail(const std::string& what, const u16& path) {
    *error = what + " " + ce::ToUtf8(path) + " failed with " + ce::DescribeError(GetLastError());
    return false;
  }

  FILETIME Time(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
  }

  FILETIME RandomTime() {
    return Time(2004 + static_cast<int>(Next(3)), 1 + static_cast<int>(Next(12)), 1 + static_cast<int>(Next(28)),
                static_cast<int>(Next(24)), static_cast<int>(Next(60)), static_cast<int>(Next(60)));
  }

  std::string Content(uint32_t size, int kind) {
    std::string s;
    s.reserve(size);
    if (kind == 0) {  // text
      while (s.size() < size) {
        s += kWords[Next(20)];
        s += (Next(12) == 0) ? "\r\n" : " ";
      }
      s.resize(size);
    } else if (kind == 1) {  // binary noise
      while (s.size() < size) {
        uint32_t v = rng();
        s.append(reinterpret_cast<const char*>(&v), std::min<size_t>(4, size - s.size()));
      }
    } else {  // sparse: mostly zeros with a little structure
      s.assign(size, '\0');
      for (uint32_t i = 0; i < size; i += 512) s[i] = static_cast<char>(i >> 9);
    }
    return s;
  }

  bool WriteFile(const u16& path, const std::string& data, DWORD attributes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail("CreateFile", path);
    size_t off = 0;
    while (off < data.size()) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - off, 1u << 20));
      DWORD written = 0;
      if (!::WriteFile(h, data.data() + off, chunk, &written, nullptr) || written != chunk) {
        CloseHandle(h);
        return Fail("WriteFile", path);
      }
      off += chunk;
    }
    FILETIME created = RandomTime();
    FILETIME written = created;
    uint64_t w = (static_cast<uint64_t>(written.dwHighDateTime) << 32 | written.dwLowDateTime) +
                 static_cast<uint64_t>(Next(86400 * 90)) * 10000000ull;
    written.dwLowDateTime = static_cast<DWORD>(w);
    written.dwHighDateTime = static_cast<DWORD>(w >> 32);
    if (!SetFileTime(h, &created, &written, &written)) {
      CloseHandle(h);
      return Fail("SetFileTime", path);
    }
    if (!CloseHandle(h)) return Fail("CloseHandle", path);
    if (attributes != FILE_ATTRIBUTE_ARCHIVE && !SetFileAttributesW(path.c_str(), attributes))
      return Fail("SetFileAttributes", path);
    ++files;
    bytes += data.size();
    return true;
  }

  DWORD RandomAttributes() {
    uint32_t r = Next(100);
    if (r < 5) return FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    if (r < 10) return FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
    if (r < 12) return FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    return FILE_ATTRIBUTE_ARCHIVE;
  }

  u16 WordName(const char16_t* ext) {
    std::string n = kWords[Next(20)];
    n[0] = static_cast<char>(n[0] - 32);
    n += ' ';
    n += kWords[Next(20)];
    n += ' ' + std::to_string(Next(1000));
    return ce::FromUtf8(n) + ext;
  }

  // count files of the given kind and size range into folder.
  bool Fill(const u16& folder, int count, const char16_t* ext, int kind, uint32_t minSize, uint32_t maxSize) {
    for (int i = 0; i < count; ++i) {
      u16 path = folder + u"\\" + WordName(ext);
      uint32_t size = minSize + (maxSize > minSize ? Next(maxSize - minSize) : 0);
      if (!WriteFile(path, Content(size, kind), RandomAttributes())) return false;
    }
    return true;
  }
};

bool SetString(HKEY key, const char16_t* name, const u16& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
}

bool SetDword(HKEY key, const char16_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) == ERROR_SUCCESS;
}

bool SetBinary(HKEY key, const char16_t* name, const std::vector<BYTE>& value) {
  return RegSetValueExW(key, name, 0, REG_BINARY, value.data(), static_cast<DWORD>(value.size())) ==
         ERROR_SUCCESS;
}

// Runs fn on the key root\path, created when missing.
template <class Fn>
bool WithKey(HKEY root, const char16_t* path, std::string* error, Fn fn) {
  HKEY key = nullptr;
  DWORD disp = 0;
  LONG rc = RegCreateKeyExW(root, path, 0, nullptr, 0, 0, nullptr, &key, &disp);
  if (rc != ERROR_SUCCESS) {
    *error = "RegCreateKeyEx " + ce::ToUtf8(path) + " failed with " + ce::DescribeError(static_cast<DWORD>(rc));
    return false;
  }
  bool ok = fn(key);
  RegCloseKey(key);
  if (!ok) *error = "writing values of " + ce::ToUtf8(path) + " failed";
  return ok;
}

bool SeedRegistry(std::string* error) {
  auto depend = [](std::initializer_list<WORD> ids) {
    std::vector<BYTE> v;
    for (WORD id : ids) {
      v.push_back(static_cast<BYTE>(id & 0xFF));
      v.push_back(static_cast<BYTE>(id >> 8));
    }
    return v;
  };
  return WithKey(HKEY_LOCAL_MACHINE, u"init\\BootVars", error,
                 [](HKEY k) {
                   return SetString(k, u"SystemHive", u"Documents and Settings\\system.hv") &&
                          SetString(k, u"ProfileDir", u"Documents and Settings") && SetDword(k, u"Start DevMgr", 1);
                 }) &&
         WithKey(HKEY_LOCAL_MACHINE, u"init", error,
                 [&](HKEY k) {
                   return SetString(k, u"Launch20", u"device.exe") && SetString(k, u"Launch30", u"gwes.exe") &&
                          SetBinary(k, u"Depend30", depend({20})) && SetString(k, u"Launch50", u"shell32.exe") &&
                          SetBinary(k, u"Depend50", depend({20, 30})) &&
                          SetString(k, u"Launch60", u"services.exe") &&
                          SetBinary(k, u"Depend60", depend({20, 30}));
                 }) &&
         WithKey(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\FlshDrv", error,
                 [](HKEY k) {
                   return SetString(k, u"FolderName", u"Built-in Storage") && SetString(k, u"Dll", u"flshdrv.dll");
                 }) &&
         WithKey(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows CE Services\\Partners\\P1", error,
                 [](HKEY k) { return SetDword(k, u"PId", 0x1A2B3C4D) && SetString(k, u"DisplayName", u"OFFICE-PC"); }) &&
         WithKey(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows CE Services\\Partners\\P2", error,
                 [](HKEY k) { return SetDword(k, u"PId", 0x55667788) && SetString(k, u"DisplayName", u"HOME-PC"); }) &&
         WithKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Quilmo Agent", error,
                 [](HKEY k) {
                   return SetDword(k, u"DeviceId", 0) && SetDword(k, u"BackupPort", 32766) &&
                          SetString(k, u"Server", u"localhost");
                 }) &&
         WithKey(HKEY_LOCAL_MACHINE, u"System\\GWE\\Notify", error,
                 [](HKEY k) { return SetString(k, u"volume", u"\\mxip_notify.vol"); }) &&
         WithKey(HKEY_LOCAL_MACHINE, u"Ident", error,
                 [](HKEY k) {
                   return SetString(k, u"Name", u"PocketPC") && SetString(k, u"Desc", u"Quilmo reference device");
                 }) &&
         WithKey(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", error,
                 [](HKEY k) {
                   return SetString(k, u"Cache", u"\\Windows\\Temporary Internet Files") &&
                          SetString(k, u"Cookies", u"\\Windows\\Cookies") &&
                          SetString(k, u"History", u"\\Windows\\History");
                 }) &&
         WithKey(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows", error,
                 [](HKEY k) {
                   return SetString(k, u"DbPath", u"\\mxip_initdb.vol") &&
                          SetString(k, u"LangDbPath", u"\\mxip_lang.vol");
                 }) &&
         WithKey(HKEY_CURRENT_USER, u"ControlPanel\\Owner", error,
                 [](HKEY k) {
                   return SetString(k, u"Name", u"Pat Example") && SetDword(k, u"ShowOwnerInfo", 1);
                 }) &&
         WithKey(HKEY_CURRENT_USER, u"ControlPanel\\Volume", error,
                 [](HKEY k) { return SetDword(k, u"Volume", 0xCCCCCCCC) && SetDword(k, u"Mute", 0); });
}

bool WriteHostFile(const fs::path& p, const std::string& data, std::string* error) {
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << data;
  f.close();
  if (!f) {
    *error = "cannot write " + p.string();
    return false;
  }
  return true;
}

fs::path HostOf(const fs::path& dir, const u16& devicePath) {
  fs::path p = dir / "fs";
  u16 part;
  for (char16_t c : devicePath + u"\\") {
    if (c == u'\\') {
      if (!part.empty()) p /= ce::ToUtf8(part);
      part.clear();
    } else {
      part += c;
    }
  }
  return p;
}

}  // namespace

ce::Profile SampleProfile() {
  ce::Profile p;
  p.cards = {u"Storage Card"};
  for (auto* r : kRomFiles) p.romFiles.push_back(r);
  for (auto* h : kHeldOpen) p.heldOpen.push_back(h);
  p.systemVolumes = SampleSystemVolumes();
  // Room for the product as this host builds it (sanitizer builds are
  // several times larger than a device's programs) beside the sample data.
  p.capacities = {{u"\\", 1024ull << 20}, {u"\\Storage Card", 1024ull << 20}};
  p.timeZone = "PST8PDT,M3.2.0,M11.1.0";
  return p;
}

bool CreateSampleDevice(const fs::path& dir, std::string* error) {
  return CreateSampleDevice(dir, SampleProfile().platform, error);
}

bool CreateSampleDevice(const fs::path& dir, const std::u16string& platformType, std::string* error) {
  ce::Profile profile = SampleProfile();
  profile.platform = platformType;
  if (!ce::Device::Create(dir, profile, error)) return false;
  std::string problem;
  if (!ce::Device::Use(dir, &problem)) {
    *error = "cannot open the new device: " + problem;
    return false;
  }
  // What lives in ROM or is held open comes with the device, not from a
  // program on it: write those files on the host side.
  std::mt19937 rng(4242);
  for (auto* r : kRomFiles) {
    std::string data(2048 + rng() % 30000, '\0');
    for (auto& ch : data) ch = static_cast<char>(rng());
    if (!WriteHostFile(HostOf(dir, r), data, error)) return false;
  }
  for (auto* h : kHeldOpen) {
    if (!WriteHostFile(HostOf(dir, h), std::string(16384, '\x01'), error)) return false;
  }

  Writer w;
  w.error = error;
  for (auto* f : kFolders) {
    if (!CreateDirectoryW(f, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return w.Fail("CreateDirectory", f);
  }
  if (!SeedRegistry(error)) return false;

  bool ok = w.Fill(u"\\My Documents", 20, u".txt", 0, 0, 4000) &&
            w.Fill(u"\\My Documents\\Personal", 40, u".txt", 0, 100, 20000) &&
            w.Fill(u"\\My Documents\\Business", 35, u".doc", 0, 1000, 60000) &&
            w.Fill(u"\\My Documents\\Business", 5, u".xls", 2, 8000, 40000) &&
            w.Fill(u"\\My Documents\\Templates", 10, u".dot", 0, 500, 3000) &&
            w.Fill(u"\\My Documents\\My Pictures", 60, u".jpg", 1, 5000, 90000) &&
            w.Fill(u"\\My Documents\\My Music", 3, u".mp3", 1, 1000000, 3000000) &&
            w.Fill(u"\\Program Files\\Pocket Notes", 4, u".dll", 1, 20000, 120000) &&
            w.Fill(u"\\Program Files\\Pocket Notes\\Data", 25, u".dat", 2, 100, 30000) &&
            w.Fill(u"\\Storage Card\\Photos", 40, u".jpg", 1, 10000, 150000) &&
            w.Fill(u"\\Storage Card\\Music", 2, u".mp3", 1, 2000000, 4000000) &&
            w.Fill(u"\\Storage Card\\Documents", 30, u".txt", 0, 100, 50000) &&
            w.Fill(u"\\temp", 5, u".tmp", 2, 0, 2000) &&
            w.Fill(u"\\Windows\\Favorites", 8, u".url", 0, 60, 200);
  if (!ok) return false;
  for (size_t i = 0; i < std::size(kOddNames); ++i) {
    u16 folder = (i % 2) ? u"\\My Documents\\Personal" : u"\\My Documents";
    if (!w.WriteFile(folder + u"\\" + kOddNames[i], w.Content(static_cast<uint32_t>(i * 777), 0),
                     FILE_ATTRIBUTE_ARCHIVE))
      return false;
  }
  if (!w.WriteFile(u"\\My Documents\\empty.txt", "", FILE_ATTRIBUTE_ARCHIVE)) return false;
  if (!w.WriteFile(u"\\Program Files\\Pocket Notes\\PocketNotes.exe", w.Content(150000, 1), FILE_ATTRIBUTE_ARCHIVE))
    return false;
  // Start menu entries in the device's shortcut form.
  const char16_t* links[][2] = {{u"Pocket Notes", u"\"\\Program Files\\Pocket Notes\\PocketNotes.exe\""},
                                {u"Calculator", u"\\Windows\\calc.exe"},
                                {u"Solitaire", u"\\Windows\\solitare.exe"}};
  for (auto& l : links) {
    u16 target = l[1];
    std::string text = std::to_string(target.size()) + "#" + ce::ToUtf8(target);
    u16 folder = (l[0] == u16(u"Solitaire")) ? u"\\Windows\\Start Menu\\Programs\\Games"
                                               : u"\\Windows\\Start Menu\\Programs";
    if (!w.WriteFile(folder + u"\\" + l[0] + u".lnk", text, FILE_ATTRIBUTE_ARCHIVE)) return false;
  }
  return CreateSampleDatabases(error);
}

}  // namespace cedev
