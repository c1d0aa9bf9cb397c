#include "tools/cedev/DbCommands.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "ce/bytes.h"
#include "ce/database.h"
#include "ce/errors.h"
#include "ce/system.h"
#include "ce/text.h"
#include "cesim/database.h"
#include "cesim/device.h"

namespace cedev {
namespace {

using u16 = std::u16string;

int Fail(const std::string& msg) {
  std::cerr << "cedev: " << msg << "\n";
  return 1;
}

int Usage() {
  std::cerr << "usage: cedev db DIR volumes\n"
               "       cedev db DIR list [VOLUME] [--cedb|--edb]\n"
               "       cedev db DIR dump VOLUME NAME [--cedb|--edb]\n"
               "       cedev db DIR digest\n"
               "VOLUME: a volume's device path, or SystemHeap for the object store\n";
  return 2;
}

std::string GuidText(const CEGUID& g) {
  char buf[48];
  snprintf(buf, sizeof buf, "%08X-%08X-%08X-%08X", g.Data1, g.Data2, g.Data3, g.Data4);
  return buf;
}

// One store of one generation, as a command reaches it; a volume mounted
// for the command is let go again when it goes.
class Store {
 public:
  Store(std::string label, CEGUID guid, bool edb, bool mountedHere)
      : label_(std::move(label)), guid_(guid), edb_(edb), mountedHere_(mountedHere) {}
  ~Store() {
    // A failed unmount leaves one more count on a volume the command
    // mounted; nothing the command reports depends on it.
    if (mountedHere_) CeUnmountDBVol(&guid_);
  }
  Store(Store&& o) noexcept : label_(std::move(o.label_)), guid_(o.guid_), edb_(o.edb_), mountedHere_(o.mountedHere_) {
    o.mountedHere_ = false;
  }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const std::string& label() const { return label_; }
  CEGUID guid() const { return guid_; }
  bool edb() const { return edb_; }

