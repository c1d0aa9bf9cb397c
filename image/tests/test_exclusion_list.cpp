// The exclusion lists: the user's list (shapes, matching, its file), the
// ROM list with its crc check, the fixed tables and the options.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "core/Log.h"
#include "image/ExclusionList.h"
#include "image/ImageFormat.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

const char16_t kProgramFolder[] = u"\\Program Files\\Quilmo Backup\\";

std::string Utf16Le(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::u16string At(const char16_t* folder, const char16_t* name) {
  return std::u16string(folder) + name;
}

// Collects the log's ordinary lines while it buffers.
class LogLines {
 public:
  LogLines() {
    SetLog(&log_);
    log_.Open(false);
  }
  ~LogLines() { SetLog(nullptr); }
  bool Has(const std::string& text) const { return log_.GetBuffer().find(text) != std::string::npos; }

 private:
  ALog log_;
};

std::vector<std::u16string> Entries(const AExclusionList& list) {
  std::vector<std::u16string> out;
  for (int i = 0; i < list.GetCount(); ++i)
    out.push_back(list.GetAt(i).folder.str() + u"|" + list.GetAt(i).extension.str());
  return out;
}

}  // namespace

TEST(AExclusionList, AddSplitsTheShapesAndRefusesTheRest) {
  AExclusionList list(u"\\unused.txt");
  EXPECT_EQ(list.Add(u"\\My Documents\\*.MP3"), 0);
  EXPECT_EQ(list.Add(u"*.TMP"), 1);
  EXPECT_EQ(list.Add(u"\\Music"), 2);
  EXPECT_EQ(list.Add(u"\\Notes\\*.*"), 3);
  EXPECT_EQ(list.Add(u"\\*.bak"), 4);
  EXPECT_EQ(list.Add(u"\\Old Stuff\\"), 5);
  EXPECT_EQ(Entries(list), (std::vector<std::u16string>{u"\\my documents\\|mp3", u"|tmp",
                                                        u"\\music\\|", u"\\notes\\|*", u"\\|bak",
                                                        u"\\old stuff\\|"}));
  EXPECT_EQ(list.MakePattern(0), u"\\my documents\\*.mp3");
  EXPECT_EQ(list.MakePattern(1), u"*.tmp");
  EXPECT_EQ(list.MakePattern(2), u"\\music\\");
  EXPECT_EQ(list.MakePattern(9), u"");

  // Refused: not rooted, a plain file name, no star pattern, an empty
  // extension, and characters the list file cannot hold.
  for (const char16_t* bad : {u"My Documents\\*.mp3", u"\\Music\\song.mp3", u"song.mp3", u"",
                              u"*.", u"\\Music\\*.", u"\\Cash$", u"\\a\\*.b$c", u"mp3"}) {
    SCOPED_TRACE(std::string(bad, bad + std::char_traits<char16_t>::length(bad)).size());
    EXPECT_EQ(list.Add(bad), -1);
  }
  EXPECT_EQ(list.GetCount(), 6);

  // Remove takes the pattern text back; exact case.
  EXPECT_FALSE(list.Remove(u"\\Music"));
  EXPECT_TRUE(list.Remove(list.MakePattern(2)));
  EXPECT_TRUE(list.Remove(u"*.tmp"));
  EXPECT_FALSE(list.Remove(u"*.tmp"));
  EXPECT_EQ(list.GetCount(), 4);
}

