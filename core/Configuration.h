// The XML configuration loader: reads "quilmobackup.xml" (the grammar is in
// ConfigurationFormat.h) into a list of typed items and writes them into the
// product's "Config" key, replacing what was there. Nothing here logs (the
// XML wrappers do); every failure leaves its reason in GetError() and
// returns false.
#pragma once

#include <memory>
#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"

class ADOMDocument;
class AXMLDOMNode;

// Hexadecimal byte text ("0A,FF,3") turned into bytes.
class SLHexString {
 public:
  explicit SLHexString(const CString& text) : m_Text(text) {}
  virtual ~SLHexString() = default;

  // Splits at commas; each piece of at most two characters is one byte (a
  // piece that is not hexadecimal reads as 0). A longer piece fails and
  // leaves no bytes. Empty text gives no bytes.
  bool ToBinary();
  const std::vector<BYTE>& GetBytes() const { return m_Bytes; }
  DWORD GetLength() const { return static_cast<DWORD>(m_Bytes.size()); }

 private:
  CString m_Text;
  std::vector<BYTE> m_Bytes;
};

class AConfiguration {
 public:
  enum ValueKind { kDword = 0, kString = 1, kBool = 2, kBinary = 3 };

  struct ConfigNode {
    ValueKind kind = kString;
    CString name;
    DWORD dword = 0;
    CString text;
    bool flag = false;
    std::vector<BYTE> bytes;
  };

  // keyName: the product folder below "SOFTWARE\Quilmo Software" ("\Quilmo
  // Backup"); filePath: the device path of the XML file; flag: kept, unused.
  AConfiguration(LPCWSTR keyName, LPCWSTR filePath, DWORD flag = 0);
  ~AConfiguration();
  AConfiguration(const AConfiguration&) = delete;
  AConfiguration& operator=(const AConfiguration&) = delete;

  // Loads and walks the file; true when every item was read.
  bool Load();
  // The same over bytes held in memory (the walk is the file's).
  bool LoadBytes(const void* data, size_t size);
  // Deletes the "Config" subkey of the product key, then writes every item
  // in file order; stops at the first write that fails (the items before
  // it stay written).
  bool WriteToRegistry();

  const CString& GetError() const { return m_Error; }
  DWORD GetFlag() const { return m_Flag; }
  const std::vector<std::unique_ptr<ConfigNode>>& GetItems() const { return m_Items; }

  // "dword", "binary", "boolean"/"bool" (any case), anything else a string.
  static ValueKind ParseValueType(const CString& type);

 private:
  bool LoadFrom(const void* data, size_t size);
  bool ProcessDocument();
  bool ParseConfigElement(const AXMLDOMNode& element);
  bool Fail(const CString& text);
  bool WriteItem(const ConfigNode& item);
  void ClearItems();
  CString ProductKeyPath() const;

  CString m_FilePath;
  CString m_KeyName;
  CString m_Error;
  std::unique_ptr<ADOMDocument> m_Document;
  DWORD m_Flag;
  std::vector<std::unique_ptr<ConfigNode>> m_Items;
};