 private:
  std::string label_;
  CEGUID guid_;
  bool edb_;
  bool mountedHere_;
};

// The stores a VOLUME argument names: SystemHeap in the generations
// asked for, or the volume file (mounted for the command).
bool StoresOf(const std::string& volume, int gen, std::vector<Store>* out, std::string* error) {
  if (volume == "SystemHeap") {
    if (gen != 2) out->emplace_back("SystemHeap", ZERO_CEGUID, false, false);
    if (gen != 1) out->emplace_back("SystemHeap", ZERO_CEGUID, true, false);
    return true;
  }
  u16 path = ce::FromUtf8(volume);
  DWORD err = 0;
  for (bool edb : {false, true}) {
    if ((edb && gen == 1) || (!edb && gen == 2)) continue;
    CEGUID g{};
    bool ok = edb ? CeMountDBVolEx(&g, path.data(), nullptr, OPEN_EXISTING) : CeMountDBVol(&g, path.data(), OPEN_EXISTING);
    if (ok) {
      out->emplace_back(volume, g, edb, true);
      return true;
    }
    err = GetLastError();
    if (err != ERROR_FILE_CORRUPT) break;  // the other generation's volume: try that one
  }
  *error = volume + ": " + ce::DescribeError(err);
  return false;
}

struct DbEntry {
  CEOID oid = 0;
  BY_HANDLE_DB_INFORMATION info{};
};

HANDLE OpenByOid(const Store& s, CEOID oid) {
  CEGUID g = s.guid();
  return s.edb() ? CeOpenDatabaseInSession(nullptr, &g, &oid, nullptr, nullptr, 0, nullptr)
                 : CeOpenDatabaseEx2(&g, &oid, nullptr, nullptr, 0, nullptr);
}

bool Databases(const Store& s, std::vector<DbEntry>* out, std::string* error) {
  CEGUID g = s.guid();
  HANDLE f = s.edb() ? CeFindFirstDatabaseEx2(&g, 0) : CeFindFirstDatabaseEx(&g, 0);
  if (f == INVALID_HANDLE_VALUE) {
    *error = s.label() + ": listing the databases failed with " + ce::DescribeError(GetLastError());
    return false;
  }
  while (CEOID oid = CeFindNextDatabaseEx(f, nullptr)) {
    DbEntry e;
    e.oid = oid;
    HANDLE h = OpenByOid(s, oid);
    if (h == INVALID_HANDLE_VALUE || !CeGetDBInformationByHandle(h, &e.info)) {
      *error = s.label() + ": database " + std::to_string(oid) + " cannot be read: " +
               ce::DescribeError(GetLastError());
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
      CloseHandle(f);
      return false;
    }
    CloseHandle(h);
    out->push_back(e);
  }
  CloseHandle(f);
  return true;
}

std::string Name(const DbEntry& e) { return ce::ToUtf8(e.info.infDatabase.szDbaseName); }

// A property read back, by value.
struct Prop {
  CEPROPID id = 0;
  std::string bytes;  // fixed types: their little-endian bytes; texts: UTF-16 units; blobs: the bytes
};

Prop Copy(const CEPROPVAL& v) {
  Prop p{v.propid, {}};
  switch (TypeFromPropID(v.propid)) {
    case CEVT_I2:
    case CEVT_UI2:
      ce::le::Put16(&p.bytes, v.val.uiVal);
      break;
    case CEVT_I4:
    case CEVT_UI4:
    case CEVT_BOOL:
    case CEVT_RECID:
    case CEVT_AUTO_I4:
      ce::le::Put32(&p.bytes, v.val.ulVal);
      break;
    case CEVT_FILETIME:
      ce::le::Put32(&p.bytes, v.val.filetime.dwLowDateTime);
      ce::le::Put32(&p.bytes, v.val.filetime.dwHighDateTime);
      break;
    case CEVT_R8:
    case CEVT_AUTO_I8: {
      uint64_t bits;
      std::memcpy(&bits, &v.val.llVal, 8);
      ce::le::Put64(&p.bytes, bits);
      break;
    }
    case CEVT_LPWSTR:
      for (const WCHAR* c = v.val.lpwstr; c && *c; ++c) ce::le::Put16(&p.bytes, *c);
      break;
    case CEVT_BLOB:
    case CEVT_STREAM:
      if (v.val.blob.dwCount) p.bytes.assign(reinterpret_cast<const char*>(v.val.blob.lpb), v.val.blob.dwCount);
      break;
  }
  return p;
}

struct Record {
  CEOID oid = 0;
  DWORD error = 0;  // the read failed
  std::vector<Prop> props;
};

// Every record of a database in the store's order; a record whose read
// fails is kept with its error.
bool Records(const Store& s, CEOID db, std::vector<Record>* out, std::string* error) {
  HANDLE h = OpenByOid(s, db);
  if (h == INVALID_HANDLE_VALUE) {
    *error = "opening database " + std::to_string(db) + " failed with " + ce::DescribeError(GetLastError());
    return false;
  }
  std::vector<CEOID> ids;
  for (CEOID id = CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 0, 0, nullptr); id;
       id = CeSeekDatabaseEx(h, CEDB_SEEK_CURRENT, 1, 0, nullptr))
    ids.push_back(id);
  LPBYTE buf = nullptr;
  DWORD size = 0;
  for (CEOID id : ids) {
    Record r;
    r.oid = id;
    WORD count = 0;
    if (!CeSeekDatabaseEx(h, CEDB_SEEK_CEOID, id, 0, nullptr) ||
        !CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, nullptr, &buf, &size, nullptr)) {
      r.error = GetLastError();
    } else {
      const auto* vals = reinterpret_cast<const CEPROPVAL*>(buf);
      for (WORD i = 0; i < count; ++i) r.props.push_back(Copy(vals[i]));
    }
    out->push_back(std::move(r));
  }
  LocalFree(buf);
  CloseHandle(h);
  return true;
}

std::string Hex(std::string_view b, size_t max) {
  std::string out;
  char x[4];
  for (size_t i = 0; i < b.size() && i < max; ++i) {
    snprintf(x, sizeof x, "%02x", static_cast<unsigned char>(b[i]));
    out += x;
  }
  if (b.size() > max) out += "...";
  return out;
}

