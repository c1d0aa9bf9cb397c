// Thin wrappers over the platform's XML DOM. Every failed call writes one
// error entry to the log and yields an empty result, so readers test for
// empty results instead of result codes. Callers initialise COM on their
// thread first (CoInitializeEx).
#pragma once

#include <cstddef>

#include "ce/com.h"
#include "ce/cstring.h"
#include "ce/oleauto.h"
#include "ce/xmldom.h"

// COM on this thread for the documents while the object lives (multi-
// threaded), balanced on leaving when it came up.
class ComScope {
 public:
  ComScope() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~ComScope() {
    if (ok_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool ok_;
};

class AXMLDOMAttribute {
 public:
  AXMLDOMAttribute() = default;
  explicit AXMLDOMAttribute(IXMLDOMNode* node) : m_Node(node) {}

  bool IsEmpty() const { return !m_Node; }
  // The value (VT_BSTR for every attribute of the program's files); an
  // empty variant on failure.
  CComVariant get_value() const;

 private:
  CComPtr<IXMLDOMNode> m_Node;
};

class AXMLDOMNamedNodeMap {
 public:
  AXMLDOMNamedNodeMap() = default;
  explicit AXMLDOMNamedNodeMap(IXMLDOMNamedNodeMap* map) : m_Map(map) {}

  bool IsEmpty() const { return !m_Map; }
  // Empty (without an entry) when there is no attribute of that name.
  AXMLDOMAttribute getNamedItem(LPCWSTR name) const;

 private:
  CComPtr<IXMLDOMNamedNodeMap> m_Map;
};

class AXMLDOMNode {
 public:
  AXMLDOMNode() = default;
  explicit AXMLDOMNode(IXMLDOMNode* node) : m_Node(node) {}

  bool IsEmpty() const { return !m_Node; }
  // The interface itself, for what the wrapper does not cover (the node
  // type is read from it directly).
  IXMLDOMNode* operator->() const { return m_Node.get(); }

  CString GetnodeName() const;
  // VARIANT_TRUE (-1) when the node has children, else 0.
  VARIANT_BOOL hasChildNode() const;
  AXMLDOMNode GetfirstChild() const;
  AXMLDOMNode GetnextSibling() const;
  AXMLDOMNamedNodeMap Getattributes() const;

  // Reader helpers: the node type (NODE_INVALID for an empty node or a
  // failed call, no entry); the text of the named attribute, false when
  // the node has no such attribute.
  DOMNodeType GetnodeType() const;
  bool GetAttributeText(LPCWSTR name, CString& value) const;

 private:
  CComPtr<IXMLDOMNode> m_Node;
};

class ADOMDocument {
 public:
  // Creates the platform document; on failure the document is not valid.
  ADOMDocument();
  virtual ~ADOMDocument();
  ADOMDocument(const ADOMDocument&) = delete;
  ADOMDocument& operator=(const ADOMDocument&) = delete;

  bool IsValid() const { return valid; }
  // Loads and parses a device file; synchronous, every safety option off.
  bool LoadFile(const CString& path);
  // Loads and parses bytes held in memory (same checks as LoadFile; the
  // log names the source "<memory>").
  bool LoadBytes(const void* data, size_t size);
  // Empty when there is none.
  AXMLDOMNode GetDocumentElement();
  // "Unknown" when it cannot be read (the document is then not valid).
  CString GetParseErrorReason();

 private:
  bool Load(const CString& source, const void* data, size_t size);

  CComPtr<IXMLDOMDocument2> document;
  bool valid = false;
};
