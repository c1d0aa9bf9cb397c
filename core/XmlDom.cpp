#include "core/XmlDom.h"

#include "core/Log.h"

namespace {

const WCHAR kDocumentClass[] = u"ADOMDocument";
const WCHAR kNodeClass[] = u"AXMLDOMNode";
const WCHAR kMapClass[] = u"AXMLDOMNamedNodeMap";
const WCHAR kAttributeClass[] = u"AXMLDOMAttribute";

DWORD Code(HRESULT hr) { return static_cast<DWORD>(hr); }

}  // namespace

// AXMLDOMAttribute ----------------------------------------------------------

CComVariant AXMLDOMAttribute::get_value() const {
  CComVariant value;
  HRESULT hr = E_POINTER;
  CComPtr<IXMLDOMAttribute> attribute;
  if (m_Node) hr = m_Node.QueryInterface(IID_IXMLDOMAttribute, &attribute);
  if (SUCCEEDED(hr)) hr = attribute->get_value(&value);
  if (FAILED(hr)) {
    LogError(Code(hr), u"AXMLDOMAttribute::get_value() failed", kAttributeClass, __LINE__);
    value.Clear();
  }
  return value;
}

// AXMLDOMNamedNodeMap -------------------------------------------------------

AXMLDOMAttribute AXMLDOMNamedNodeMap::getNamedItem(LPCWSTR name) const {
  CComPtr<IXMLDOMNode> item;
  CComBSTR bstrName(name ? name : u"");
  HRESULT hr = m_Map ? m_Map->getNamedItem(bstrName, &item) : E_POINTER;
  if (FAILED(hr)) {
    LogError(Code(hr), u"AXMLDOMNamedNodeMap::getNamedItem() failed", kMapClass, __LINE__);
    return AXMLDOMAttribute();
  }
  return AXMLDOMAttribute(item.get());
}

// AXMLDOMNode ---------------------------------------------------------------

CString AXMLDOMNode::GetnodeName() const {
  CComBSTR name;
  HRESULT hr = m_Node ? m_Node->get_nodeName(&name) : E_POINTER;
  if (FAILED(hr)) {
    LogError(Code(hr), u"AXMLDOMNode::GetnodeName() failed", kNodeClass, __LINE__);
    return CString();
  }
  return CString(name.view());
}

VARIANT_BOOL AXMLDOMNode::hasChildNode() const {
  VARIANT_BOOL has = VARIANT_FALSE;
  HRESULT hr = m_Node ? m_Node->hasChildNodes(&has) : E_POINTER;
  if (FAILED(hr)) {
    LogError(Code(hr), u"IXMLDOMNode::hasChildNode() failed", kNodeClass, __LINE__);
    return 0;
  }
  return has;
}

AXMLDOMNode AXMLDOMNode::GetfirstChild() const {
  CComPtr<IXMLDOMNode> child;
  HRESULT hr = m_Node ? m_Node->get_firstChild(&child) : E_POINTER;
  if (FAILED(hr)) {
    LogError(Code(hr), u"IXMLDOMNode::GetfirstChild() failed", kNodeClass, __LINE__);
    return AXMLDOMNode();
  }
  return AXMLDOMNode(child.get());
}

AXMLDOMNode AXMLDOMNode::GetnextSibling() const {
  CComPtr<IXMLDOMNode> sibling;
  HRESULT hr = m_Node ? m_Node->get_nextSibling(&sibling) : E_POINTER;
  if (FAILED(hr)) {
    LogError(Code(hr), u"IXMLDOMNode::GetnextSibling() failed", kNodeClass, __LINE__);
    return AXMLDOMNode();
  }
  return AXMLDOMNode(sibling.get());
}

AXMLDOMNamedNodeMap AXMLDOMNode::Getattributes() const {
  CComPtr<IXMLDOMNamedNodeMap> map;
  HRESULT hr = m_Node ? m_Node->get_attributes(&map) : E_POINTER;
  if (FAILED(hr)) {
    LogError(Code(hr), u"AXMLDOMNode::Getattributes() failed", kNodeClass, __LINE__);
    return AXMLDOMNamedNodeMap();
  }
  return AXMLDOMNamedNodeMap(map.get());
}

DOMNodeType AXMLDOMNode::GetnodeType() const {
  DOMNodeType type = NODE_INVALID;
  if (!m_Node || FAILED(m_Node->get_nodeType(&type))) return NODE_INVALID;
  return type;
}

bool AXMLDOMNode::GetAttributeText(LPCWSTR name, CString& value) const {
  AXMLDOMNamedNodeMap map = Getattributes();
  if (map.IsEmpty()) return false;
  AXMLDOMAttribute attribute = map.getNamedItem(name);
  if (attribute.IsEmpty()) return false;
  CComVariant v = attribute.get_value();
  if (v.vt != VT_BSTR) return false;
  value = CString(v.Text());
  return true;
}

// ADOMDocument --------------------------------------------------------------

ADOMDocument::ADOMDocument() {
  HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_SERVER, IID_IXMLDOMDocument2,
                                reinterpret_cast<void**>(&document));
  if (FAILED(hr)) {
    LogError(Code(hr), u"CoCreateInstance() failed", kDocumentClass, __LINE__);
    valid = false;
    return;
  }
  valid = true;
}

ADOMDocument::~ADOMDocument() = default;

bool ADOMDocument::LoadFile(const CString& path) { return Load(path, nullptr, 0); }

bool ADOMDocument::LoadBytes(const void* data, size_t size) {
  return Load(u"<memory>", data ? data : "", size);
}

bool ADOMDocument::Load(const CString& source, const void* data, size_t size) {
  if (!valid) {
    LogError(0, u"ADOMParser object not valid to perform LoadFile() operation", kDocumentClass,
             __LINE__);
    return false;
  }
  document->put_async(VARIANT_FALSE);

  // Every safety restriction off; a document without the interface is
  // left as it is.
  CComPtr<IObjectSafety> safety;
  if (SUCCEEDED(document.QueryInterface(IID_IObjectSafety, &safety))) {
    DWORD supported = 0, enabled = 0;
    if (SUCCEEDED(safety->GetInterfaceSafetyOptions(IID_IXMLDOMDocument2, &supported, &enabled)))
      safety->SetInterfaceSafetyOptions(IID_IXMLDOMDocument2, supported, 0);
  }

  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr;
  if (data) {
    hr = ce::LoadXmlBytes(document, data, size, &loaded);
  } else {
    CComVariant path(source.view());
    hr = document->load(path, &loaded);
  }
  if (SUCCEEDED(hr) && loaded == VARIANT_TRUE) return true;

  CString text;
  text.Format(u"Failed to load XML document %s: %s", source.GetString(),
              GetParseErrorReason().GetString());
  LogError(Code(hr), text, kDocumentClass, __LINE__);
  valid = false;
  return false;
}

AXMLDOMNode ADOMDocument::GetDocumentElement() {
  if (!valid) {
    LogError(0, u"ADOMParser object not valid to perform GetDocumentElement() operation",
             kDocumentClass, __LINE__);
    return AXMLDOMNode();
  }
  CComPtr<IXMLDOMElement> element;
  if (FAILED(document->get_documentElement(&element))) {
    valid = false;
    return AXMLDOMNode();
  }
  return AXMLDOMNode(element.get());
}

CString ADOMDocument::GetParseErrorReason() {
  CComPtr<IXMLDOMParseError> error;
  CComBSTR reason;
  if (!document || FAILED(document->get_parseError(&error)) || !error ||
      FAILED(error->get_reason(&reason))) {
    valid = false;
    return u"Unknown";
  }
  return CString(reason.view());
}