std::string ValueText(const Prop& p) {
  const std::string& b = p.bytes;
  char buf[96];
  switch (TypeFromPropID(p.id)) {
    case CEVT_I2:
      return std::to_string(static_cast<int16_t>(ce::le::Get16(b, 0)));
    case CEVT_UI2:
      return std::to_string(ce::le::Get16(b, 0));
    case CEVT_I4:
    case CEVT_AUTO_I4:
      return std::to_string(static_cast<int32_t>(ce::le::Get32(b, 0)));
    case CEVT_UI4:
    case CEVT_RECID:
      return std::to_string(ce::le::Get32(b, 0));
    case CEVT_BOOL:
      snprintf(buf, sizeof buf, "bool 0x%08X", ce::le::Get32(b, 0));
      return buf;
    case CEVT_FILETIME:
      snprintf(buf, sizeof buf, "filetime 0x%08X:%08X", ce::le::Get32(b, 4), ce::le::Get32(b, 0));
      return buf;
    case CEVT_R8: {
      const uint64_t bits = ce::le::Get64(b, 0);
      double d;
      std::memcpy(&d, &bits, 8);
      snprintf(buf, sizeof buf, "%.17g (0x%016llX)", d, static_cast<unsigned long long>(bits));
      return buf;
    }
    case CEVT_AUTO_I8:
      return std::to_string(static_cast<int64_t>(ce::le::Get64(b, 0)));
    case CEVT_LPWSTR: {
      u16 t;
      for (size_t i = 0; i + 1 < b.size(); i += 2) t += static_cast<char16_t>(ce::le::Get16(b, i));
      std::string s = ce::ToUtf8(t);
      if (s.size() > 120) s = s.substr(0, 120) + "...";
      return "\"" + s + "\"";
    }
    default:
      snprintf(buf, sizeof buf, "%zu bytes, crc32 %08lX: ", b.size(),
               crc32(0, reinterpret_cast<const Bytef*>(b.data()), static_cast<uInt>(b.size())));
      return buf + Hex(b, 32);
  }
}

std::string Sha256(std::string_view data) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!EVP_Digest(data.data(), data.size(), md, &n, EVP_sha256(), nullptr)) return "(no digest)";
  return Hex(std::string_view(reinterpret_cast<const char*>(md), n), n);
}

// The hash of a database's records: the property bytes of each record
// (auto-increment values left out, properties by id), the records' hashes
// sorted, so neither record order nor the counters count.
std::string Digest(const std::vector<Record>& records) {
  std::vector<std::string> hashes;
  for (const Record& r : records) {
    std::vector<const Prop*> props;
    for (const Prop& p : r.props)
      if (TypeFromPropID(p.id) != CEVT_AUTO_I4 && TypeFromPropID(p.id) != CEVT_AUTO_I8) props.push_back(&p);
    std::stable_sort(props.begin(), props.end(), [](const Prop* a, const Prop* b) { return a->id < b->id; });
    std::string canon;
    if (r.error) ce::le::Put32(&canon, r.error);  // an unreadable record counts as such
    for (const Prop* p : props) {
      ce::le::Put32(&canon, p->id);
      ce::le::Put32(&canon, static_cast<uint32_t>(p->bytes.size()));
      canon += p->bytes;
    }
    hashes.push_back(Sha256(canon));
  }
  std::sort(hashes.begin(), hashes.end());
  std::string all;
  for (const std::string& h : hashes) all += h;
  return Sha256(all);
}

int CmdVolumes() {
  for (const ce::MountedVolume& v : ce::ListMountedVolumes())
    std::cout << (v.edb ? "EDB " : "CEDB") << "  " << GuidText(v.guid) << "  count " << v.count << "  "
              << (v.system ? "system" : "      ") << "  " << ce::ToUtf8(v.path) << "\n";
  return 0;
}

