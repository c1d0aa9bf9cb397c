// Shared by the database volume and mail component tests: volume files
// made through the device's database calls, the records read back, and a
// scratch device whose index holds the volume and mail parts, backed up
// into an image and restored from it by the two components.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ce/database.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/notifyqueue.h"
#include "ce/registry.h"
#include "ce/time.h"
#include "ce/text.h"
#include "core/Log.h"
#include "engine/DatabaseVolumes.h"
#include "engine/FileSystemComponent.h"
#include "engine/MailComponent.h"
#include "engine/Operation.h"
#include "engine/RebootActions.h"
#include "image/Cipher.h"
#include "image/Compressor.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/ImageTail.h"
#include "testkit/TestDevice.h"

namespace voltest {

class TestProgress : public ITaskProgress {
 public:
  TestProgress() : ITaskProgress(&record) {}
  void UpdateProgress(bool) override {
    if (onUpdate) onUpdate();
  }
  TaskProgressRecord record;
  std::function<void()> onUpdate;
};

// A property as the tests write and read it: id and value bytes (texts as
// UTF-16 code units without the NUL).
struct Prop {
  CEPROPID id = 0;
  std::string bytes;
  bool operator==(const Prop&) const = default;
};
using Record = std::vector<Prop>;

inline Prop TextProp(CEPROPID id, std::u16string_view text) {
  return {id, std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2)};
}
inline Prop BlobProp(CEPROPID id, const std::string& bytes) { return {id, bytes}; }
inline Prop FileTimeProp(CEPROPID id, FILETIME time) {
  return {id, std::string(reinterpret_cast<const char*>(&time), 8)};
}
inline Prop I4Prop(CEPROPID id, LONG value) { return {id, std::string(reinterpret_cast<const char*>(&value), 4)}; }

inline Prop FromValue(const CEPROPVAL& v) {
  Prop out{v.propid, {}};
  switch (TypeFromPropID(v.propid)) {
    case CEVT_LPWSTR: {
      std::u16string_view text(v.val.lpwstr);
      out.bytes.assign(reinterpret_cast<const char*>(text.data()), text.size() * 2);
      break;
    }
    case CEVT_BLOB:
    case CEVT_STREAM:
      out.bytes.assign(reinterpret_cast<const char*>(v.val.blob.lpb), v.val.blob.dwCount);
      break;
    case CEVT_FILETIME:
    case CEVT_R8:
    case CEVT_AUTO_I8:
      out.bytes.assign(reinterpret_cast<const char*>(&v.val.llVal), 8);
      break;
    default:
      out.bytes.assign(reinterpret_cast<const char*>(&v.val.ulVal), 4);
  }
  return out;
}

// Value structs pointing into the props' bytes (kept alive by the caller).
inline std::vector<CEPROPVAL> ToValues(Record& record, std::vector<std::u16string>& texts) {
  std::vector<CEPROPVAL> values;
  texts.reserve(record.size());
  for (Prop& p : record) {
    CEPROPVAL v{};
    v.propid = p.id;
    switch (TypeFromPropID(p.id)) {
      case CEVT_LPWSTR:
        texts.emplace_back(reinterpret_cast<const char16_t*>(p.bytes.data()), p.bytes.size() / 2);
        v.val.lpwstr = texts.back().data();
        break;
      case CEVT_BLOB:
      case CEVT_STREAM:
        v.val.blob.dwCount = static_cast<DWORD>(p.bytes.size());
        v.val.blob.lpb = reinterpret_cast<LPBYTE>(p.bytes.data());
        break;
      default:
        std::memcpy(&v.val, p.bytes.data(), std::min<size_t>(p.bytes.size(), sizeof v.val));
    }
    values.push_back(v);
  }
  return values;
}

struct Database {
  std::u16string name;
  std::vector<Record> records;
  std::vector<CEPROPID> definitions;  // EDB only
};