TEST(AExclusionList, MatchRules) {
  AExclusionList list(u"\\unused.txt");
  list.Add(u"\\Music");
  list.Add(u"*.tmp");
  list.Add(u"\\Notes\\*.*");
  list.Add(u"\\Docs\\*.bak");
  // A folder entry leaves out the folder and everything below it, but not
  // a sibling that begins with the same letters.
  EXPECT_TRUE(list.Match(u"\\MUSIC", u"", true));
  EXPECT_TRUE(list.Match(u"\\Music\\Live\\", u"", true));
  EXPECT_TRUE(list.Match(u"\\Music\\Live\\", u"mp3", false));
  EXPECT_FALSE(list.Match(u"\\Music2\\", u"", true));
  EXPECT_FALSE(list.Match(u"\\Music2\\", u"mp3", false));
  // Extension entries anywhere, in any case; not for folders.
  EXPECT_TRUE(list.Match(u"\\Anywhere\\", u"TMP", false));
  EXPECT_FALSE(list.Match(u"\\Anywhere\\", u"tmp2", false));
  // "*": the folder's files, not its subfolders or their files.
  EXPECT_TRUE(list.Match(u"\\notes\\", u"txt", false));
  EXPECT_FALSE(list.Match(u"\\Notes\\", u"", true));
  EXPECT_FALSE(list.Match(u"\\Notes\\Sub\\", u"txt", false));
  // Folder with extension.
  EXPECT_TRUE(list.Match(u"\\Docs\\", u"BAK", false));
  EXPECT_FALSE(list.Match(u"\\Docs\\", u"doc", false));
  EXPECT_FALSE(list.Match(u"\\Docs\\Old\\", u"bak", false));
}

TEST(AExclusionList, SaveWritesBarAndDollarEntriesThatLoadBack) {
  TestDevice dev;
  AExclusionList list(u"\\ExcludeList.txt");
  list.Add(u"\\Music");
  list.Add(u"*.mp3");
  ASSERT_TRUE(list.Save());
  EXPECT_EQ(dev.ReadFile(u"\\ExcludeList.txt"), Utf16Le(u"\\music\\|$|mp3$"));

  AExclusionList again(u"\\ExcludeList.txt");
  again.Add(u"*.old");  // replaced by the load
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(Entries(again), (std::vector<std::u16string>{u"\\music\\|", u"|mp3"}));

  // The default file lives in the program's folder.
  dev.MakeDir(u"\\Program Files\\Quilmo Backup");
  AExclusionList standard;
  standard.Add(u"*.x");
  ASSERT_TRUE(standard.Save());
  EXPECT_EQ(dev.ReadFile(At(kProgramFolder, u"ExcludeList.txt")), Utf16Le(u"|x$"));
}

