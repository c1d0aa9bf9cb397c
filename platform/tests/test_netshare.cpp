// Network shares: offered by the profile, connected as folders below
// "\Network", their files those of a host folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/netconn.h"
#include "ce/registry.h"
#include "cesim/share.h"
#include "testkit/TestDevice.h"

using quilmo::test::ReadDeviceFile;
using quilmo::test::TestDevice;
using quilmo::test::WriteDeviceFile;

namespace {

namespace fs = std::filesystem;

// A device offering the share "Images" of a host folder holding one image.
struct ShareDevice {
  TestDevice dev;
  fs::path host = dev.dir() / "desktop" / "Images";
  ShareDevice() {
    fs::create_directories(host);
    std::ofstream(host / "old.pbf") << "image";
    EXPECT_TRUE(ce::OfferShare(u"Images", host));
  }
};

std::u16string RemoteNameOf(const std::u16string& share) {
  HKEY key = nullptr;
  std::u16string path = u"Comm\\Redir\\Connections\\" + share;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return u"<no key>";
  WCHAR buf[MAX_PATH] = {};
  DWORD size = sizeof buf, type = 0;
  LONG rc = RegQueryValueExW(key, u"RemoteName", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? std::u16string(buf) : u"<no value>";
}

std::vector<std::u16string> Folders(const std::u16string& pattern, DWORD* attributes = nullptr) {
  std::vector<std::u16string> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(fd.cFileName);
    if (attributes) *attributes = fd.dwFileAttributes;
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return names;
}

}  // namespace

TEST(NetworkShare, ConnectedShareIsAFolderOfTheHostFiles) {
  ShareDevice d;
  EXPECT_EQ(Folders(u"\\Network\\*.*"), std::vector<std::u16string>{});
  EXPECT_EQ(GetFileAttributesW(u"\\Network\\Images\\old.pbf"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  std::u16string folder;
  ASSERT_TRUE(ce::ConnectShare(u"images", &folder));
  EXPECT_EQ(folder, u"\\Network\\Images");
  DWORD attributes = 0;
  EXPECT_EQ(Folders(u"\\Network\\*.*", &attributes), std::vector<std::u16string>{u"Images"});
  EXPECT_EQ(attributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY));
  EXPECT_EQ(ReadDeviceFile(u"\\Network\\Images\\old.pbf"), "image");
  ASSERT_TRUE(WriteDeviceFile(u"\\NETWORK\\images\\new.pbf", "fresh"));
  std::ifstream in(d.host / "new.pbf");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "fresh");
  EXPECT_EQ(RemoteNameOf(u"Images"), u"\\\\QUILMOHOST\\Images");

  // The share's folder is the network's, not the device's to remove.
  EXPECT_FALSE(RemoveDirectoryW(u"\\Network\\Images"));
  EXPECT_FALSE(MoveFileW(u"\\Network\\Images", u"\\Moved"));
  EXPECT_TRUE(fs::exists(d.host / "old.pbf"));
}

TEST(NetworkShare, ConnectRefusesUnknownAndConnectedShares) {
  ShareDevice d;
  EXPECT_FALSE(ce::ConnectShare(u"Music"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
  ASSERT_TRUE(ce::ConnectShare(u"\\\\QUILMOHOST\\Images"));
  EXPECT_FALSE(ce::ConnectShare(u"Images"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_ASSIGNED));
  EXPECT_FALSE(ce::OfferShare(u"IMAGES", d.host));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(ce::OfferShare(u"a\\b", d.host));
  EXPECT_FALSE(ce::OfferShare(u"Rel", "relative/dir"));
}

TEST(NetworkShare, CancelWaitsForOpenFilesUnlessForcedAndKeepsHostFiles) {
  ShareDevice d;
  ASSERT_TRUE(ce::ConnectShare(u"Images"));
  HANDLE f = CreateFileW(u"\\Network\\Images\\old.pbf", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WNetCancelConnection2W(u"Images", CONNECT_UPDATE_PROFILE, FALSE), static_cast<DWORD>(ERROR_OPEN_FILES));
  EXPECT_EQ(ReadDeviceFile(u"\\Network\\Images\\old.pbf"), "image");
  EXPECT_EQ(WNetCancelConnection2W(u"\\Network\\Images", CONNECT_UPDATE_PROFILE, TRUE),
            static_cast<DWORD>(NO_ERROR));
  CloseHandle(f);

  // Gone from the device as a missing folder; the host keeps its files and
  // the record keeps its key but loses its values.
  EXPECT_EQ(Folders(u"\\Network\\*.*"), std::vector<std::u16string>{});
  EXPECT_FALSE(WriteDeviceFile(u"\\Network\\Images\\x.pbf", "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(fs::exists(d.host / "old.pbf"));
  EXPECT_EQ(RemoteNameOf(u"Images"), u"<no value>");
  EXPECT_EQ(WNetCancelConnection2W(u"Images", 0, TRUE), static_cast<DWORD>(ERROR_NOT_CONNECTED));
  EXPECT_EQ(WNetCancelConnection2W(nullptr, 0, TRUE), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // Connected again, the share shows what the host holds.
  ASSERT_TRUE(ce::ConnectShare(u"Images"));
  EXPECT_EQ(ReadDeviceFile(u"\\Network\\Images\\old.pbf"), "image");
}

TEST(NetworkShare, ShareWhoseHostFolderIsGoneIsAMissingFolder) {
  ShareDevice d;
  ASSERT_TRUE(ce::ConnectShare(u"Images"));
  fs::remove_all(d.host);
  EXPECT_EQ(GetFileAttributesW(u"\\Network\\Images"), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(WriteDeviceFile(u"\\Network\\Images\\x.pbf", "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(fs::exists(d.host));  // nothing made on the host
  ULARGE_INTEGER free{};
  EXPECT_FALSE(GetDiskFreeSpaceExW(u"\\Network\\Images", &free, nullptr, nullptr));
}

TEST(NetworkShare, WithdrawnShareDisconnectsAndLeavesTheProfile) {
  ShareDevice d;
  ASSERT_TRUE(ce::ConnectShare(u"Images"));
  ASSERT_EQ(ce::ListShares().size(), 1u);
  EXPECT_TRUE(ce::ListShares()[0].connected);
  ASSERT_TRUE(ce::WithdrawShare(u"Images"));
  EXPECT_TRUE(ce::ListShares().empty());
  EXPECT_EQ(Folders(u"\\Network\\*.*"), std::vector<std::u16string>{});
  EXPECT_FALSE(ce::WithdrawShare(u"Images"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NET_NAME));

  ce::Profile p;
  std::string error;
  EXPECT_TRUE(ce::Profile::Parse("share = Images|/srv/images\n", &p, &error)) << error;
  ASSERT_EQ(p.shares.size(), 1u);
  ce::Profile back;
  EXPECT_TRUE(ce::Profile::Parse(p.Serialize(), &back, &error)) << error;
  EXPECT_EQ(back.shares, p.shares);
  EXPECT_FALSE(ce::Profile::Parse("share = Images\n", &p, &error));
  EXPECT_FALSE(ce::Profile::Parse("share = Im*ges|/srv\n", &p, &error));
  EXPECT_FALSE(ce::Profile::Parse("share = A|/x\nshare = a|/y\n", &p, &error));
}
