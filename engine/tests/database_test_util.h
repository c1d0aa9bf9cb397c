// Shared by the database layer and database component tests: a scratch
// device with the log open, databases made and filled through the device
// API, and records read back as comparable values.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ce/database.h"
#include "ce/errors.h"
#include "ce/text.h"
#include "cesim/database.h"
#include "core/Log.h"
#include "engine/CeDatabase.h"
#include "testkit/PropertyValues.h"
#include "testkit/TestDevice.h"

namespace dbtest {

// A property read back: id and value bytes (texts as UTF-16 code units
// without the NUL).
struct Value {
  CEPROPID id = 0;
  std::string bytes;
  bool operator==(const Value&) const = default;
};
using Record = std::vector<Value>;

using quilmo::test::Blob;
using quilmo::test::Bytes;
using quilmo::test::Def;
using quilmo::test::I2;
using quilmo::test::I4;
using quilmo::test::R8;
using quilmo::test::Text;
using quilmo::test::Time;

inline Value FromProp(const CEPROPVAL& v) { return {v.propid, quilmo::test::ValueBytes(v)}; }

inline CEGUID MountCedb(const char16_t* path) {
  CEGUID g{};
  EXPECT_TRUE(CeMountDBVol(&g, const_cast<LPWSTR>(path), OPEN_ALWAYS)) << GetLastError();
  return g;
}
inline CEGUID MountEdb(const char16_t* path) {
  CEGUID g{};
  EXPECT_TRUE(CeMountDBVolEx(&g, const_cast<LPWSTR>(path), nullptr, OPEN_ALWAYS)) << GetLastError();
  return g;
}

inline CEOID CreateCedb(CEGUID g, const char16_t* name, DWORD type = 0,
                        std::vector<SORTORDERSPEC> sorts = {}) {
  CEDBASEINFO info{};
  info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC;
  std::u16string n(name);
  std::copy(n.begin(), n.end(), info.szDbaseName);
  info.dwDbaseType = type;
  info.wNumSortOrder = static_cast<WORD>(sorts.size());
  std::copy(sorts.begin(), sorts.end(), info.rgSortSpecs);
  return CeCreateDatabaseEx(&g, &info);
}
inline CEOID CreateEdb(CEGUID g, const char16_t* name, std::vector<CEPROPSPEC> defs, DWORD type = 0,
                       std::vector<SORTORDERSPECEX> sorts = {}) {
  CEDBASEINFOEX info{};
  info.wVersion = CEDBASEINFOEX_VERSION;
  info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC;
  std::u16string n(name);
  std::copy(n.begin(), n.end(), info.szDbaseName);
  info.dwDbaseType = type;
  info.wNumSortOrder = static_cast<WORD>(sorts.size());
  std::copy(sorts.begin(), sorts.end(), info.rgSortSpecs);
  return CeCreateDatabaseWithProps(&g, &info, static_cast<DWORD>(defs.size()), defs.data());
}

// Opens by name in the store (the interface's object store when null).
inline HANDLE Open(const CEGUID* g, const char16_t* name, bool edb) {
  return CeDatabase::OpenDatabase(g, name, edb);
}
inline CEOID Write(HANDLE h, std::vector<CEPROPVAL> vals, CEOID rec = 0) {
  return CeWriteRecordProps(h, rec, static_cast<WORD>(vals.size()), vals.data());
}
// Appends records to the database found by name from the object store.
inline void AddRecords(const char16_t* name, bool edb, const std::vector<std::vector<CEPROPVAL>>& records,
                       const CEGUID* g = nullptr) {
  HANDLE h = Open(g, name, edb);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  for (const auto& r : records) ASSERT_NE(Write(h, r), 0u) << GetLastError();
  CloseHandle(h);
}

// Every record of the database in the device's order (with their OIDs when
// asked); empty with *found false when it cannot be opened.
inline std::vector<Record> ReadRecords(const CEGUID* g, const char16_t* name, bool edb,
                                       std::vector<CEOID>* oids = nullptr, bool* found = nullptr) {
  std::vector<Record> out;
  HANDLE h = Open(g, name, edb);
  if (found) *found = h != INVALID_HANDLE_VALUE;
  if (h == INVALID_HANDLE_VALUE) return out;
  if (CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 0, 0, nullptr)) {
    CeRecordBuffer buffer;
    while (CEOID oid = buffer.Read(h)) {
      Record r;
      for (WORD i = 0; i < buffer.Count(); ++i) r.push_back(FromProp(buffer.Properties()[i]));
      out.push_back(std::move(r));
      if (oids) oids->push_back(oid);
    }
  }
  CloseHandle(h);
  return out;
}

// The database's definitions (id, flags, name) in the device's order.
struct Definition {
  CEPROPID id = 0;
  DWORD flags = 0;
  std::u16string name;
  bool operator==(const Definition&) const = default;
};
inline std::vector<Definition> ReadDefinitions(const CEGUID* g, const char16_t* name) {
  std::vector<Definition> out;
  HANDLE h = Open(g, name, true);
  if (h == INVALID_HANDLE_VALUE) return out;
  WORD count = 0;
  if (CeGetDatabaseProps(h, &count, nullptr, nullptr) && count) {
    std::vector<CEPROPSPEC> specs(count);
    std::vector<std::u16string> names(count, std::u16string(129, u'\0'));
    for (WORD i = 0; i < count; ++i) {
      specs[i].pwszPropName = names[i].data();
      specs[i].cchPropName = 129;
    }
    if (CeGetDatabaseProps(h, &count, nullptr, specs.data()))
      for (WORD i = 0; i < count; ++i)
        out.push_back({specs[i].propid, specs[i].dwFlags, std::u16string(names[i].c_str())});
  }
  CloseHandle(h);
  return out;
}

// A scratch device with the log open (its lines buffered in memory).
class DatabaseDeviceTest : public ::testing::Test {
 protected:
  DatabaseDeviceTest() {
    SetLog(&log);
    log.Open(false);
  }
  ~DatabaseDeviceTest() override {
    ce::ClearDatabaseFaults();
    SetLog(nullptr);
  }
  bool Logged(const std::string& text) const { return log.GetBuffer().find(text) != std::string::npos; }

  quilmo::test::TestDevice dev;
  ALog log;
};

}  // namespace dbtest