// Every store the device has: the object store in both generations, the
// mounted volumes and the system's volumes (mounted for the command when
// they are not), in that order.
bool AllStores(std::vector<Store>* out, std::string* error) {
  out->emplace_back("SystemHeap", ZERO_CEGUID, false, false);
  out->emplace_back("SystemHeap", ZERO_CEGUID, true, false);
  std::vector<u16> paths;
  for (const ce::MountedVolume& v : ce::ListMountedVolumes()) paths.push_back(v.path);
  for (const ce::SystemVolume& v : ce::Device::Current()->GetProfile().systemVolumes) {
    ce::ResolvedPath r;
    if (!ce::Device::Current()->Resolve(v.path, &r) || !r.exists) continue;
    if (std::none_of(paths.begin(), paths.end(), [&](const u16& p) { return ce::EqualNoCase(p, r.device); }))
      paths.push_back(r.device);
  }
  for (const u16& p : paths)
    if (!StoresOf(ce::ToUtf8(p), 0, out, error)) return false;
  return true;
}

int CmdList(const std::vector<std::string>& args, int gen) {
  std::vector<Store> stores;
  std::string error;
  if (args.size() > 1) return Usage();
  if (!(args.empty() ? AllStores(&stores, &error) : StoresOf(args[0], gen, &stores, &error))) return Fail(error);
  for (const Store& s : stores) {
    std::vector<DbEntry> dbs;
    if (!Databases(s, &dbs, &error)) return Fail(error);
    for (const DbEntry& e : dbs) {
      const CEDBASEINFOEX& i = e.info.infDatabase;
      char line[160];
      snprintf(line, sizeof line, "  oid %-8u type 0x%08X  records %-6u bytes %-9u sort orders %u", e.oid,
               i.dwDbaseType, i.dwNumRecords, i.dwSize, i.wNumSortOrder);
      std::cout << s.label() << (s.edb() ? "  EDB   " : "  CEDB  ") << Name(e) << line << "\n";
    }
  }
  return 0;
}

int CmdDump(const std::vector<std::string>& args, int gen) {
  if (args.size() != 2) return Usage();
  std::vector<Store> stores;
  std::string error;
  if (!StoresOf(args[0], gen, &stores, &error)) return Fail(error);
  const u16 wanted = ce::FromUtf8(args[1]);
  for (const Store& s : stores) {
    std::vector<DbEntry> dbs;
    if (!Databases(s, &dbs, &error)) return Fail(error);
    for (const DbEntry& e : dbs) {
      if (!ce::EqualNoCase(e.info.infDatabase.szDbaseName, wanted)) continue;
      const CEDBASEINFOEX& i = e.info.infDatabase;
      std::cout << "database " << Name(e) << " (" << (s.edb() ? "EDB" : "CEDB") << ", oid " << e.oid << ", volume "
                << GuidText(e.info.guidVol) << ")\n";
      char line[200];
      snprintf(line, sizeof line, "  type 0x%08X  flags 0x%08X  records %u  bytes %u  modified 0x%08X:%08X\n",
               i.dwDbaseType, i.dwFlags, i.dwNumRecords, i.dwSize, i.ftLastModified.dwHighDateTime,
               i.ftLastModified.dwLowDateTime);
      std::cout << line;
      for (WORD o = 0; o < i.wNumSortOrder; ++o) {
        std::cout << "  sort order " << o << ":";
        for (WORD p = 0; p < i.rgSortSpecs[o].wNumProps && p < CEDB_MAXSORTPROP; ++p) {
          snprintf(line, sizeof line, " 0x%08X/0x%X", i.rgSortSpecs[o].rgPropID[p], i.rgSortSpecs[o].rgdwFlags[p]);
          std::cout << line;
        }
        std::cout << "\n";
      }
      if (s.edb()) {
        HANDLE h = OpenByOid(s, e.oid);
        WORD count = 0;
        if (h != INVALID_HANDLE_VALUE && CeGetDatabaseProps(h, &count, nullptr, nullptr)) {
          std::vector<CEPROPSPEC> specs(count);
          std::vector<u16> names(count, u16(CEDB_MAXPROPNAMELEN + 1, u'\0'));
          for (WORD d = 0; d < count; ++d) {
            specs[d].pwszPropName = names[d].data();
            specs[d].cchPropName = CEDB_MAXPROPNAMELEN + 1;
          }
          if (CeGetDatabaseProps(h, &count, nullptr, specs.data()))
            for (WORD d = 0; d < count; ++d) {
              snprintf(line, sizeof line, "  definition 0x%08X flags 0x%X ", specs[d].propid, specs[d].dwFlags);
              std::cout << line << ce::ToUtf8(names[d].c_str()) << "\n";
            }
        }
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
      }
      std::vector<Record> records;
      if (!Records(s, e.oid, &records, &error)) return Fail(error);
      for (const Record& r : records) {
        std::cout << "record " << r.oid;
        if (r.error) {
          std::cout << ": unreadable, " << ce::DescribeError(r.error) << "\n";
          continue;
        }
        std::cout << " (" << r.props.size() << " properties)\n";
        for (const Prop& p : r.props) {
          snprintf(line, sizeof line, "  0x%08X ", p.id);
          std::cout << line << ValueText(p) << "\n";
        }
      }
      return 0;
    }
  }
  return Fail("no database " + args[1] + " in " + args[0]);
}

