// The device's XML DOM document (read-only subset): create it with
// CoCreateInstance(CLSID_DOMDocument, ..., IID_IXMLDOMDocument2), load a
// file (a device path) or a text, then walk the tree.
//
// Tree as the readers see it:
//   - the document (NODE_DOCUMENT) holds exactly one element, the document
//     element; the XML declaration is not a node; comments and processing
//     instructions before or after it are children of the document;
//   - element children: elements (1), text (3), CDATA (4), processing
//     instructions (7) and comments (8); text made only of white space is
//     dropped (preserveWhiteSpace off);
//   - attributes are reached through the attribute map, not as children.
// Node names: the tag name, "#text", "#cdata-section", "#comment", the
// instruction's target, "#document". Names compare with exact case.
//
// Loading reads UTF-8 and UTF-16 (with or without byte-order mark) and
// Latin-1 when the declaration names it. A file above kMaxXmlBytes, a parse
// error, more than one top-level element, text at the top level or a
// repeated attribute fail the load: load returns S_FALSE with
// VARIANT_FALSE, parseError holds the reason, and the document is empty.
// Nodes taken from an earlier load stay valid after a new load.
//
// Every out string is a BSTR the caller frees; every out interface carries
// a reference the caller releases. Navigation to nothing (no first child,
// no next sibling, no attribute of that name, no document element) returns
// S_FALSE with a null pointer.
#pragma once

#include <cstddef>

#include "ce/com.h"
#include "ce/oleauto.h"

enum DOMNodeType {
  NODE_INVALID = 0,
  NODE_ELEMENT = 1,
  NODE_ATTRIBUTE = 2,
  NODE_TEXT = 3,
  NODE_CDATA_SECTION = 4,
  NODE_ENTITY_REFERENCE = 5,
  NODE_ENTITY = 6,
  NODE_PROCESSING_INSTRUCTION = 7,
  NODE_COMMENT = 8,
  NODE_DOCUMENT = 9,
  NODE_DOCUMENT_TYPE = 10,
  NODE_DOCUMENT_FRAGMENT = 11,
  NODE_NOTATION = 12,
};

extern const CLSID CLSID_DOMDocument;           // {2933BF90-7B36-11D2-B20E-00C04F983E60}
extern const IID IID_IXMLDOMNode;               // {2933BF80-7B36-11D2-B20E-00C04F983E60}
extern const IID IID_IXMLDOMDocument;           // {2933BF81-7B36-11D2-B20E-00C04F983E60}
extern const IID IID_IXMLDOMNodeList;           // {2933BF82-7B36-11D2-B20E-00C04F983E60}
extern const IID IID_IXMLDOMNamedNodeMap;       // {2933BF83-7B36-11D2-B20E-00C04F983E60}
extern const IID IID_IXMLDOMAttribute;          // {2933BF85-7B36-11D2-B20E-00C04F983E60}
extern const IID IID_IXMLDOMElement;            // {2933BF86-7B36-11D2-B20E-00C04F983E60}
extern const IID IID_IXMLDOMDocument2;          // {2933BF95-7B36-11D2-B20E-00C04F983E60}
extern const IID IID_IXMLDOMParseError;         // {3EFAA426-272F-11D2-836F-0000F87A7782}
extern const IID IID_IObjectSafety;             // {CB5BDC81-93C1-11CF-8F20-00805F2CD064}

struct IXMLDOMNodeList;
struct IXMLDOMNamedNodeMap;

struct IXMLDOMNode : IUnknown {
  virtual HRESULT get_nodeName(BSTR* name) = 0;
  // The text of a text, CDATA, comment or instruction node and the value of
  // an attribute (VT_BSTR); VT_NULL for elements and the document.
  virtual HRESULT get_nodeValue(VARIANT* value) = 0;
  virtual HRESULT get_nodeType(DOMNodeType* type) = 0;
  virtual HRESULT get_parentNode(IXMLDOMNode** parent) = 0;
  virtual HRESULT get_childNodes(IXMLDOMNodeList** children) = 0;
  virtual HRESULT get_firstChild(IXMLDOMNode** child) = 0;
  virtual HRESULT get_nextSibling(IXMLDOMNode** sibling) = 0;
  // Elements only; S_FALSE and null for other nodes.
  virtual HRESULT get_attributes(IXMLDOMNamedNodeMap** attributes) = 0;
  virtual HRESULT hasChildNodes(VARIANT_BOOL* has) = 0;
  // The text of the node and all its descendants, in document order.
  virtual HRESULT get_text(BSTR* text) = 0;

