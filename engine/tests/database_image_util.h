// Shared by the database component tests: an index whose databases part is
// the component under test, backups into an image and restores from it,
// and the image's entries read back as plain bytes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/Resources.h"
#include "database_test_util.h"
#include "engine/DatabaseComponent.h"
#include "engine/Operation.h"
#include "image/Cipher.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/ImageTail.h"
#include "testkit/ResourceLibrary.h"

namespace dbtest {

class Progress : public ITaskProgress {
 public:
  Progress() : ITaskProgress(&record) {}
  void UpdateProgress(bool) override {}
  TaskProgressRecord record;
};

// One entry of the image as stored, deciphered: its header and its body.
struct Entry {
  AImageFileHeader header;
  std::string body;
};

class DatabaseImageTest : public DatabaseDeviceTest {
 protected:
  DatabaseImageTest() {
    index.SetComponent(IndexOwner::Databases, &component);
    EXPECT_TRUE(InitCipherKey(false, nullptr));
    SetLogReportSink([this](int level, DWORD, const CString& text) { report.push_back({level, text.str()}); });
  }
  ~DatabaseImageTest() override {
    SetLogReportSink(nullptr);
    UnloadResourceLibraries(true);
  }

  // The databases part alone, listed.
  void BuildTree() {
    index.Reset();
    IncludedKinds kinds{false, false, true, false};
    index.AddTopLevelComponents(&kinds);
    index.PopulateSelected();
  }
  // The databases node's group of that name and its database of that name
  // (-1 when missing).
  int Group(const std::u16string& name) const {
    int top = index.FindChildOfType(TREE_DATABASES);
    for (int c = top == -1 ? -1 : index.FirstChild(top); c != -1; c = index.NextSibling(c))
      if (index.NodeName(c) == name) return c;
    return -1;
  }
  int DatabaseNode(const std::u16string& group, const std::u16string& name) const {
    int g = Group(group);
    for (int c = g == -1 ? -1 : index.FirstChild(g); c != -1; c = index.NextSibling(c))
      if (index.NodeName(c) == name) return c;
    return -1;
  }

  // An image of the databases part: entries, index, tail.
  bool Backup() {
    AImageFile image(CString(kImage), AImageFile::kBackup);
    if (!image.Open()) return false;
    bool ok;
    {
      ADatabase database(index, &progress, &image);
      ok = database.Backup();
    }
    ok = ok && quilmo::test::StoreIndexAndTail(image, index, true);
    return image.Close() && ok;
  }
  // The image's databases restored with the index it holds.
  bool Restore() {
    AImageFile image(CString(kImage), AImageFile::kRestore);
    if (!image.Open()) return false;
    if (!index.Locate(image, true)) return false;
    bool ok;
    {
      ADatabase database(index, &progress, &image);
      ok = database.Restore();
    }
    return image.Close() && ok;
  }

  // The entries from the start of the image up to the index.
  std::vector<Entry> ReadEntries() {
    std::vector<Entry> out;
    AImageFile image(CString(kImage), AImageFile::kRestore);
    EXPECT_TRUE(image.Open());
    for (;;) {
      Entry e;
      if (!e.header.ReadDeciphered(image)) break;
      const DWORD type = e.header.ComponentType();
      if (type == DatabaseEntryFormat::kDatabaseEntryType) {
        std::string info(DatabaseEntryFormat::kInfoSize, '\0'), name(e.header.NameByteLength(), '\0');
        EXPECT_TRUE(image.Read(info.data(), static_cast<DWORD>(info.size()), true, false));
        const bool edb = info[0] == 2;
        EXPECT_TRUE(image.Read(name.data(), static_cast<DWORD>(name.size()), true, !edb));
        e.body = info + name;
        if (edb) {
          WORD n = 0;
          EXPECT_TRUE(image.Read(&n, 2, true, false));
          e.body.append(reinterpret_cast<const char*>(&n), 2);
          std::string defs(n * DatabaseEntryFormat::kDefinitionStride, '\0');
          if (n) {
            EXPECT_TRUE(image.Read(defs.data(), static_cast<DWORD>(defs.size()), true, true));
          } else {
            GetImageCipher().EndRun();
          }
          e.body += defs;
        }
      } else if (type == DatabaseEntryFormat::kRecordEntryType) {
        e.body.assign(e.header.FixedPartSize(), '\0');
        if (!e.body.empty()) {
          EXPECT_TRUE(image.Read(e.body.data(), static_cast<DWORD>(e.body.size()), true, true));
        }
      } else {
        break;
      }
      out.push_back(std::move(e));
    }
    EXPECT_TRUE(image.Close());
    return out;
  }

  // Changes the plain bytes at offset (of the image file) from what they
  // are to what they should be: the cipher is a stream cipher, so the
  // stored bytes change by the same bits.
  void Patch(size_t offset, const std::string& was, const std::string& becomes) {
    std::string bytes = dev.ReadFile(kImage);
    ASSERT_LE(offset + was.size(), bytes.size());
    ASSERT_EQ(was.size(), becomes.size());
    for (size_t i = 0; i < was.size(); ++i) bytes[offset + i] ^= static_cast<char>(was[i] ^ becomes[i]);
    dev.PutFile(kImage, bytes);
  }

  bool Reported(int level, const std::u16string& text) const {
    return std::any_of(report.begin(), report.end(),
                       [&](const auto& e) { return e.first == level && e.second.find(text) != std::u16string::npos; });
  }
  int CountReported(const std::u16string& text) const {
    return static_cast<int>(std::count_if(report.begin(), report.end(),
                                          [&](const auto& e) { return e.second.find(text) != std::u16string::npos; }));
  }

  static constexpr const char16_t* kImage = u"\\Backup.qbk";
  Index index;
  ADatabaseComponent component;
  Progress progress;
  std::vector<std::pair<int, std::u16string>> report;
};

}  // namespace dbtest
