// The sample device's databases and volumes, and cedev db.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CedevRun.h"
#include "ce/bytes.h"
#include "ce/database.h"
#include "ce/errors.h"
#include "ce/notifyqueue.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "cesim/device.h"

namespace {

using cedev_test::Result;
using cedev_test::RunCedev;
namespace fs = std::filesystem;

class CedevDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = (fs::temp_directory_path() / "cedev-db-XXXXXX").string();
    ASSERT_NE(mkdtemp(root_.data()), nullptr);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string Make(const std::string& name) {
    const std::string dir = root_ + "/" + name;
    Result r = RunCedev("create '" + dir + "'");
    EXPECT_EQ(r.status, 0) << r.output;
    return dir;
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
      if (!l.empty()) out.push_back(l);
    return out;
  }
  static std::string ReadHost(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  // The digest line of one database ("" when there is none).
  static std::string DigestOf(const std::string& digest, const std::string& store, const std::string& name) {
    for (const std::string& l : Lines(digest))
      if (l.rfind(store + "\t", 0) == 0 && l.find("\t" + name + "\t") != std::string::npos) return l;
    return "";
  }
  std::string root_;
};

const char* const kVolumes[] = {"\\pim.vol",         "\\cemail.vol",     "\\mxip_system.vol",
                                "\\mxip_initdb.vol", "\\mxip_lang.vol",  "\\mxip_notify.vol",
                                "\\My Documents\\notes.vol"};

TEST_F(CedevDbTest, AfterABootTheSystemHoldsTheSevenVolumes) {
  const std::string d = Make("dev");
  EXPECT_TRUE(Lines(RunCedev("db '" + d + "' volumes").output).empty());
  ASSERT_EQ(RunCedev("boot '" + d + "'").status, 0);
  Result r = RunCedev("db '" + d + "' volumes");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::vector<std::string> lines = Lines(r.output);
  ASSERT_EQ(lines.size(), 7u) << r.output;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find("system"), std::string::npos) << lines[i];
    EXPECT_NE(lines[i].find(kVolumes[i]), std::string::npos) << lines[i];
  }
  EXPECT_EQ(lines[0].rfind("EDB", 0), 0u);
  r = RunCedev("cat '" + d + "' '\\pim.vol'");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("error 32"), std::string::npos) << r.output;
  // Looking into a held volume takes one more mount and gives it back.
  r = RunCedev("db '" + d + "' list '\\pim.vol'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("SyncStateKeys"), std::string::npos) << r.output;
  EXPECT_EQ(Lines(RunCedev("db '" + d + "' volumes").output), lines);
}

TEST_F(CedevDbTest, TwoSampleDevicesHoldTheSameBytes) {
  const std::string a = Make("a"), b = Make("b");
  for (const char* v : kVolumes) {
    std::string rel = std::string("fs") + v;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    const std::string bytes = ReadHost(fs::path(a) / rel);
    EXPECT_GT(bytes.size(), 0u) << v;
    EXPECT_TRUE(bytes == ReadHost(fs::path(b) / rel)) << v << " differs";
    EXPECT_FALSE(fs::exists(fs::path(a) / (rel + "-journal"))) << v;
  }
  EXPECT_TRUE(ReadHost(fs::path(a) / "objectstore.db") == ReadHost(fs::path(b) / "objectstore.db"));
  Result da = RunCedev("db '" + a + "' digest"), db = RunCedev("db '" + b + "' digest");
  ASSERT_EQ(da.status, 0) << da.output;
  EXPECT_EQ(da.output, db.output);
  EXPECT_GE(Lines(da.output).size(), 17u) << da.output;
}

// Reads the records of a database: each as (propid -> value bytes).
using Record = std::map<CEPROPID, std::string>;

std::string ValueBytes(const CEPROPVAL& v) {
  std::string b;
  switch (TypeFromPropID(v.propid)) {
    case CEVT_LPWSTR:
      for (const WCHAR* c = v.val.lpwstr; *c; ++c) ce::le::Put16(&b, *c);
      return b;
    case CEVT_BLOB:
    case CEVT_STREAM:
      return std::string(reinterpret_cast<const char*>(v.val.blob.lpb), v.val.blob.dwCount);
    default:
      ce::le::Put64(&b, static_cast<uint64_t>(v.val.llVal));
      return b;
  }
}

