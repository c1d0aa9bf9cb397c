// The stored option sets of unattended backups: the four keys, what a read
// requires, and the defaults of a command-line backup.
#include <gtest/gtest.h>

#include <string>

#include "core/ProgramGlobals.h"
#include "core/RegistrySettings.h"
#include "sched_fixture.h"
#include "scheduling/UnattendedBackup.h"

namespace {

namespace names = UnattendedNames;

class UnattendedOptionsTest : public schedtest::DeviceTest {
 protected:
  struct Read {
    DWORD options = 0xDEAD;
    CString file = u"untouched";
    bool reset = true;
    bool remote = true;
    CString list = u"untouched";
  };
  static bool Retrieve(AUnattendedBackup& b, Read& r) {
    return b.RetrieveScheduledBackupOptions(r.options, r.file, r.reset, r.remote, r.list);
  }
  static void Delete(LPCWSTR key, LPCWSTR value) {
    ABackupRegistrySettings settings(kSettingsKeyKind, key);
    ASSERT_TRUE(settings.DeleteValue(value));
  }
};

TEST_F(UnattendedOptionsTest, EachKeyKeepsItsOwnSet) {
  struct Key {
    void (AUnattendedBackup::*use)();
    const char16_t* name;
  } keys[] = {
      {&AUnattendedBackup::UseUnattendedKey, names::kUnattendedKey},
      {&AUnattendedBackup::UseNextScheduleKey, names::kNextScheduleKey},
      {&AUnattendedBackup::UseMerrowKey, names::kMerrowKey},
      {&AUnattendedBackup::UseCommandLineKey, names::kCommandLineKey},
  };
  DWORD word = 0x101;
  for (const Key& k : keys) {
    SCOPED_TRACE(ce::ToUtf8(k.name));
    AUnattendedBackup b;
    EXPECT_TRUE(b.GetKey().IsEmpty());
    (b.*k.use)();
    EXPECT_EQ(b.GetKey().str(), k.name);
    const CString file = CString(u"\\Storage Card\\") + k.name + u".pbf";
    ASSERT_TRUE(b.StoreScheduledBackupOptions(word, file, true, false, CString(u"\\") + k.name + u".xml"));
    ++word;
  }
  word = 0x101;
  for (const Key& k : keys) {
    SCOPED_TRACE(ce::ToUtf8(k.name));
    AUnattendedBackup b;
    (b.*k.use)();
    Read r;
    ASSERT_TRUE(Retrieve(b, r));
    EXPECT_EQ(r.options, word++);
    EXPECT_EQ(r.file, CString(u"\\Storage Card\\") + k.name + u".pbf");
    EXPECT_TRUE(r.reset);
    EXPECT_FALSE(r.remote);
    EXPECT_EQ(r.list, CString(u"\\") + k.name + u".xml");
    // The values lie in the product's Settings key, below the key's name.
    ABackupRegistrySettings settings(kSettingsKeyKind, k.name);
    CString stored;
    ASSERT_TRUE(settings.ReadString(names::kFilename, stored));
    EXPECT_EQ(stored, r.file);
  }
  EXPECT_TRUE(Logged("Retrieving dwUnattendedOptions from key Merrow"));
  EXPECT_TRUE(Logged("L AUnattendedBackup ")) << LogText();
  EXPECT_TRUE(Logged(": options  257")) << LogText();
}

TEST_F(UnattendedOptionsTest, NoKeyChosenFailsAndTouchesNothing) {
  AUnattendedBackup b;
  EXPECT_FALSE(b.StoreScheduledBackupOptions(1, u"x", false, false, u""));
  EXPECT_TRUE(Logged("E AUnattendedBackup "));
  EXPECT_TRUE(Logged("AUnattendedBackup : StoreScheduledBackupOptions m_Key not set")) << LogText();
  Read r;
  EXPECT_FALSE(Retrieve(b, r));
  EXPECT_TRUE(Logged("AUnattendedBackup : RetrieveScheduledBackupOptions m_Key not set"));
  EXPECT_EQ(r.options, 0xDEADu);
  // Nothing went into the Settings key itself.
  ABackupRegistrySettings settings(kSettingsKeyKind);
  DWORD value = 0;
  EXPECT_FALSE(settings.ReadDWORD(names::kOptions, value));
}

// Outside command-line mode every value but the inclusion list is needed;
// a read that fails hands nothing out.
TEST_F(UnattendedOptionsTest, MissingValuesFailTheReadWithTheirText) {
  struct Case {
    const char16_t* value;
    const char* text;
  } cases[] = {
      {names::kOptions, "RetrieveScheduledBackupOptions() Error getting unattended options"},
      {names::kFilename, "RetrieveScheduledBackupOptions() Error getting filename"},
      {names::kScheduledReset, "RetrieveScheduledBackupOptions() Error getting scheduled reset"},
      {names::kRemoteMode, "RetrieveScheduledBackupOptions() Error getting scheduled remote mode"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    AUnattendedBackup b;
    b.UseUnattendedKey();
    ASSERT_TRUE(b.StoreScheduledBackupOptions(3, u"\\temp\\a.pbf", false, true, u"\\i.xml"));
    Delete(names::kUnattendedKey, c.value);
    const size_t mark = Mark();
    Read r;
    EXPECT_FALSE(Retrieve(b, r));
    EXPECT_TRUE(LoggedSince(mark, std::string("AUnattendedBackup : ") + c.text)) << LogText();
    EXPECT_EQ(r.options, 0xDEADu);
    EXPECT_EQ(r.file, CString(u"untouched"));
  }
}

TEST_F(UnattendedOptionsTest, AnEmptyOrMissingInclusionListReadsAsNone) {
  AUnattendedBackup b;
  b.UseNextScheduleKey();
  ASSERT_TRUE(b.StoreScheduledBackupOptions(5, u"\\temp\\a.pbf", false, false, CString()));
  {
    ABackupRegistrySettings settings(kSettingsKeyKind, names::kNextScheduleKey);
    CString stored(u"x");
    ASSERT_TRUE(settings.ReadString(names::kInclusionList, stored));  // stored, as ""
    EXPECT_TRUE(stored.IsEmpty());
  }
  Read r;
  ASSERT_TRUE(Retrieve(b, r));
  EXPECT_TRUE(r.list.IsEmpty());
  Delete(names::kNextScheduleKey, names::kInclusionList);
  Read again;
  ASSERT_TRUE(Retrieve(b, again));
  EXPECT_TRUE(again.list.IsEmpty());
  EXPECT_EQ(again.options, 5u);
}

// A command-line backup needs no stored set: option word 719 (715 in kiosk
// mode), the command line's image path, no reset, no remote mode. What is
// stored under its key still counts, except the path.
TEST_F(UnattendedOptionsTest, CommandLineModeFillsWhatIsMissing) {
  AUnattendedBackup b;
  b.UseCommandLineKey();
  b.SetCommandLineMode(true, u"\\Storage Card\\cmd.pbf");
  EXPECT_TRUE(b.IsCommandLineMode());
  Read r;
  ASSERT_TRUE(Retrieve(b, r));
  EXPECT_EQ(r.options, 719u);
  EXPECT_EQ(r.file, CString(u"\\Storage Card\\cmd.pbf"));
  EXPECT_FALSE(r.reset);
  EXPECT_FALSE(r.remote);
  EXPECT_TRUE(r.list.IsEmpty());

  {
    ABackupRegistrySettings config(kConfigKeyKind);
    ASSERT_TRUE(config.WriteDWORD(u"KioskModeEnabled", 1));
  }
  Read kiosk;
  ASSERT_TRUE(Retrieve(b, kiosk));
  EXPECT_EQ(kiosk.options, 715u);

  ASSERT_TRUE(b.StoreScheduledBackupOptions(0x7FF, u"\\stored.pbf", true, true, u"\\l.xml"));
  Read stored;
  ASSERT_TRUE(Retrieve(b, stored));
  EXPECT_EQ(stored.options, 0x7FFu);
  EXPECT_EQ(stored.file, CString(u"\\Storage Card\\cmd.pbf"));
  EXPECT_TRUE(stored.reset);
  EXPECT_TRUE(stored.remote);
  EXPECT_EQ(stored.list, CString(u"\\l.xml"));

  // Back out of command-line mode, the stored set alone counts.
  b.SetCommandLineMode(false, u"\\ignored.pbf");
  Read plain;
  ASSERT_TRUE(Retrieve(b, plain));
  EXPECT_EQ(plain.file, CString(u"\\stored.pbf"));
}

}  // namespace