TEST(AExclusionList, ReadingStopsAtBadOrCutEntries) {
  TestDevice dev;
  AExclusionList list(u"\\ExcludeList.txt");
  struct Case {
    std::u16string text;
    std::vector<std::u16string> entries;
  } cases[] = {
      // A file cut inside its last entry keeps the complete ones.
      {u"\\a\\|$|mp", {u"\\a\\|"}},
      {u"\\a\\|$|mp3", {u"\\a\\|"}},
      // An entry without "|", or an empty one, ends the list.
      {u"\\a\\|$\\b\\$|c$", {u"\\a\\|"}},
      {u"|x$$|y$", {u"|x"}},
      // An entry with neither folder nor extension would leave out
      // everything: it ends the list.
      {u"|$|y$", {}},
      // Mixed case, a folder without its backslash, a byte-order mark.
      {u"\xFEFF\\Data|TXT$", {u"\\data\\|txt"}},
      {u"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    dev.PutFile(u"\\ExcludeList.txt", Utf16Le(c.text));
    ASSERT_TRUE(list.Load());
    EXPECT_EQ(Entries(list), c.entries);
  }
  // An odd byte at the end is ignored.
  dev.PutFile(u"\\ExcludeList.txt", Utf16Le(u"|x$") + "\x41");
  ASSERT_TRUE(list.Load());
  EXPECT_EQ(Entries(list), (std::vector<std::u16string>{u"|x"}));
  // No file: an empty list.
  AExclusionList missing(u"\\none.txt");
  missing.Add(u"*.a");
  EXPECT_TRUE(missing.Load());
  EXPECT_EQ(missing.GetCount(), 0);
  // Too large to be a list.
  dev.PutFile(u"\\ExcludeList.txt", std::string(1024 * 1024 + 2, 'a'));
  EXPECT_FALSE(list.Load());
}

TEST(AExcludeHandler, FixedTables) {
  TestDevice dev;
  AExcludeHandler::ResetProcessCache();
  AExcludeHandler handler;
  EXPECT_TRUE(handler.IsExcludedDirectory(u"\\windows\\temp"));
  EXPECT_TRUE(handler.IsExcludedDirectory(u"\\Network\\"));
  EXPECT_TRUE(handler.IsExcludedDirectory(u"\\Secure Folder"));
  EXPECT_FALSE(handler.IsExcludedDirectory(u"\\Windows\\Temporary"));
  EXPECT_FALSE(handler.IsExcludedDirectory(u"\\Windows"));

  EXPECT_TRUE(handler.IsExcluded(u"\\temp\\lissent.TXT"));
  EXPECT_TRUE(handler.IsExcluded(u"\\Windows\\ActiveSync\\GCounterFile.mmf"));
  EXPECT_FALSE(handler.IsExcluded(u"\\Windows\\GCounterFile.mmf"));
  EXPECT_TRUE(handler.IsExcluded(u"\\Windows\\ActiveSync\\Restart Synchronization Marker.1"));
  // File names matched on their beginning, in any folder.
  EXPECT_TRUE(handler.IsExcluded(u"\\Storage Card\\backuplog.txt"));
  EXPECT_TRUE(handler.IsExcluded(u"\\temp\\BackupLog.txt.old"));
  EXPECT_TRUE(handler.IsExcluded(u"\\Windows\\mdmlog2.txt"));
  EXPECT_FALSE(handler.IsExcluded(u"\\My Documents\\MyBackupLog.txt"));
  // The agent's databases only while the agent is installed.
  EXPECT_FALSE(handler.IsExcluded(u"\\My Documents\\databases.paf"));
  dev.PutFile(u"\\Windows\\Lissent.exe", "MZ");
  AExcludeHandler::ResetProcessCache();
  EXPECT_TRUE(handler.IsExcluded(u"\\My Documents\\databases.paf"));
  EXPECT_TRUE(handler.IsExcluded(u"\\dbchanges.paf"));
  EXPECT_FALSE(handler.IsExcluded(u"\\Databases.paf"));  // exact case
  AExcludeHandler::ResetProcessCache();
}

TEST(AExcludeHandler, RomListSkipsOnlyFilesWithTheListedCrc) {
  TestDevice dev;
  LogLines lines;
  const std::string content = "original ROM content";
  const DWORD crc = crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                          static_cast<uInt>(content.size()));
  char hex[16];
  snprintf(hex, sizeof hex, "%08X", crc);
  dev.PutFile(u"\\Windows\\rom.dll", content);
  dev.PutFile(u"\\Windows\\other.dll", content);
  dev.PutFile(At(kProgramFolder, u"ExcludeRomFilesList.ini"),
              "% ROM files\r\n\\Windows\\ROM.dll:" + std::string(hex) +
                  "\r\nnot a line\r\n\\Windows\\other.dll:0x12345678\r\n");
  AExcludeHandler::ResetProcessCache();
  AExcludeHandler handler;
  EXPECT_TRUE(handler.IsExcluded(u"\\Windows\\rom.dll"));
  EXPECT_EQ(AExcludeHandler::GetRomEntryCount(), 2);
  EXPECT_TRUE(lines.Has("Loaded rom exclusion list with 2 entries"));
  EXPECT_TRUE(lines.Has("Ignoring custom exclude rom file \\Windows\\rom.dll"));
  EXPECT_FALSE(handler.IsExcluded(u"\\Windows\\other.dll"));
  EXPECT_TRUE(lines.Has("Found custom ROM exclude match \\Windows\\other.dll without CRC match 0x" +
                        [&] {
                          std::string lower(hex);
                          for (char& c : lower) c = static_cast<char>(tolower(c));
                          return lower;
                        }()));
  // Changed content is backed up.
  dev.PutFile(u"\\Windows\\rom.dll", content + "!");
  EXPECT_FALSE(handler.IsExcluded(u"\\Windows\\rom.dll"));
  // The program's mode can switch the ROM test off.
  dev.PutFile(u"\\Windows\\rom.dll", content);
  AExcludeOptions options;
  options.skipRomTest = true;
  handler.SetOptions(options);
  EXPECT_FALSE(handler.IsExcluded(u"\\Windows\\rom.dll"));
  AExcludeHandler::ResetProcessCache();
}

