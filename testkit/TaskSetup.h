// What the backup and restore pages set up before the imaging task runs,
// for tests and benchmarks that drive the task over a global state object
// (header only: the users link the engine).
#pragma once

#include "ce/cstring.h"
#include "engine/Global.h"
#include "engine/Operation.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"

namespace quilmo::test {

// A fresh operation descriptor of the kind over the parts and the image,
// the host mode given, and the task's password (none: not enciphered).
inline void SetOperation(AGlobal& g, int kind, const IncludedKinds& parts, const CString& image,
                         const CString& password, int hostMode) {
  OperationDescriptor& d = g.g_Operation;
  d = OperationDescriptor();
  d.operationKind = kind;
  d.hostMode = hostMode;
  d.includeFileSystem = parts.fileSystem ? 1 : 0;
  d.includeMail = parts.mail ? 1 : 0;
  d.includeDatabases = parts.databases ? 1 : 0;
  d.includeRegistry = parts.registry ? 1 : 0;
  d.imagePath.Set(image, false);
  g.g_bEncrypt = !password.IsEmpty();
  g.SetTaskPassword(password);
}

// The backup: the operation set, the exclusions taken from the backup
// options, and a working index of the parts, populated. Compression stays
// as the backup options have it.
inline void PrepareBackupOperation(AGlobal& g, const IncludedKinds& parts, const CString& image,
                                   const CString& password, int hostMode = kHostModeLocal) {
  SetOperation(g, kOperationBackup, parts, image, password, hostMode);
  g.UpdateExcludeOptions();
  Index& index = g.g_WorkingIndex;
  index.Reset();
  index.AddTopLevelComponents(&parts);
  index.PopulateSelected();
}

// The restore: the operation set, the cipher keyed with the password, and
// the image's index loaded into the working index (through the host in
// host mode). False when the key, the image or its index fails.
inline bool PrepareRestoreOperation(AGlobal& g, const IncludedKinds& parts, const CString& image,
                                    const CString& password, int hostMode = kHostModeLocal) {
  SetOperation(g, kOperationRestore, parts, image, password, hostMode);
  if (!InitCipherKey(g.g_bEncrypt, g.g_bEncrypt ? password.GetString() : nullptr)) return false;
  AImageFile file(AImageFile::kRestore, hostMode == kHostModeRemote ? AImageFile::kHost : AImageFile::kLocal);
  file.SetFileName(image);
  bool ok = file.Open() && g.g_WorkingIndex.Locate(file, true);
  return file.Close() && ok;
}

}  // namespace quilmo::test
