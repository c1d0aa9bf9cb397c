#include <gtest/gtest.h>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/shell.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

TEST(Shell, SpecialFolders) {
  TestDevice dev;
  WCHAR buf[MAX_PATH];
  const std::pair<int, const char16_t*> folders[] = {
      {CSIDL_PERSONAL, u"\\My Documents"},       {CSIDL_STARTUP, u"\\Windows\\StartUp"},
      {CSIDL_STARTMENU, u"\\Windows\\Start Menu"}, {CSIDL_PROGRAMS, u"\\Windows\\Start Menu\\Programs"},
      {CSIDL_WINDOWS, u"\\Windows"},             {CSIDL_PROGRAM_FILES, u"\\Program Files"},
      {CSIDL_FAVORITES, u"\\Windows\\Favorites"}};
  for (auto [csidl, path] : folders) {
    ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, buf, csidl, FALSE)) << csidl;
    EXPECT_EQ(std::u16string(buf), path);
  }
  EXPECT_FALSE(SHGetSpecialFolderPath(nullptr, buf, 99, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  EXPECT_EQ(GetFileAttributesW(u"\\Windows\\StartUp"), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, buf, CSIDL_STARTUP, TRUE));
  EXPECT_EQ(GetFileAttributesW(u"\\windows\\startup") & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
}

TEST(Shell, ShortcutRoundTripWithQuotedAndBareTargets) {
  TestDevice dev;
  dev.MakeDir(u"\\Windows\\StartUp");
  const std::u16string quoted =
      u"\"\\Windows\\QuilmoStart.exe\" /run \"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe\" /args /x";
  ASSERT_TRUE(SHCreateShortcut(u"\\Windows\\StartUp\\DeployRB.lnk", quoted.c_str()));
  EXPECT_EQ(dev.ReadFile(u"\\Windows\\StartUp\\DeployRB.lnk"),
            std::to_string(quoted.size()) + "#" + ce::ToUtf8(quoted));
  std::u16string target, program, args;
  ASSERT_TRUE(ce::ReadShortcutTarget(u"\\WINDOWS\\startup\\deployrb.LNK", &target));
  EXPECT_EQ(target, quoted);
  ASSERT_TRUE(ce::SplitShortcutTarget(target, &program, &args));
  EXPECT_EQ(program, u"\\Windows\\QuilmoStart.exe");
  EXPECT_EQ(args, u"/run \"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe\" /args /x");

  const std::u16string bare = u"QuilmoStart.exe /run \"\\Windows\\Merrow.exe\" /args \"/StartUp\"";
  ASSERT_TRUE(SHCreateShortcut(u"\\Windows\\StartUp\\Merrow.lnk", bare.c_str()));
  ASSERT_TRUE(ce::ReadShortcutTarget(u"\\Windows\\StartUp\\Merrow.lnk", &target));
  ASSERT_TRUE(ce::SplitShortcutTarget(target, &program, &args));
  EXPECT_EQ(program, u"QuilmoStart.exe");
  EXPECT_EQ(args, u"/run \"\\Windows\\Merrow.exe\" /args \"/StartUp\"");

  // never overwrites
  EXPECT_FALSE(SHCreateShortcut(u"\\Windows\\StartUp\\Merrow.lnk", u"\\other.exe"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ASSERT_TRUE(ce::ReadShortcutTarget(u"\\Windows\\StartUp\\Merrow.lnk", &target));
  EXPECT_EQ(target, bare);

  // 8-bit text, the count in characters
  ASSERT_TRUE(SHCreateShortcut(u"\\Caf\u00e9.lnk", u"\\Caf\u00e9.exe"));
  EXPECT_EQ(dev.ReadFile(u"\\Caf\u00e9.lnk"), "9#\\Caf\xe9.exe");
  ASSERT_TRUE(ce::ReadShortcutTarget(u"\\Caf\u00e9.lnk", &target));
  EXPECT_EQ(target, u"\\Caf\u00e9.exe");

  EXPECT_FALSE(SHCreateShortcut(u"\\No Such Folder\\x.lnk", u"\\x.exe"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(SHCreateShortcut(u"\\empty.lnk", u""));
  EXPECT_EQ(GetFileAttributesW(u"\\empty.lnk"), INVALID_FILE_ATTRIBUTES);
}

TEST(Shell, ReadsShortcutsWrittenByOthers) {
  TestDevice dev;
  std::u16string target;
  dev.PutFile(u"\\a.lnk", "12#\"\\a b.exe\" x\r\n");  // a line end after the counted text
  ASSERT_TRUE(ce::ReadShortcutTarget(u"\\a.lnk", &target));
  EXPECT_EQ(target, u"\"\\a b.exe\" x");
  dev.PutFile(u"\\b.lnk", "#\\b.exe");  // no count: everything after "#"
  ASSERT_TRUE(ce::ReadShortcutTarget(u"\\b.lnk", &target));
  EXPECT_EQ(target, u"\\b.exe");
  dev.PutFile(u"\\c.lnk", "not a shortcut");
  EXPECT_FALSE(ce::ReadShortcutTarget(u"\\c.lnk", &target));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_FORMAT));
  EXPECT_FALSE(ce::ReadShortcutTarget(u"\\missing.lnk", &target));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Shell, SplitTargetEdges) {
  std::u16string program, args;
  ASSERT_TRUE(ce::SplitShortcutTarget(u"\"\\Program Files\\x.exe\"", &program, &args));
  EXPECT_EQ(program, u"\\Program Files\\x.exe");
  EXPECT_EQ(args, u"");
  ASSERT_TRUE(ce::SplitShortcutTarget(u"  prog.exe  two", &program, &args));
  EXPECT_EQ(program, u"prog.exe");
  EXPECT_EQ(args, u" two");  // only the one separating blank goes
  ASSERT_TRUE(ce::SplitShortcutTarget(u"\"\\x y.exe\"/a", &program, &args));
  EXPECT_EQ(program, u"\\x y.exe");
  EXPECT_EQ(args, u"/a");
  ASSERT_TRUE(ce::SplitShortcutTarget(u"\"\\unclosed x", &program, &args));
  EXPECT_EQ(program, u"\\unclosed x");
  EXPECT_FALSE(ce::SplitShortcutTarget(u"\"\" /a", &program, &args));
  EXPECT_FALSE(ce::SplitShortcutTarget(u"", &program, &args));
}
