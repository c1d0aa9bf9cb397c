// The operations the shell starts once it knows what to do: one backup
// (ABackupOperation) or one restore (ARestoreOperation) of the global
// operation descriptor. Each creates the imaging task and the task progress
// window, runs the window modally (the window runs the task and reports
// its outcome) and frees both. Log class "AOperation".
#pragma once

#include "ce/cstring.h"

class AOperation {
 public:
  AOperation() = default;
  virtual ~AOperation() = default;
  AOperation(const AOperation&) = delete;
  AOperation& operator=(const AOperation&) = delete;

  // Runs the operation; reports no failure of its own (the window and the
  // task report show the outcome): true.
  virtual bool Execute() = 0;
  virtual bool AlwaysTrue() = 0;

 protected:
  CString m_csText;
};

class ABackupOperation : public AOperation {
 public:
  // The stored option word (when present), the task and window, the image
  // cipher, the host details, the selected index nodes and
  // "csDefaultBackupFilename", then the modal run.
  bool Execute() override;
  bool AlwaysTrue() override { return true; }
};

class ARestoreOperation : public AOperation {
 public:
  // The image cipher, the task and window, the modal run.
  bool Execute() override;
  bool AlwaysTrue() override { return true; }
};
