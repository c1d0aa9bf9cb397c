// The kiosk deployment's options: the reader of "DeployOptions.txt" and the
// kiosk configuration key it fills (core/DeployOptionsFormat.h).
//
// Built with the file's path, ADeployOptions reads the file and copies each
// known option as a string value into the kiosk configuration key; the
// getters read the values back from that key (the start-up, the kiosk
// password and the post-boot popup program use them). Keys of the file and
// the words TRUE, FALSE and <DEFAULT> are matched without regard to case.
//
// A bad file ends the program at once with exit code 1, after its log line:
// larger than 32768 bytes, a UTF-16 byte-order mark, or an AUTORUN,
// AUTORESET or USEMARKERFILE value other than TRUE or FALSE. Values written
// before the bad entry stay in the key. Log class "ADeployOptions".
#pragma once

#include <string_view>
#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"

// One "KEY = VALUE" entry of the options file, both trimmed.
struct DeployOptionEntry {
  CString key;
  CString value;
};

// The entries of the options text, in file order: the text is trimmed of
// white space; entries end at CR LF (a lone CR or LF ends one too); an
// entry that begins with "//" is a comment; the first line without "="
// ends the list.
std::vector<DeployOptionEntry> ReadDeployOptionEntries(std::u16string_view text);

class ADeployOptions {
 public:
  static constexpr int kBadFileExitCode = 1;

  // Logs "Deploy Options Found", then reads and applies the file; a bad file
  // ends the program (see above). A file that cannot be opened or read
  // applies nothing (the caller checked that it exists).
  explicit ADeployOptions(LPCWSTR path);
  // Applies nothing: for the getters alone.
  ADeployOptions();
  virtual ~ADeployOptions();
  ADeployOptions(const ADeployOptions&) = delete;
  ADeployOptions& operator=(const ADeployOptions&) = delete;

  // Checks the bytes of an options file and applies its entries. False
  // after the log line of a bad file (the caller ends the program); the
  // entries before a bad flag value are applied.
  bool Apply(std::string_view bytes);

  // The value of the kiosk configuration key (at most 260 characters);
  // false with an empty text when it cannot be read. The key is created
  // when missing.
  bool ReadStringRegValue(LPCWSTR name, CString& text);
  // Writes the text as REG_SZ (with its NUL) into the key.
  bool WriteStringRegValue(LPCWSTR name, LPCWSTR text);
  // The value's first four characters are "true", ignoring case; false
  // when the value is missing.
  bool GetBoolOption(LPCWSTR name);
  // The value as a decimal number; -1 when it cannot be read.
  int GetNumberOption(LPCWSTR name);

  bool GetAutorun();
  CString GetLogin();
  CString GetBackupFileName();
  int GetHoursBetween();
  int GetMinutesBetween();

  // What the file held (the object's own copy).
  bool GetFileAutorun() const { return m_bAutorun; }
  bool GetFileAutoreset() const { return m_bAutoreset; }
  bool GetFileUseMarkerFile() const { return m_bUseMarkerFile; }
  bool UsesDefaultConfirmText() const { return m_bDefaultConfirmText; }
  bool UsesDefaultSuccessText() const { return m_bDefaultSuccessText; }
  // A success text other than "<DEFAULT>", its \n turned into line feeds;
  // kept here only, shown nowhere yet.
  const CString& GetSuccessText() const { return m_csSuccessText; }
  int GetFileHoursBetween() const { return m_nHoursBetween; }
  int GetFileMinutesBetween() const { return m_nMinutesBetween; }
  const CString& GetKioskDemoApp() const { return m_csKioskDemoApp; }

 private:
  // The file's bytes; false (nothing to apply) when it cannot be read,
  // or after the size line of a file that is too large (*tooLarge set).
  bool ReadFileBytes(LPCWSTR path, std::string& bytes, bool& tooLarge);
  // One entry; false after the log line of a bad flag value.
  bool ApplyEntry(const DeployOptionEntry& entry);
  // A TRUE / FALSE option: writes "true" / "false"; false for any other
  // value, after its log line.
  bool ApplyFlag(const CString& value, LPCWSTR valueName, bool& flag, LPCWSTR badValueText);
  // Flushes and closes the log, then ends the process with exit code 1.
  [[noreturn]] static void EndProgram();

  bool m_bDefaultConfirmText = true;
  bool m_bDefaultSuccessText = true;
  bool m_bAutorun = false;
  bool m_bAutoreset = false;
  bool m_bUseMarkerFile = false;
  int m_nHoursBetween = 0;
  int m_nMinutesBetween = 0;
  CString m_csKioskDemoApp;
  CString m_csSuccessText;
};