TEST(AExcludeHandler, RomListReadsAtMostAHundredLines) {
  std::string text;
  for (int i = 1; i <= 101; ++i) text += "\\f" + std::to_string(i) + ":" + std::to_string(i) + "\r\n";
  auto entries = AExcludeHandler::ParseRomExcludeList(text.data(), text.size());
  ASSERT_EQ(entries.size(), 100u);
  EXPECT_EQ(entries.back().name, u"\\f100");
  EXPECT_EQ(entries.back().crc, 0x100u);
  // Comments count as lines; a last line without CR LF is read whole.
  text = "%1\r\n";
  for (int i = 2; i <= 100; ++i) text += "%c\r\n";
  text += "\\late:1\r\n";
  EXPECT_TRUE(AExcludeHandler::ParseRomExcludeList(text.data(), text.size()).empty());
  text = "\\a:ABCDEF12";
  entries = AExcludeHandler::ParseRomExcludeList(text.data(), text.size());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].crc, 0xABCDEF12u);
  // Bad crc texts are skipped, not read as a prefix.
  text = "\\a:12G4\r\n\\b:\r\n\\c:123456789\r\n:12\r\n";
  EXPECT_TRUE(AExcludeHandler::ParseRomExcludeList(text.data(), text.size()).empty());
}

TEST(AExcludeHandler, MissingRomListIsEmpty) {
  TestDevice dev;
  AExcludeHandler::ResetProcessCache();
  AExcludeHandler handler;
  EXPECT_FALSE(handler.IsExcluded(u"\\Windows\\rom.dll"));
  EXPECT_EQ(AExcludeHandler::GetRomEntryCount(), 0);
  AExcludeHandler::ResetProcessCache();
}

TEST(AExcludeHandler, OptionsAndUserListDecideFiles) {
  TestDevice dev;
  // A self-restoring image: the marker in its last 80 bytes.
  std::string image(160, '\0');
  image.replace(80, ImageFormat::kMarkerLength, ImageFormat::kMarker, ImageFormat::kMarkerLength);
  dev.PutFile(u"\\My Documents\\image.exe", image);
  dev.PutFile(u"\\My Documents\\tool.exe", std::string(200, 'x'));

  AExcludeHandler handler;
  handler.GetExclusionList().Add(u"\\Music");
  handler.GetExclusionList().Add(u"*.tmp");
  AExcludeOptions options;  // exclusions on, backup images out, programs in
  handler.SetOptions(options);
  EXPECT_TRUE(handler.IsExcludedFile(u"\\My Documents\\Backup.PBF"));
  EXPECT_TRUE(handler.IsExcludedFile(u"\\My Documents\\image.exe"));
  EXPECT_FALSE(handler.IsExcludedFile(u"\\My Documents\\tool.exe"));
  EXPECT_FALSE(handler.IsExcludedFile(u"\\Windows\\lib.dll"));
  EXPECT_TRUE(handler.IsExcludedFile(u"\\Music\\song.mp3"));
  EXPECT_TRUE(handler.IsExcludedFile(u"\\Docs\\x.TMP"));
  // The whole extension counts: ".tmpx" is not ".tmp".
  EXPECT_FALSE(handler.IsExcludedFile(u"\\Docs\\x.tmpx"));
  EXPECT_FALSE(handler.IsExcludedFile(u"\\Docs.tmp\\readme"));
  EXPECT_TRUE(handler.IsExcludedByUserList(u"\\Music\\Live"));
  EXPECT_FALSE(handler.IsExcludedByUserList(u"\\Musical\\"));

  options.excludePrograms = true;
  options.excludeBackupImages = false;
  handler.SetOptions(options);
  EXPECT_FALSE(handler.IsExcludedFile(u"\\My Documents\\Backup.pbf"));
  EXPECT_TRUE(handler.IsExcludedFile(u"\\My Documents\\tool.EXE"));
  EXPECT_TRUE(handler.IsExcludedFile(u"\\Windows\\lib.dll"));

  // Exclusions off: nothing from options or the user list.
  options.applyExclusions = false;
  handler.SetOptions(options);
  EXPECT_FALSE(handler.IsExcludedFile(u"\\My Documents\\tool.exe"));
  EXPECT_FALSE(handler.IsExcludedFile(u"\\Music\\song.mp3"));
  EXPECT_FALSE(handler.IsExcludedByUserList(u"\\Music\\"));
}
