#include "core/Configuration.h"

#include "ce/com.h"
#include "ce/errors.h"
#include "ce/registry.h"
#include "core/ConfigurationFormat.h"
#include "core/RegistrySettings.h"
#include "core/XmlDom.h"

namespace {

namespace fmt = ConfigurationFormat;

int HexDigit(WCHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// A piece of one or two characters as the C library reads base 16: digits
// up to the first other character, none read as 0.
BYTE HexByte(std::u16string_view piece) {
  unsigned value = 0;
  for (WCHAR c : piece) {
    const int d = HexDigit(c);
    if (d < 0) break;
    value = value * 16 + static_cast<unsigned>(d);
  }
  return static_cast<BYTE>(value);
}

// Decimal text as the C library's unsigned conversion reads it: blanks, a
// sign, digits up to the first other character (none: 0); a value past 32
// bits reads as the largest one; a minus sign negates modulo 2^32.
DWORD DecimalDword(const CString& text) {
  std::u16string_view t = text.view();
  size_t i = 0;
  while (i < t.size() && (t[i] == u' ' || t[i] == u'\t' || t[i] == u'\r' || t[i] == u'\n')) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) negative = t[i++] == u'-';
  unsigned long long value = 0;
  bool overflow = false;
  for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
    value = value * 10 + static_cast<unsigned>(t[i] - u'0');
    if (value > 0xFFFFFFFFull) {
      overflow = true;
      value = 0xFFFFFFFFull;
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  const DWORD v = static_cast<DWORD>(value);
  return negative ? static_cast<DWORD>(0u - v) : v;
}

}  // namespace

bool SLHexString::ToBinary() {
  m_Bytes.clear();
  std::u16string_view t = m_Text.view();
  if (t.empty()) return true;
  std::vector<BYTE> bytes;
  size_t start = 0;
  while (true) {
    const size_t comma = t.find(fmt::kByteSeparator, start);
    const std::u16string_view piece = t.substr(start, comma == std::u16string_view::npos ? t.npos : comma - start);
    if (piece.size() > static_cast<size_t>(fmt::kMaxDigitsPerByte)) return false;
    bytes.push_back(HexByte(piece));
    if (comma == std::u16string_view::npos) break;
    start = comma + 1;
  }
  m_Bytes = std::move(bytes);
  return true;
}

AConfiguration::AConfiguration(LPCWSTR keyName, LPCWSTR filePath, DWORD flag)
    : m_FilePath(filePath ? filePath : u""), m_KeyName(keyName ? keyName : u""), m_Flag(flag) {}

AConfiguration::~AConfiguration() = default;

AConfiguration::ValueKind AConfiguration::ParseValueType(const CString& type) {
  CString t = type;
  t.MakeLower();
  if (t == fmt::kTypeDword) return kDword;
  if (t == fmt::kTypeBinary) return kBinary;
  if (t == fmt::kTypeBoolean || t == fmt::kTypeBool) return kBool;
  return kString;
}

bool AConfiguration::Fail(const CString& text) {
  m_Error = text;
  return false;
}

void AConfiguration::ClearItems() { m_Items.clear(); }

bool AConfiguration::Load() { return LoadFrom(nullptr, 0); }

bool AConfiguration::LoadBytes(const void* data, size_t size) { return LoadFrom(data ? data : "", size); }

bool AConfiguration::LoadFrom(const void* data, size_t size) {
  ClearItems();
  ComScope com;
  m_Document = std::make_unique<ADOMDocument>();
  if (!m_Document->IsValid()) {
    m_Document.reset();
    return Fail(u"Failed to create DOM document");
  }
  const bool loaded = data ? m_Document->LoadBytes(data, size) : m_Document->LoadFile(m_FilePath);
  if (!loaded) {
    m_Error = m_Document->GetParseErrorReason();
    m_Document.reset();
    return false;
  }
  const bool ok = ProcessDocument();
  // The document goes before COM does, whatever the walk found.
  m_Document.reset();
  if (!ok) ClearItems();
  return ok;
}

bool AConfiguration::ProcessDocument() {
  AXMLDOMNode root = m_Document->GetDocumentElement();
  if (root.IsEmpty()) return Fail(u"Configuration document is empty");
  const CString rootName = root.GetnodeName();
  CString text;
  if (rootName != fmt::kRootElement) {
    text.Format(u"Toplevel element must be %s not %s", fmt::kRootElement, rootName.GetString());
    return Fail(text);
  }
  if (root.hasChildNode() == 0) return true;
  for (AXMLDOMNode child = root.GetfirstChild(); !child.IsEmpty(); child = child.GetnextSibling()) {
    const DOMNodeType type = child.GetnodeType();
    if (type == NODE_COMMENT) continue;
    if (type != NODE_ELEMENT) {
      text.Format(u"Processing <config> expecting NODE_ELEMENT element type, got a %d", static_cast<int>(type));
      return Fail(text);
    }
    const CString name = child.GetnodeName();
    if (name != fmt::kItemElement) {
      text.Format(u"Undefined element %s found", name.GetString());
      return Fail(text);
    }
    if (!ParseConfigElement(child)) return false;
  }
  return true;
}

bool AConfiguration::ParseConfigElement(const AXMLDOMNode& element) {
  auto node = std::make_unique<ConfigNode>();
  if (!element.GetAttributeText(fmt::kNameAttribute, node->name))
    return Fail(u"No name attribute found on <config> item");
  CString type;
  if (!element.GetAttributeText(fmt::kTypeAttribute, type)) return Fail(u"No type attribute found on <config> element");
  CString value;
  if (!element.GetAttributeText(fmt::kValueAttribute, value)) value.Empty();
  node->kind = ParseValueType(type);
  switch (node->kind) {
    case kDword:
      node->dword = DecimalDword(value);
      break;
    case kBool: {
      CString lower = value;
      lower.MakeLower();
      node->flag = lower == fmt::kTrueText;
      break;
    }
    case kBinary: {
      SLHexString hex(value);
      if (!hex.ToBinary()) return Fail(u"Failed to convert data from hex string");
      node->bytes = hex.GetBytes();
      break;
    }
    case kString:
      node->text = value;
      break;
  }
  m_Items.push_back(std::move(node));
  return true;
}

CString AConfiguration::ProductKeyPath() const {
  CString path;
  if (m_KeyName.GetLength() > 0 && m_KeyName[0] == u'\\')
    path.Format(u"SOFTWARE\\Quilmo Software%s", m_KeyName.GetString());
  else
    path.Format(u"SOFTWARE\\Quilmo Software\\%s", m_KeyName.GetString());
  return path;
}

bool AConfiguration::WriteToRegistry() {
  HKEY product = nullptr;
  const CString productPath = ProductKeyPath();
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, productPath, 0, KEY_ALL_ACCESS, &product) == ERROR_SUCCESS) {
    // A missing "Config" key is as good as a deleted one.
    (void)RegDeleteKeyW(product, fmt::kConfigSubkey);
    RegCloseKey(product);
  }
  for (const auto& item : m_Items) {
    if (!WriteItem(*item)) {
      CString text;
      text.Format(u"Error setting configuration parameter %s", item->name.GetString());
      return Fail(text);
    }
  }
  return true;
}

bool AConfiguration::WriteItem(const ConfigNode& item) {
  ARegistrySettings settings(m_KeyName, kConfigKeyKind);
  switch (item.kind) {
    case kDword:
      return settings.WriteDWORD(item.name, item.dword);
    case kString:
      return settings.WriteString(item.name, item.text);
    case kBool:
      return settings.WriteBool(item.name, item.flag);
    case kBinary:
      return settings.WriteBinary(item.name, item.bytes.data(), static_cast<DWORD>(item.bytes.size()));
  }
  return false;
}
