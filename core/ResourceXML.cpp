#include "core/ResourceXML.h"

#include "ce/com.h"
#include "ce/errors.h"
#include "core/Log.h"
#include "core/System.h"
#include "core/XmlDom.h"

namespace {

const WCHAR kClass[] = u"AResourceXML";

// Strict decimal 0..4294967295 (blanks around it allowed).
bool ParseId(const CString& text, DWORD* id) {
  CString t = text;
  t.Trim();
  if (t.IsEmpty() || t.GetLength() > 10) return false;
  unsigned long long v = 0;
  for (int i = 0; i < t.GetLength(); ++i) {
    const WCHAR c = t[i];
    if (c < u'0' || c > u'9') return false;
    v = v * 10 + static_cast<unsigned>(c - u'0');
  }
  if (v > 0xFFFFFFFFull) return false;
  *id = static_cast<DWORD>(v);
  return true;
}

}  // namespace

bool AResourceXML::Fail(const CString& text) {
  m_ErrorText = text;
  return false;
}

bool AResourceXML::Load(LPCWSTR path) {
  m_ErrorText.Empty();
  m_NewStrings.clear();
  m_NewImages.clear();
  ComScope com;
  bool ok = false;
  {
    ADOMDocument document;
    if (!document.IsValid() || !document.LoadFile(path ? path : u"")) {
      m_ErrorText = document.GetParseErrorReason();
    } else {
      m_Document = &document;
      ok = ProcessDocument();
      m_Document = nullptr;
      if (!ok) {
        CString text;
        text.Format(u"Failed to process resource XML %s: %s", path, m_ErrorText.GetString());
        LogError(0, text, kClass, __LINE__);
      }
    }
  }
  if (ok) {
    for (auto& [id, text] : m_NewStrings) m_Strings[id] = text;
    for (auto& [id, name] : m_NewImages) m_Images[id] = name;
  }
  m_NewStrings.clear();
  m_NewImages.clear();
  return ok;
}

bool AResourceXML::ProcessDocument() {
  if (!m_Document) return Fail(u"Resource XML document is empty");
  AXMLDOMNode root = m_Document->GetDocumentElement();
  if (root.IsEmpty()) return Fail(u"Resource XML document is empty");
  const CString rootName = root.GetnodeName();
  if (rootName != u"resources") {
    CString text;
    text.Format(u"Toplevel element must be %s not %s", u"resources", rootName.GetString());
    return Fail(text);
  }
  for (AXMLDOMNode node = root.GetfirstChild(); !node.IsEmpty(); node = node.GetnextSibling()) {
    const DOMNodeType type = node.GetnodeType();
    if (type == NODE_COMMENT) continue;
    if (type != NODE_ELEMENT) {
      CString text;
      text.Format(u"Expecting NODE_ELEMENT element type, got a %d", static_cast<int>(type));
      return Fail(text);
    }
    const CString name = node.GetnodeName();
    const bool isString = name == u"string";
    if (!isString && name != u"image") {
      CString text;
      text.Format(u"Unexpected resource type %s", name.GetString());
      return Fail(text);
    }
    CString idText, value;
    if (!node.GetAttributeText(u"id", idText)) return Fail(u"No id attribute found on string node");
    if (!node.GetAttributeText(isString ? u"value" : u"filename", value))
      return Fail(u"No value attribute found on string node");
    DWORD id = 0;
    if (!ParseId(idText, &id)) {
      CString text;
      text.Format(u"Invalid id attribute \"%s\" on %s node", idText.GetString(), name.GetString());
      return Fail(text);
    }
    (isString ? m_NewStrings : m_NewImages)[id] = value;
  }
  return true;
}

bool AResourceXML::LoadBitmap(DWORD id, AResBitmap& bitmap) {
  auto it = m_Images.find(id);
  if (it == m_Images.end()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  CString name = it->second;
  name.TrimLeft(u'\\');
  const CString path = System::GetProgramPath(false) + name;
  if (bitmap.LoadBitmapFile(path)) return true;
  const DWORD error = GetLastError();
  m_ErrorText.Format(u"Failed to load bitmap %s (%d)", path.GetString(), static_cast<int>(error));
  LogError(0, m_ErrorText, kClass, __LINE__);
  SetLastError(error);
  return false;
}

bool AResourceXML::LookupString(DWORD id, CString& text) const {
  auto it = m_Strings.find(id);
  if (it == m_Strings.end()) return false;
  text = it->second;
  return true;
}

void AResourceXML::RemoveAll() {
  m_Strings.clear();
  m_Images.clear();
}
