// Writes the fuzz seed corpus into a host folder:
//   image/   real small images (an empty one, one with a file entry)
//   index/   the INDEX_ENTRY block of an image, alone
//   header/  single 80-byte entry headers
//   database/ a database entry with its record entries, ended by an index
//            header (CEDB in the object store; EDB in a volume, with
//            definitions)
//   xml/     configuration, inclusion list, schedule, resource XML files, a
//            dialog template, a menu bar and a screen file
//   volume/  small database volume files (CEDB and EDB, every value type)
//   record/  records' stored properties
//   deploy/  a kiosk deployment's options file
// Usage: quilmo_fuzz_seeds OUTPUT_FOLDER. Exit code 0 on success.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sqlite3.h>
#include <zlib.h>

#include "ce/bytes.h"
#include "ce/database.h"
#include "ce/file.h"
#include "engine/DatabaseEntryFormat.h"
#include "image/Cipher.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

bool Put(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

std::string HeaderBytes(const AImageFileHeader& header) {
  return std::string(reinterpret_cast<const char*>(header.Bytes()), ImageFormat::kHeaderSize);
}

struct WrittenImage {
  std::string bytes;
  DWORD indexOffset = 0;  // where the INDEX_ENTRY header starts
};

// An image with a file-system node holding fileNames (each written as a
// FILE_ENTRY with its name and a zero find-data block, no data), the index
// and the END_OF_IMAGE tail, as the backup writes them.
bool WriteImage(const quilmo::test::TestDevice& dev, const std::u16string& devicePath,
                const std::vector<std::u16string>& fileNames, WrittenImage* out) {
  Index index;
  Index::Item top;
  top.ComponentType = TREE_FILESYSTEM;
  top.name = u"File System";
  index.AddChildren(0, {top});
  int fsNode = index.FindChildOfType(TREE_FILESYSTEM);
  std::vector<Index::Item> files;
  for (const auto& name : fileNames) {
    Index::Item item;
    item.ComponentType = FILE_ENTRY;
    item.name = u"\\" + name;
    item.attributes = FILE_ATTRIBUTE_ARCHIVE;
    files.push_back(item);
  }
  if (!files.empty()) index.AddChildren(fsNode, files);

  AImageFile image(devicePath, AImageFile::kBackup);
  if (!image.Open()) return false;
  int node = files.empty() ? -1 : index.FirstChild(fsNode);
  for (const auto& name : fileNames) {
    DWORD offset = 0;
    image.GetBytesWritten(&offset);
    std::u16string stored = u"\\" + name;
    DWORD nameBytes = static_cast<DWORD>((stored.size() + 1) * 2);
    AImageFileHeader header(FILE_ENTRY, nameBytes + ImageFormat::kFindDataRecordSize, 0, nameBytes, 0, 0);
    BYTE block[ImageFormat::kFileEntryBlockSize] = {};
    if (!header.WritePlain(image) || !image.Write(stored.c_str(), nameBytes, false, true) ||
        !image.Write(block, sizeof(block), false, true))
      return false;
    DWORD end = 0;
    image.GetBytesWritten(&end);
    index.SetLocation(node, offset, end - offset, 0, 0, 0);
    node = index.NextSibling(node);
  }
  image.GetBytesWritten(&out->indexOffset);
  DWORD stored = 0;
  if (!index.Store(image, false, &stored) || !image.FlushWriteBuffer()) return false;
  AImageFileHeader tail(END_OF_IMAGE, stored, 0, 0, image.GetCRC(), 0);
  if (!tail.WritePlain(image) || !image.Close()) return false;
  out->bytes = dev.ReadFile(devicePath);
  return true;
}

// A volume of one generation holding a database with a record of every
// type it takes, repacked with small pages so the seed stays small.
bool WriteVolume(const quilmo::test::TestDevice& dev, const std::u16string& path, bool edb, std::string* out) {
  const WORD types[] = {CEVT_I2, CEVT_UI2, CEVT_I4, CEVT_UI4, CEVT_R8, CEVT_BOOL, CEVT_FILETIME, CEVT_LPWSTR,
                        CEVT_BLOB, CEVT_STREAM, CEVT_RECID, CEVT_AUTO_I4, CEVT_AUTO_I8};
  const size_t n = edb ? std::size(types) : 9;
  CEGUID g{};
  LPWSTR p = const_cast<LPWSTR>(path.c_str());
  if (!(edb ? CeMountDBVolEx(&g, p, nullptr, OPEN_ALWAYS) : CeMountDBVol(&g, p, OPEN_ALWAYS))) return false;
  std::vector<CEPROPSPEC> defs(n);
  std::vector<CEPROPVAL> vals(n);
  std::u16string text = u"seed text \u00e9";
  std::string blob = "seed blob bytes";
  for (size_t i = 0; i < n; ++i) {
    defs[i] = CEPROPSPEC{CEPROPSPEC_VERSION, MAKE_CEPROPID(i + 1, types[i]), 0, nullptr, 0};
    vals[i] = CEPROPVAL{};
    vals[i].propid = defs[i].propid;
    vals[i].val.llVal = static_cast<LONGLONG>(0x0102030405060708ll * static_cast<LONGLONG>(i + 1));
    if (types[i] == CEVT_LPWSTR) vals[i].val.lpwstr = text.data();
    if (types[i] == CEVT_BLOB || types[i] == CEVT_STREAM)
      vals[i].val.blob = {static_cast<DWORD>(blob.size()), reinterpret_cast<LPBYTE>(blob.data())};
  }
  CEOID oid = 0;
  if (edb) {
    CEDBASEINFOEX info{};
    info.dwFlags = CEDB_VALIDNAME;
    std::copy_n(u"Seed", 4, info.szDbaseName);
    oid = CeCreateDatabaseWithProps(&g, &info, static_cast<DWORD>(n), defs.data());
  } else {
    CEDBASEINFO info{};
    info.dwFlags = CEDB_VALIDNAME;
    std::copy_n(u"Seed", 4, info.szDbaseName);
    oid = CeCreateDatabaseEx(&g, &info);
  }
  HANDLE h = edb ? CeOpenDatabaseInSession(nullptr, &g, &oid, nullptr, nullptr, 0, nullptr)
                 : CeOpenDatabaseEx2(&g, &oid, nullptr, nullptr, 0, nullptr);
  bool ok = h != INVALID_HANDLE_VALUE && CeWriteRecordProps(h, 0, static_cast<WORD>(n), vals.data()) &&
            CeWriteRecordProps(h, 0, 1, vals.data());
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  ok = CeUnmountDBVol(&g) && ok;
  sqlite3* db = nullptr;
  ok = ok && sqlite3_open(dev.Host(path).c_str(), &db) == SQLITE_OK &&
       sqlite3_exec(db, "PRAGMA page_size=512; VACUUM;", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  *out = dev.ReadFile(path);
  return ok;
}

// A record's stored properties: u32 property id, u32 length, the bytes.
std::string StoredRecord() {
  std::string b;
  auto put = [&](CEPROPID id, const std::string& v) {
    ce::le::Put32(&b, id);
    ce::le::Put32(&b, static_cast<uint32_t>(v.size()));
    b += v;
  };
  put(MAKE_CEPROPID(1, CEVT_I4), std::string("\x2a\0\0\0", 4));
  put(MAKE_CEPROPID(2, CEVT_LPWSTR), std::string("h\0i\0", 4));
  put(MAKE_CEPROPID(3, CEVT_BLOB), "blob");
  put(MAKE_CEPROPID(4, CEVT_R8), std::string(8, '\x7f'));
  put(MAKE_CEPROPID(5, CEVT_UI2), std::string(2, '\xff'));
  return b;
}

// The image reads back: it is a backup file and its index is found through
// the tail with every node written.
bool ReadsBack(const std::u16string& devicePath, int nodes) {
  if (!AImageFile::IsBackupFile(devicePath)) return false;
  AImageFile image(devicePath, AImageFile::kRestore);
  Index index;
  bool ok = image.Open() && index.Locate(image, false) && index.NodeCount() == nodes;
  return image.Close() && ok;
}

// One property of a seed record: its value record and what follows it.
struct SeedProperty {
  DWORD id = 0;
  LONGLONG value = 0;  // fixed types
  std::u16string text;
  std::string bytes;  // blobs and streams
};

DWORD Crc(DWORD crc, const void* data, size_t length) {
  if (length == 0) return crc;
  return static_cast<DWORD>(crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(length)));
}

// A record body as the database component stores it, and its crc.
std::string RecordBody(const std::vector<SeedProperty>& properties, DWORD* crc) {
  std::string body;
  *crc = 0;
  for (const SeedProperty& p : properties) {
    StoredPropertyValue stored{};
    stored.propertyId = p.id;
    const WORD type = TypeFromPropID(p.id);
    if (type == CEVT_BLOB || type == CEVT_STREAM) {
      const DWORD count = static_cast<DWORD>(p.bytes.size());
      std::memcpy(stored.value, &count, sizeof count);
    } else if (type != CEVT_LPWSTR) {
      std::memcpy(stored.value, &p.value, sizeof p.value);
    }
    body.append(reinterpret_cast<const char*>(&stored), sizeof stored);
    *crc = Crc(*crc, &stored, sizeof stored);
    if (type == CEVT_LPWSTR) {
      const DWORD length = static_cast<DWORD>((p.text.size() + 1) * 2);
      body.append(reinterpret_cast<const char*>(&length), sizeof length);
      body.append(reinterpret_cast<const char*>(p.text.c_str()), length);
      *crc = Crc(*crc, p.text.data(), p.text.size() * 2);
    } else if (type == CEVT_BLOB || type == CEVT_STREAM) {
      body += p.bytes;
      *crc = Crc(*crc, p.bytes.data(), p.bytes.size());
    }
  }
  return body;
}

// A database entry and its records, enciphered with the key table's key
// as the backup writes them, ended by an index header.
bool WriteDatabaseSeed(const quilmo::test::TestDevice& dev, const std::u16string& devicePath, bool edb,
                       std::string* out) {
  using namespace DatabaseEntryFormat;
  if (!InitCipherKey(false, nullptr)) return false;
  DatabaseInfoRecord info{};
  info.version = edb ? kDatabaseInfoVersionEdb : kDatabaseInfoVersionCedb;
  info.objectType = OBJTYPE_DATABASE;
  info.infoVersion = info.version;
  const std::u16string name = edb ? u"Tasks" : u"Contacts";
  std::copy(name.begin(), name.end(), info.name);
  info.type = 7;
  info.numRecords = 2;
  info.numSortOrders = 1;
  info.sortOrders[0].numProperties = 1;
  info.sortOrders[0].propertyIds[0] = MAKE_CEPROPID(1, CEVT_LPWSTR);
  const std::u16string volume = edb ? u"\\pim.vol" : kSystemHeap;
  const DWORD nameBytes = static_cast<DWORD>((volume.size() + 1) * 2);
  const std::vector<std::vector<SeedProperty>> records = {
      {{MAKE_CEPROPID(1, CEVT_LPWSTR), 0, u"Zo\u00eb", ""},
       {MAKE_CEPROPID(2, CEVT_BLOB), 0, u"", std::string("\x00\x01\xFF", 3)},
       {MAKE_CEPROPID(3, CEVT_I4), -7, u"", ""}},
      {{MAKE_CEPROPID(4, CEVT_R8), 0x7FF8000000000001LL, u"", ""},
       {MAKE_CEPROPID(2, CEVT_BLOB), 0, u"", ""},
       {MAKE_CEPROPID(edb ? 5 : 6, edb ? CEVT_AUTO_I4 : CEVT_FILETIME), 1, u"", ""}},
  };
  AImageFile image(devicePath, AImageFile::kBackup);
  if (!image.Open()) return false;
  bool ok = AImageFileHeader(kDatabaseEntryType, kInfoSize, 0, nameBytes, Crc(0, &info, sizeof info), 0)
                .WriteEnciphered(image) &&
            image.Write(&info, kInfoSize, true, false) && image.Write(volume.c_str(), nameBytes, true, !edb);
  if (edb) {
    const DWORD ids[] = {MAKE_CEPROPID(1, CEVT_LPWSTR), MAKE_CEPROPID(2, CEVT_BLOB), MAKE_CEPROPID(3, CEVT_I4),
                         MAKE_CEPROPID(4, CEVT_R8), MAKE_CEPROPID(5, CEVT_AUTO_I4)};
    const WORD count = static_cast<WORD>(std::size(ids));
    ok = ok && image.Write(&count, sizeof count, true, false);
    for (WORD i = 0; ok && i < count; ++i) {
      const StoredPropertyDefinition definition{1, ids[i], 0, 0, kDefinitionNameCapacity};
      char16_t nameBuffer[kDefinitionNameBytes / 2] = {u'P', static_cast<char16_t>(u'0' + i)};
      ok = image.Write(&definition, sizeof definition, true, false) &&
           image.Write(nameBuffer, kDefinitionNameBytes, true, i + 1 == count);
    }
  }
  DWORD oid = 0x10000;
  for (const auto& record : records) {
    DWORD crc = 0;
    const std::string body = RecordBody(record, &crc);
    ok = ok &&
         AImageFileHeader(kRecordEntryType, static_cast<DWORD>(body.size()), static_cast<DWORD>(record.size()), 0,
                          crc, oid++)
             .WriteEnciphered(image) &&
         image.Write(body.data(), static_cast<DWORD>(body.size()), true, true);
  }
  ok = ok && AImageFileHeader(INDEX_ENTRY, 0, 0, 0, 0, 0).WriteEnciphered(image);
  if (!image.Close() || !ok) return false;
  *out = dev.ReadFile(devicePath);
  return true;
}

const char* const kXmlSeeds[][2] = {
    {"config.xml",
     "<?xml version=\"1.0\"?>\n<configuration>\n"
     "  <!-- product settings -->\n"
     "  <config name=\"ApplicationName\" type=\"string\" value=\"Quilmo Backup\"/>\n"
     "  <config name=\"EnableLogging\" type=\"bool\" value=\"true\"/>\n"
     "  <config name=\"MaxImages\" type=\"dword\" value=\"3\"/>\n"
     "  <config name=\"Key\" type=\"binary\" value=\"0A,FF,3\"/>\n"
     "  <config name=\"Empty\" type=\"BINARY\"/>\n"
     "</configuration>\n"},
    {"inclusion.xml",
     "<?xml version=\"1.0\"?>\n<inclusion-list>\n"
     "  <toplevel name=\"filesystem\">\n"
     "    <directory name=\"\\My Documents\"/>\n"
     "    <!-- one file -->\n"
     "    <file name=\"\\Windows\\*.txt\"/>\n"
     "    <file name=\"\\pim.vol\"/>\n"
     "  </toplevel>\n"
     "  <toplevel name=\"mail\"/>\n  <toplevel name=\"databases\"/>\n  <toplevel name=\"registry\"/>\n"
     "</inclusion-list>\n"},
    {"schedule.xml",
     "<?xml version=\"1.0\"?>\n<schedule>\n"
     "  <once at=\"10:30\" on=\"2006-03-07\" filename=\"\\temp\\Backup.pbf\"/>\n"
     "  <daily at=\"23:00\" filename=\"\\Storage Card\\Daily.pbf\" compress=\"true\" reset=\"false\"/>\n"
     "  <!-- weekly -->\n"
     "  <weekly at=\"2:05\" dayofweek=\"3\" filename=\"\\temp\\Backup.pbf\" autoname=\"true\""
     " stopprocesses=\"TRUE\" remotemode=\"x\" inclusionlist=\"\\inclusion.xml\"/>\n"
     "</schedule>\n"},
    {"schedule-week.xml",
     "<schedule>\n"
     "  <weekly at=\"02:00\" dayofweek=\"Sunday\" filename=\"\\temp\\Sun.pbf\" reset=\"TRUE\"/>\n"
     "  <weekly at=\"23:59\" dayofweek=\"sat\" filename=\"\\temp\\Sat.pbf\"/>\n"
     "  <daily at=\"0:00\" filename=\"\\temp\\Midnight.pbf\" remotemode=\"true\"/>\n"
     "  <once at=\"12:00\" on=\"2024-02-29\" filename=\"\\temp\\Leap.pbf\"/>\n"
     "</schedule>\n"},
    {"schedule-bad.xml",
     "<schedule>\n"
     "  <daily at=\"10:00\" filename=\"\\temp\\a.pbf\"/>\n"
     "  <once at=\"25:61\" on=\"2024-13-40\" dayofweek=\"x\" filename=\"b\"/>\n"
     "  text<hourly at=\"1:00\"/>\n"
     "</schedule>\n"},
    {"customres.xml",
     "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<resources>\n"
     "  <string id=\"65300\" value=\"Scheduled backup missed\"/>\n"
     "  <bitmap id=\"1\" file=\"logo.bmp\"/>\n"
     "</resources>\n"},
    {"dialog.xml",
     "<dialog id=\"231\" width=\"240\" height=\"294\" style=\"0x80C80000\" caption=\"Quilmo &amp; co\""
     " font=\"13\">\n"
     "  <control id=\"-1\" class=\"STATIC\" x=\"4\" y=\"2\" width=\"232\" height=\"18\" style=\"0x50000000\""
     " text=\"Enter the password:&#10;\"/>\n"
     "  <control id=\"2018\" class=\"EDIT\" x=\"4\" y=\"24\" width=\"232\" height=\"20\" style=\"0x508100A0\"/>\n"
     "  <control id=\"1\" class=\"BUTTON\" x=\"4\" y=\"50\" width=\"60\" height=\"22\" style=\"0x50010001\""
     " text=\"OK\"/>\n"
     "</dialog>\n"},
    {"menubar.xml",
     "<menubar id=\"65361\">\n"
     "  <button id=\"65359\" text=\"Menu\">\n"
     "    <item id=\"32818\" string=\"65172\"/>\n"
     "    <separator/>\n"
     "    <popup text=\"Options &amp; more\"> <item id=\"32810\" text=\"Backup\"/> </popup>\n"
     "  </button>\n"
     "  <button id=\"1\" text=\"OK\"/>\n"
     "  <button id=\"65360\" text=\"Tools\" menu=\"1\"/>\n"
     "</menubar>\n"},
    {"screen.xml",
     "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
     "<screen width=\"240\" height=\"320\" workTop=\"26\" workBottom=\"294\" scale=\"1\" pid=\"4242\""
     " program=\"\\Program Files\\Quilmo\\Quilmo Backup.exe\">\n"
     " <window hwnd=\"65538\" class=\"#32770\" id=\"231\" title=\"Quilmo Backup\" x=\"0\" y=\"26\""
     " width=\"240\" height=\"268\" style=\"0x90C80000\" focus=\"1073741827\" active=\"1\">\n"
     "  <control hwnd=\"1073741826\" parent=\"65538\" class=\"STATIC\" id=\"-1\" x=\"4\" y=\"28\""
     " width=\"232\" height=\"18\" style=\"0x50000000\" text=\"Enter the password:\" visible=\"1\""
     " enabled=\"1\"/>\n"
     "  <control hwnd=\"1073741827\" parent=\"65538\" class=\"EDIT\" id=\"2018\" x=\"4\" y=\"50\""
     " width=\"232\" height=\"20\" style=\"0x508100A0\" text=\"*******\" visible=\"1\" enabled=\"1\""
     " focus=\"1\"/>\n"
     "  <control hwnd=\"1073741828\" parent=\"65538\" class=\"BUTTON\" id=\"2010\" x=\"4\" y=\"76\""
     " width=\"150\" height=\"20\" style=\"0x50010003\" text=\"Remember &amp; log in\" visible=\"1\""
     " enabled=\"0\" checked=\"2\"/>\n"
     "  <control hwnd=\"1073741829\" parent=\"65538\" class=\"COMBOBOX\" id=\"2053\" x=\"4\" y=\"100\""
     " width=\"150\" height=\"80\" style=\"0x50210003\" text=\"\" visible=\"1\" enabled=\"1\" cursel=\"1\""
     " dropped=\"1\">\n"
     "   <item text=\"Daily\"/><item text=\"Weekly\"/>\n"
     "  </control>\n"
     "  <control hwnd=\"1073741830\" parent=\"65538\" class=\"msctls_progress32\" id=\"2054\" x=\"4\""
     " y=\"190\" width=\"200\" height=\"12\" style=\"0x50000001\" visible=\"1\" enabled=\"1\" pos=\"50\""
     " min=\"0\" max=\"100\"/>\n"
     "  <control hwnd=\"1073741831\" parent=\"65538\" class=\"BUTTON\" id=\"1\" x=\"4\" y=\"260\""
     " width=\"60\" height=\"22\" style=\"0x50010001\" text=\"OK\" visible=\"1\" enabled=\"1\""
     " checked=\"0\">\n"
     "   <draw kind=\"image\" x=\"8\" y=\"264\" x2=\"10\" y2=\"265\" image=\"0\"/>\n"
     "  </control>\n"
     "  <draw kind=\"line\" x=\"0\" y=\"46\" x2=\"240\" y2=\"46\" color=\"#000080\"/>\n"
     "  <draw kind=\"fill\" x=\"10\" y=\"206\" x2=\"42\" y2=\"238\" color=\"#008000\"/>\n"
     "  <draw kind=\"frame\" x=\"10\" y=\"206\" x2=\"42\" y2=\"238\" color=\"#000000\"/>\n"
     "  <draw kind=\"text\" x=\"44\" y=\"206\" x2=\"236\" y2=\"222\" color=\"#FF0000\" text=\"Hi\""
     " format=\"0x00000021\" fontHeight=\"16\" bold=\"1\"/>\n"
     " </window>\n"
     " <image key=\"0\" width=\"2\" height=\"1\" rgba=\"/wAA/wD/AP8=\"/>\n"
     "</screen>\n"},
    {"broken.xml", "<configuration><config name=\"a\" type=\"dword\" value=\"1\"></configuratio"},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  fs::path out = argv[1];
  quilmo::test::TestDevice dev;
  dev.MakeDir(u"\\temp");

  WrittenImage empty, small;
  if (!WriteImage(dev, u"\\temp\\empty.pbf", {}, &empty) ||
      !WriteImage(dev, u"\\temp\\small.pbf", {u"notes.txt", u"pim.vol", u"Program Files"}, &small) ||
      !ReadsBack(u"\\temp\\empty.pbf", 2) || !ReadsBack(u"\\temp\\small.pbf", 5)) {
    std::fprintf(stderr, "writing the seed images failed\n");
    return 1;
  }
  bool ok = Put(out / "image" / "empty.pbf", empty.bytes) && Put(out / "image" / "small.pbf", small.bytes);
  // The index block alone: from its header up to the tail.
  size_t tail = small.bytes.size() - ImageFormat::kHeaderSize;
  ok = ok && Put(out / "index" / "index.bin", small.bytes.substr(small.indexOffset, tail - small.indexOffset));
  ok = ok && Put(out / "header" / "file.bin", small.bytes.substr(0, ImageFormat::kHeaderSize)) &&
       Put(out / "header" / "index.bin", small.bytes.substr(small.indexOffset, ImageFormat::kHeaderSize)) &&
       Put(out / "header" / "end.bin", small.bytes.substr(tail)) &&
       Put(out / "header" / "metadata.bin", HeaderBytes(AImageFileHeader(
                                                  METADATA_ENTRY, ImageFormat::kMetadataBlockSize, 0, 0, 0, 0)));
  for (const auto& [name, text] : kXmlSeeds) ok = ok && Put(out / "xml" / name, text);
  std::string cedb, edb;
  ok = ok && WriteDatabaseSeed(dev, u"\\temp\\cedb.bin", false, &cedb) &&
       WriteDatabaseSeed(dev, u"\\temp\\edb.bin", true, &edb) && Put(out / "database" / "cedb.bin", cedb) &&
       Put(out / "database" / "edb.bin", edb);
  std::string cedbVolume, edbVolume;
  ok = ok && WriteVolume(dev, u"\\temp\\cedb.vol", false, &cedbVolume) &&
       WriteVolume(dev, u"\\temp\\edb.vol", true, &edbVolume) && Put(out / "volume" / "cedb.vol", cedbVolume) &&
       Put(out / "volume" / "edb.vol", edbVolume) && Put(out / "record" / "record.bin", StoredRecord());
  ok = ok && Put(out / "deploy" / "DeployOptions.txt",
                 "// kiosk\r\nAUTORUN=TRUE\r\nAUTORESET=FALSE\r\nUSEMARKERFILE=FALSE\r\nCONFIRMTEXT=<DEFAULT>\r\n"
                 "SUCCESSTEXT=Done\\nThanks\r\nBACKUPFILENAME=\\Storage Card\\kiosk.pbf\r\nKIOSKPWD=secret\r\n"
                 "HOURSBETWEENDEPLOYS=0\r\nMINUTESBETWEENDEPLOYS=30\r\nKIOSKDEMOAPP=demo.exe\r\n");
  if (!ok) {
    std::fprintf(stderr, "writing the seeds into %s failed\n", out.c_str());
    return 1;
  }
  std::printf("seed corpus written to %s\n", out.c_str());
  return 0;
}