// Deletes one record (by its oid) of a database, as a user's program would.
int CmdDelete(const std::vector<std::string>& args, int gen) {
  if (args.size() != 3) return Usage();
  std::vector<Store> stores;
  std::string error;
  if (!StoresOf(args[0], gen, &stores, &error)) return Fail(error);
  const u16 wanted = ce::FromUtf8(args[1]);
  char* end = nullptr;
  const unsigned long record = strtoul(args[2].c_str(), &end, 0);
  if (args[2].empty() || *end != '\0') return Fail("bad record oid " + args[2]);
  for (const Store& s : stores) {
    std::vector<DbEntry> dbs;
    if (!Databases(s, &dbs, &error)) return Fail(error);
    for (const DbEntry& e : dbs) {
      if (!ce::EqualNoCase(e.info.infDatabase.szDbaseName, wanted)) continue;
      HANDLE h = OpenByOid(s, e.oid);
      if (h == INVALID_HANDLE_VALUE) return Fail("cannot open " + args[1] + ": " + ce::DescribeError(GetLastError()));
      const bool deleted = CeDeleteRecord(h, static_cast<CEOID>(record));
      const DWORD code = GetLastError();
      CloseHandle(h);
      if (!deleted) return Fail("record " + args[2] + " not deleted: " + ce::DescribeError(code));
      return 0;
    }
  }
  return Fail("no database " + args[1] + " in " + args[0]);
}

int CmdDigest() {
  std::vector<Store> stores;
  std::string error;
  if (!AllStores(&stores, &error)) return Fail(error);
  for (const Store& s : stores) {
    std::vector<DbEntry> dbs;
    if (!Databases(s, &dbs, &error)) return Fail(error);
    for (const DbEntry& e : dbs) {
      std::vector<Record> records;
      if (!Records(s, e.oid, &records, &error)) return Fail(error);
      std::cout << s.label() << "\t" << (s.edb() ? "EDB" : "CEDB") << "\t" << Name(e) << "\t" << records.size()
                << "\t" << Digest(records) << "\n";
    }
  }
  return 0;
}

}  // namespace

int CmdDb(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string verb = argv[3];
  int gen = 0;
  std::vector<std::string> args;
  for (int i = 4; i < argc; ++i) {
    if (strcmp(argv[i], "--cedb") == 0)
      gen = 1;
    else if (strcmp(argv[i], "--edb") == 0)
      gen = 2;
    else
      args.push_back(argv[i]);
  }
  if (verb == "volumes" && args.empty()) return CmdVolumes();
  if (verb == "list") return CmdList(args, gen);
  if (verb == "dump") return CmdDump(args, gen);
  if (verb == "digest" && args.empty()) return CmdDigest();
  if (verb == "delete") return CmdDelete(args, gen);
  return Usage();
}

}  // namespace cedev