std::vector<std::pair<CEOID, std::vector<CEPROPVAL>>> ReadRaw(HANDLE h, std::vector<LPBYTE>* buffers) {
  std::vector<std::pair<CEOID, std::vector<CEPROPVAL>>> out;
  CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 0, 0, nullptr);
  for (;;) {
    LPBYTE buf = nullptr;
    DWORD size = 0;
    WORD count = 0;
    CEOID oid = CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, nullptr, &buf, &size, nullptr);
    if (!oid) break;
    auto* vals = reinterpret_cast<CEPROPVAL*>(buf);
    out.emplace_back(oid, std::vector<CEPROPVAL>(vals, vals + count));
    buffers->push_back(buf);
  }
  return out;
}

TEST_F(CedevDbTest, TheDigestLeavesOutRecordOrderAndCountersButNotValues) {
  const std::string d = Make("dev");
  const std::string before = RunCedev("db '" + d + "' digest").output;
  ASSERT_NE(DigestOf(before, "\\pim.vol", "Tasks"), "") << before;
  ASSERT_NE(ce::Device::Use(d), nullptr);
  CEGUID g{};
  ASSERT_TRUE(CeMountDBVolEx(&g, const_cast<LPWSTR>(u"\\pim.vol"), nullptr, OPEN_EXISTING));
  CEOID oid = 0;
  HANDLE h = CeOpenDatabaseInSession(nullptr, &g, &oid, const_cast<LPWSTR>(u"Tasks"), nullptr, CEDB_AUTOINCREMENT,
                                     nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // Every record written again in reverse order: new ids, new counters.
  std::vector<LPBYTE> buffers;
  auto records = ReadRaw(h, &buffers);
  ASSERT_EQ(records.size(), 40u);
  for (auto& [id, props] : records) ASSERT_TRUE(CeDeleteRecord(h, id));
  for (auto it = records.rbegin(); it != records.rend(); ++it)
    ASSERT_NE(CeWriteRecordProps(h, 0, static_cast<WORD>(it->second.size()), it->second.data()), 0u);
  for (LPBYTE b : buffers) LocalFree(b);
  CloseHandle(h);
  ASSERT_TRUE(CeUnmountDBVol(&g));
  const std::string reordered = RunCedev("db '" + d + "' digest").output;
  EXPECT_EQ(reordered, before);
  // One changed value shows.
  ASSERT_TRUE(CeMountDBVolEx(&g, const_cast<LPWSTR>(u"\\pim.vol"), nullptr, OPEN_EXISTING));
  oid = 0;
  h = CeOpenDatabaseInSession(nullptr, &g, &oid, const_cast<LPWSTR>(u"Tasks"), nullptr, 0, nullptr);
  CEPROPVAL v{};
  v.propid = MAKE_CEPROPID(31, CEVT_UI2);
  v.val.uiVal = 9;
  ASSERT_NE(CeWriteRecordProps(h, CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 3, 0, nullptr), 1, &v), 0u);
  CloseHandle(h);
  ASSERT_TRUE(CeUnmountDBVol(&g));
  const std::string changed = RunCedev("db '" + d + "' digest").output;
  EXPECT_NE(DigestOf(changed, "\\pim.vol", "Tasks"), DigestOf(before, "\\pim.vol", "Tasks"));
  EXPECT_EQ(DigestOf(changed, "\\pim.vol", "Contacts"), DigestOf(before, "\\pim.vol", "Contacts"));
}

