// Fuzz entry point for the database component's restore. Each input is an
// image whose first entry is a database entry (its records follow),
// enciphered with the key table's key as a backup without a password
// writes it; the component restores it into a scratch device made once
// per process, through an index that names the entry at offset 0.
//   FuzzDatabaseEntries: the database entry and its record entries.
#include <cstddef>
#include <cstdint>

#include "ce/database.h"
#include "engine/DatabaseComponent.h"
#include "fuzz/fuzz_device.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"

namespace {

// Every database of both object stores goes, so that runs stay small.
void ClearObjectStores() {
  for (bool edb : {false, true}) {
    CEGUID guid = ZERO_CEGUID;
    HANDLE find = edb ? CeFindFirstDatabaseEx2(&guid, 0) : CeFindFirstDatabaseEx(&guid, 0);
    if (find == INVALID_HANDLE_VALUE) continue;
    while (CEOID oid = CeFindNextDatabaseEx(find, nullptr)) {
      CEGUID store = ZERO_CEGUID;
      if (edb)
        CeDeleteDatabaseEx2(&store, oid);
      else
        CeDeleteDatabaseEx(&store, oid);
    }
    CloseHandle(find);
  }
}

}  // namespace

int FuzzDatabaseEntries(const uint8_t* data, size_t size) {
  PutFuzzImage(data, size);
  InitCipherKey(false, nullptr);
  AImageFile image(kFuzzImagePath, AImageFile::kRestore);
  if (!image.Open()) return 0;
  Index index;
  IncludedKinds kinds{false, false, true, false};
  index.AddTopLevelComponents(&kinds);
  Index::Item group;
  group.ComponentType = TREE_DATABASE_GROUP;
  group.name = u"\\Documents and Settings\\default.vol";
  index.AddChildren(index.FindChildOfType(TREE_DATABASES), {group});
  Index::Item database;
  database.ComponentType = TREE_DATABASE;
  database.fileOffset = 0;
  index.AddChildren(index.FirstChild(index.FindChildOfType(TREE_DATABASES)), {database});
  {
    ADatabase component(index, nullptr, &image);
    component.Restore();
  }
  ClearObjectStores();
  // A failed close of an image opened for reading loses nothing.
  (void)image.Close();
  return 0;
}