// Makes a volume file with the databases (mounted open-always, unmounted
// again).
inline void MakeVolume(const std::u16string& path, bool edb, const std::vector<Database>& databases) {
  CEGUID guid{};
  std::u16string name(path);
  ASSERT_TRUE(edb ? CeMountDBVolEx(&guid, name.data(), nullptr, OPEN_ALWAYS) : CeMountDBVol(&guid, name.data(), OPEN_ALWAYS))
      << GetLastError();
  for (const Database& db : databases) {
    CEOID oid = 0;
    if (edb) {
      CEDBASEINFOEX info{};
      info.wVersion = CEDBASEINFOEX_VERSION;
      info.dwFlags = CEDB_VALIDNAME;
      std::copy(db.name.begin(), db.name.end(), info.szDbaseName);
      std::vector<CEPROPSPEC> specs;
      for (CEPROPID id : db.definitions) specs.push_back(CEPROPSPEC{CEPROPSPEC_VERSION, id, 0, nullptr, 0});
      oid = CeCreateDatabaseWithProps(&guid, &info, static_cast<DWORD>(specs.size()), specs.data());
    } else {
      CEDBASEINFO info{};
      info.dwFlags = CEDB_VALIDNAME;
      std::copy(db.name.begin(), db.name.end(), info.szDbaseName);
      oid = CeCreateDatabaseEx(&guid, &info);
    }
    ASSERT_NE(oid, 0u) << GetLastError();
    HANDLE h = edb ? CeOpenDatabaseInSession(nullptr, &guid, &oid, nullptr, nullptr, 0, nullptr)
                   : CeOpenDatabaseEx2(&guid, &oid, nullptr, nullptr, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    for (Record record : db.records) {
      std::vector<std::u16string> texts;
      std::vector<CEPROPVAL> values = ToValues(record, texts);
      EXPECT_NE(CeWriteRecordProps(h, 0, static_cast<WORD>(values.size()), values.data()), 0u) << GetLastError();
    }
    CloseHandle(h);
  }
  ASSERT_TRUE(CeUnmountDBVol(&guid));
}

// Every record of a database in a volume file (mounted for the read).
inline std::vector<Record> ReadRecords(const std::u16string& path, bool edb, const std::u16string& database) {
  std::vector<Record> out;
  CEGUID guid{};
  std::u16string name(path);
  if (!(edb ? CeMountDBVolEx(&guid, name.data(), nullptr, OPEN_EXISTING) : CeMountDBVol(&guid, name.data(), OPEN_EXISTING))) {
    ADD_FAILURE() << "cannot mount " << ce::ToUtf8(path) << ": " << GetLastError();
    return out;
  }
  CEOID oid = 0;
  std::u16string db(database);
  HANDLE h = edb ? CeOpenDatabaseInSession(nullptr, &guid, &oid, db.data(), nullptr, CEDB_AUTOINCREMENT, nullptr)
                 : CeOpenDatabaseEx2(&guid, &oid, db.data(), nullptr, CEDB_AUTOINCREMENT, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    LPBYTE buffer = nullptr;
    DWORD size = 0;
    WORD count = 0;
    while (CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, nullptr, &buffer, &size, nullptr)) {
      Record record;
      const auto* values = reinterpret_cast<const CEPROPVAL*>(buffer);
      for (WORD i = 0; i < count; ++i) record.push_back(FromValue(values[i]));
      out.push_back(record);
    }
    LocalFree(buffer);
    CloseHandle(h);
  } else {
    ADD_FAILURE() << "no database " << ce::ToUtf8(database);
  }
  CeUnmountDBVol(&guid);
  return out;
}

// A notification entry blob: header, program name and arguments.
inline std::string NotifyBlob(std::u16string_view program, std::u16string_view arguments, FILETIME start) {
  using namespace ce::notifyqueue;
  std::string blob(kHeaderSize, '\0');
  auto put = [&](DWORD at, DWORD value) { std::memcpy(&blob[at], &value, 4); };
  put(kProgramOffsetAt, kHeaderSize);
  put(kTriggerTypeAt, 1);
  put(kStartTimeAt, start.dwLowDateTime);
  put(kStartTimeAt + 4, start.dwHighDateTime);
  put(kEndTimeAt, start.dwLowDateTime);
  put(kEndTimeAt + 4, start.dwHighDateTime);
  put(kArgumentsOffsetAt, static_cast<DWORD>(kHeaderSize + 2 * (program.size() + 1)));
  blob.append(reinterpret_cast<const char*>(program.data()), program.size() * 2);
  blob.append(2, '\0');
  blob.append(reinterpret_cast<const char*>(arguments.data()), arguments.size() * 2);
  blob.append(2, '\0');
  return blob;
}