 protected:
  ~IXMLDOMNode() = default;
};

struct IXMLDOMNodeList : IUnknown {
  virtual HRESULT get_item(LONG index, IXMLDOMNode** item) = 0;
  virtual HRESULT get_length(LONG* length) = 0;
  // The next node of the list from the list's cursor; S_FALSE at the end.
  virtual HRESULT nextNode(IXMLDOMNode** next) = 0;
  virtual HRESULT reset() = 0;

 protected:
  ~IXMLDOMNodeList() = default;
};

struct IXMLDOMNamedNodeMap : IUnknown {
  virtual HRESULT getNamedItem(BSTR name, IXMLDOMNode** item) = 0;
  virtual HRESULT get_item(LONG index, IXMLDOMNode** item) = 0;
  virtual HRESULT get_length(LONG* length) = 0;

 protected:
  ~IXMLDOMNamedNodeMap() = default;
};

struct IXMLDOMAttribute : IXMLDOMNode {
  virtual HRESULT get_name(BSTR* name) = 0;
  // VT_BSTR.
  virtual HRESULT get_value(VARIANT* value) = 0;

 protected:
  ~IXMLDOMAttribute() = default;
};

struct IXMLDOMElement : IXMLDOMNode {
  virtual HRESULT get_tagName(BSTR* name) = 0;
  // VT_BSTR, or S_FALSE with VT_NULL when the attribute is missing.
  virtual HRESULT getAttribute(BSTR name, VARIANT* value) = 0;

 protected:
  ~IXMLDOMElement() = default;
};

struct IXMLDOMParseError : IUnknown {
  // 0 after a successful load.
  virtual HRESULT get_errorCode(LONG* code) = 0;
  // Empty after a successful load.
  virtual HRESULT get_reason(BSTR* reason) = 0;
  // 1-based line and character position of the error (0 when unknown).
  virtual HRESULT get_line(LONG* line) = 0;
  virtual HRESULT get_linepos(LONG* position) = 0;
  // Byte offset of the error in the loaded data.
  virtual HRESULT get_filepos(LONG* position) = 0;

 protected:
  ~IXMLDOMParseError() = default;
};

struct IXMLDOMDocument : IXMLDOMNode {
  virtual HRESULT get_documentElement(IXMLDOMElement** element) = 0;
  virtual HRESULT get_parseError(IXMLDOMParseError** error) = 0;
  virtual HRESULT get_async(VARIANT_BOOL* async) = 0;
  // Loading is always synchronous; the flag is kept for the caller.
  virtual HRESULT put_async(VARIANT_BOOL async) = 0;
  // source: VT_BSTR holding a device path. S_OK with VARIANT_TRUE, or
  // S_FALSE with VARIANT_FALSE and the reason in parseError.
  virtual HRESULT load(VARIANT source, VARIANT_BOOL* ok) = 0;
  // Parses the text itself.
  virtual HRESULT loadXML(BSTR text, VARIANT_BOOL* ok) = 0;

 protected:
  ~IXMLDOMDocument() = default;
};

struct IXMLDOMDocument2 : IXMLDOMDocument {
 protected:
  ~IXMLDOMDocument2() = default;
};

#define INTERFACESAFE_FOR_UNTRUSTED_CALLER 0x00000001
#define INTERFACESAFE_FOR_UNTRUSTED_DATA 0x00000002

// The document supports both safety options and starts with none enabled;
// the options are recorded and have no further effect.
struct IObjectSafety : IUnknown {
  virtual HRESULT GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) = 0;
  virtual HRESULT SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) = 0;

 protected:
  ~IObjectSafety() = default;
};

namespace ce {

// Largest file or text a document loads.
inline constexpr size_t kMaxXmlBytes = 16u * 1024u * 1024u;

// Loads raw bytes (any encoding the file loader accepts) into a document
// made by CoCreateInstance, as load does for a file. E_INVALIDARG for a
// document of another kind.
HRESULT LoadXmlBytes(IXMLDOMDocument* document, const void* data, size_t size, VARIANT_BOOL* ok);

}  // namespace ce