TEST_F(CedevDbTest, TheSampleHoldsWhatTheBackupRoadsMeet) {
  const std::string d = Make("dev");
  Result list = RunCedev("db '" + d + "' list");
  ASSERT_EQ(list.status, 0) << list.output;
  for (const char* want : {"SystemHeap  CEDB  Contacts Database  oid", "records 300", "records 400", "records 60",
                           "\\cemail.vol  CEDB  Messages", "records 1000", "\\mxip_notify.vol  CEDB  DB_notify_queue",
                           "\\My Documents\\notes.vol  CEDB  Notes", "\\mxip_system.vol  EDB   SystemSettings"})
    EXPECT_NE(list.output.find(want), std::string::npos) << want << "\n" << list.output;
  EXPECT_EQ(list.output.find("SystemHeap  EDB"), std::string::npos) << "no EDB database in the object store";

  ASSERT_NE(ce::Device::Use(d), nullptr);
  // The volumes the registry names, and the MMS client's folder.
  auto value = [](HKEY root, const char16_t* key, const char16_t* name) {
    HKEY k = nullptr;
    WCHAR buf[260] = {};
    DWORD size = sizeof buf;
    if (RegOpenKeyExW(root, key, 0, 0, &k) != ERROR_SUCCESS) return std::u16string();
    RegQueryValueExW(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    return std::u16string(buf);
  };
  EXPECT_EQ(value(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows", u"DbPath"), u"\\mxip_initdb.vol");
  EXPECT_EQ(value(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows", u"LangDbPath"), u"\\mxip_lang.vol");
  EXPECT_EQ(value(HKEY_LOCAL_MACHINE, u"System\\GWE\\Notify", u"volume"), u"\\mxip_notify.vol");
  const std::u16string mms = value(HKEY_LOCAL_MACHINE, u"Software\\Arcsoft\\ArcSoft MMS UA\\Config\\Folder",
                                   u"UAContentsPath");
  ASSERT_FALSE(mms.empty());
  EXPECT_NE(GetFileAttributesW(mms.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW(u"\\Windows\\Messaging\\Attachments\\att0.dat"), INVALID_FILE_ATTRIBUTES);

  // "SyncStateKeys": FolderSync records, the collection counter and others.
  CEGUID g{};
  ASSERT_TRUE(CeMountDBVolEx(&g, const_cast<LPWSTR>(u"\\pim.vol"), nullptr, OPEN_EXISTING));
  CEOID oid = 0;
  HANDLE h = CeOpenDatabaseInSession(nullptr, &g, &oid, const_cast<LPWSTR>(u"SyncStateKeys"), nullptr,
                                     CEDB_AUTOINCREMENT, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<LPBYTE> buffers;
  std::set<std::u16string> keys;
  int withoutKey = 0;
  for (auto& [id, props] : ReadRaw(h, &buffers)) {
    auto it = std::find_if(props.begin(), props.end(), [](const CEPROPVAL& p) { return p.propid == 0x0002001F; });
    if (it == props.end())
      ++withoutKey;
    else
      keys.insert(it->val.lpwstr);
  }
  for (LPBYTE b : buffers) LocalFree(b);
  buffers.clear();
  CloseHandle(h);
  EXPECT_TRUE(keys.count(u"FolderSync:Inbox") && keys.count(u"<<< Collection Counter >>>") &&
              keys.count(u"Contacts:1"));
  EXPECT_EQ(withoutKey, 1);
  // Every EDB type, the auto-increment ones filled by the volume.
  h = CeOpenDatabaseInSession(nullptr, &g, &(oid = 0), const_cast<LPWSTR>(u"EdgeValues"), nullptr,
                              CEDB_AUTOINCREMENT, nullptr);
  std::set<WORD> types;
  for (auto& [id, props] : ReadRaw(h, &buffers))
    for (const CEPROPVAL& p : props) types.insert(TypeFromPropID(p.propid));
  for (LPBYTE b : buffers) LocalFree(b);
  buffers.clear();
  CloseHandle(h);
  EXPECT_EQ(types.size(), 13u);
  ASSERT_TRUE(CeUnmountDBVol(&g));

  // The notification queue's "repllog.exe" entry in its fixed layout.
  ASSERT_TRUE(CeMountDBVol(&g, const_cast<LPWSTR>(u"\\mxip_notify.vol"), OPEN_EXISTING));
  h = CeOpenDatabaseEx2(&g, &(oid = 0), const_cast<LPWSTR>(u"DB_notify_queue"), nullptr, CEDB_AUTOINCREMENT,
                        nullptr);
  int repllog = 0;
  for (auto& [id, props] : ReadRaw(h, &buffers)) {
    ASSERT_EQ(props.size(), 2u);
    EXPECT_EQ(props[0].propid, ce::notifyqueue::kNotifyTimeProp);
    ASSERT_EQ(props[1].propid, ce::notifyqueue::kNotifyEntryProp);
    const std::string blob = ValueBytes(props[1]);
    const uint32_t at = ce::le::Get32(blob, ce::notifyqueue::kProgramOffsetAt);
    std::u16string program;
    for (size_t i = at; i + 1 < blob.size() && ce::le::Get16(blob, i); i += 2)
      program += static_cast<char16_t>(ce::le::Get16(blob, i));
    if (program != u"repllog.exe") continue;
    ++repllog;
    EXPECT_EQ(ce::le::Get32(blob, ce::notifyqueue::kStartTimeAt), props[0].val.filetime.dwLowDateTime);
    EXPECT_EQ(ce::le::Get32(blob, ce::notifyqueue::kStartTimeAt + 4), props[0].val.filetime.dwHighDateTime);
  }
  for (LPBYTE b : buffers) LocalFree(b);
  CloseHandle(h);
  EXPECT_EQ(repllog, 1);
  ASSERT_TRUE(CeUnmountDBVol(&g));
}

}  // namespace