inline FILETIME LocalNow() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}
inline ULONGLONG Ticks(FILETIME ft) { return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

// A scratch device whose index holds the database volumes and mail parts
// (their children from the components under test), backed up into an
// image and restored from it.
class VolumeImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dev.MakeDir(u"\\temp");
    SetLog(&log);
    log.Open(false);
    log.Flush(true);
    SetLogReportSink([this](int level, DWORD, const CString& text) { report.push_back({level, text.str()}); });
    context.index = &index;
    context.compressor = &compressor;
    context.compressFlag = &compress;
    index.SetComponent(IndexOwner::FileSystem, &fileSystem);
    index.SetComponent(IndexOwner::DatabaseVolumes, &volumes);
    index.SetComponent(IndexOwner::Mail, &mail);
    InitCipherKey(false, nullptr);
    RebootActions::Instance().Clear();
  }
  void TearDown() override {
    SetLogReportSink(nullptr);
    SetLog(nullptr);
    RebootActions::Instance().Clear();
  }

  // The volume and mail parts of a fresh index, populated.
  void BuildIndex(bool withVolumes = true, bool withMail = true) {
    index.Reset();
    IncludedKinds kinds{false, withMail, withVolumes, false};
    index.AddTopLevelComponents(&kinds);
    index.PopulateSelected();
  }

  // An image of the populated parts: entries, index, tail (enciphered with
  // the cipher's current key when enc is set).
  bool Backup(bool enc = false) {
    AImageFile image(CString(kImage), AImageFile::kBackup);
    if (!image.Open()) return false;
    ADatabaseVolumes volumeComponent(context, &progress, &image);
    AMail mailComponent(context, &progress, &image);
    runningVolumes = &volumeComponent;
    bool ok = volumeComponent.Backup() && mailComponent.Backup();
    runningVolumes = nullptr;
    ok = ok && quilmo::test::StoreIndexAndTail(image, index, enc);
    return image.Close() && ok;
  }

  // Loads the image's index and restores both parts from it.
  bool Restore(bool enc = false) {
    AImageFile image(CString(kImage), AImageFile::kRestore);
    if (!image.Open()) return false;
    index.Reset();
    if (!index.Locate(image, enc)) return false;
    ADatabaseVolumes volumeComponent(context, &progress, &image);
    AMail mailComponent(context, &progress, &image);
    bool ok = volumeComponent.Restore() && mailComponent.Restore();
    return image.Close() && ok;
  }

  // The children of a top-level node: name and type.
  std::vector<std::pair<std::u16string, DWORD>> Children(DWORD topType) {
    std::vector<std::pair<std::u16string, DWORD>> out;
    int top = index.FindChildOfType(topType);
    for (int c = index.FirstChild(top); c != -1; c = index.NextSibling(c))
      out.emplace_back(index.NodeName(c), index.NodeType(c));
    return out;
  }
  int NodeNamed(const std::u16string& name) {
    for (int n = 0; n < index.NodeCount(); ++n)
      if (ce::EqualNoCase(index.NodeName(n), name)) return n;
    return -1;
  }

  bool Reported(int level, std::u16string_view text) const {
    return std::any_of(report.begin(), report.end(),
                       [&](const auto& e) { return e.first == level && e.second.find(text) != std::u16string::npos; });
  }
  bool Logged(std::string_view text) const {
    return dev.ReadFile(u"\\temp\\BackupLog.txt").find(text) != std::string::npos;
  }

  static constexpr const char16_t* kImage = u"\\Backup.qbk";
  quilmo::test::TestDevice dev;
  ALog log;
  Index index;
  ACompressor compressor{1};
  bool compress = false;
  FileSystemContext context;
  AFileSystemComponent fileSystem{context};
  ADatabaseVolumesComponent volumes;
  AMailComponent mail;
  TestProgress progress;
  ADatabaseVolumes* runningVolumes = nullptr;
  std::vector<std::pair<int, std::u16string>> report;
};

}  // namespace voltest
