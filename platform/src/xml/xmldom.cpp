// The XML DOM document over pugixml. Every node object holds a shared
// reference to the parsed tree it came from, so nodes outlive a reload of
// their document.
#include "ce/xmldom.h"

#include <pugixml.hpp>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/text.h"
#include "xml/xmldom_impl.h"

namespace {
constexpr BYTE kDomTail[8] = {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60};
constexpr GUID DomGuid(DWORD d1) {
  return {d1, 0x7B36, 0x11D2,
          {kDomTail[0], kDomTail[1], kDomTail[2], kDomTail[3], kDomTail[4],
           kDomTail[5], kDomTail[6], kDomTail[7]}};
}
}  // namespace

const CLSID CLSID_DOMDocument = DomGuid(0x2933BF90);
const IID IID_IXMLDOMNode = DomGuid(0x2933BF80);
const IID IID_IXMLDOMDocument = DomGuid(0x2933BF81);
const IID IID_IXMLDOMNodeList = DomGuid(0x2933BF82);
const IID IID_IXMLDOMNamedNodeMap = DomGuid(0x2933BF83);
const IID IID_IXMLDOMAttribute = DomGuid(0x2933BF85);
const IID IID_IXMLDOMElement = DomGuid(0x2933BF86);
const IID IID_IXMLDOMDocument2 = DomGuid(0x2933BF95);
const IID IID_IXMLDOMParseError = {
    0x3EFAA426, 0x272F, 0x11D2, {0x83, 0x6F, 0x00, 0x00, 0xF8, 0x7A, 0x77, 0x82}};
const IID IID_IObjectSafety = {
    0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};

namespace {

using Tree = std::shared_ptr<const pugi::xml_document>;

constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_comments | pugi::parse_pi | pugi::parse_fragment;
constexpr HRESULT kParseErrorBase = static_cast<HRESULT>(0xC00CE500L);

// Reference counting shared by every object; the last Release deletes.
template <class Base>
class Counted : public Base {
 public:
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

 protected:
  virtual ~Counted() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

HRESULT PutBstr(BSTR* out, std::u16string_view text) {
  if (!out) return E_POINTER;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT PutBstr(BSTR* out, const char* utf8) { return PutBstr(out, ce::FromUtf8(utf8)); }

HRESULT PutVariantText(VARIANT* out, const char* utf8) {
  if (!out) return E_POINTER;
  VariantInit(out);
  BSTR s = nullptr;
  HRESULT hr = PutBstr(&s, utf8);
  if (FAILED(hr)) return hr;
  out->vt = VT_BSTR;
  out->bstrVal = s;
  return S_OK;
}

// Declarations and document types are parsed away; guard anyway.
bool Visible(pugi::xml_node n) {
  switch (n.type()) {
    case pugi::node_element:
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
      return true;
    default:
      return false;
  }
}

pugi::xml_node FirstVisible(pugi::xml_node n) {
  while (n && !Visible(n)) n = n.next_sibling();
  return n;
}

DOMNodeType TypeOf(pugi::xml_node n) {
  switch (n.type()) {
    case pugi::node_document: return NODE_DOCUMENT;
    case pugi::node_element: return NODE_ELEMENT;
    case pugi::node_pcdata: return NODE_TEXT;
    case pugi::node_cdata: return NODE_CDATA_SECTION;
    case pugi::node_comment: return NODE_COMMENT;
    case pugi::node_pi: return NODE_PROCESSING_INSTRUCTION;
    default: return NODE_INVALID;
  }
}

const char* NameOf(pugi::xml_node n) {
  switch (n.type()) {
    case pugi::node_document: return "#document";
    case pugi::node_pcdata: return "#text";
    case pugi::node_cdata: return "#cdata-section";
    case pugi::node_comment: return "#comment";
    default: return n.name();
  }
}

// Text of the node and its descendants in document order, without
// recursion (nesting depth is whatever the file holds).
std::string TextOf(pugi::xml_node n) {
  switch (n.type()) {
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
      return n.value();
    default:
      break;
  }
  std::string text;
  pugi::xml_node cur = n.first_child();
  while (cur) {
    if (cur.type() == pugi::node_pcdata || cur.type() == pugi::node_cdata) text += cur.value();
    if (cur.type() == pugi::node_element && cur.first_child()) {
      cur = cur.first_child();
      continue;
    }
    while (cur && cur != n && !cur.next_sibling()) cur = cur.parent();
    if (!cur || cur == n) break;
    cur = cur.next_sibling();
  }
  return text;
}

IXMLDOMNode* MakeNode(const Tree& tree, pugi::xml_node n);

class NodeList final : public Counted<IXMLDOMNodeList> {
 public:
  NodeList(Tree tree, std::vector<pugi::xml_node> nodes)
      : tree_(std::move(tree)), nodes_(std::move(nodes)) {}

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IXMLDOMNodeList))
      return E_NOINTERFACE;
    AddRef();
    *out = static_cast<IXMLDOMNodeList*>(this);
    return S_OK;
  }
  HRESULT get_item(LONG index, IXMLDOMNode** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (index < 0 || static_cast<size_t>(index) >= nodes_.size()) return S_FALSE;
    *item = MakeNode(tree_, nodes_[static_cast<size_t>(index)]);
    return *item ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT get_length(LONG* length) override {
    if (!length) return E_POINTER;
    *length = static_cast<LONG>(nodes_.size());
    return S_OK;
  }
  HRESULT nextNode(IXMLDOMNode** next) override {
    HRESULT hr = get_item(static_cast<LONG>(cursor_), next);
    if (hr == S_OK) ++cursor_;
    return hr;
  }
  HRESULT reset() override {
    cursor_ = 0;
    return S_OK;
  }

 private:
  Tree tree_;
  std::vector<pugi::xml_node> nodes_;
  size_t cursor_ = 0;
};

class Attribute final : public Counted<IXMLDOMAttribute> {
 public:
  Attribute(Tree tree, pugi::xml_attribute attr) : tree_(std::move(tree)), attr_(attr) {}

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IXMLDOMNode) &&
        !IsEqualIID(iid, IID_IXMLDOMAttribute))
      return E_NOINTERFACE;
    AddRef();
    *out = static_cast<IXMLDOMAttribute*>(this);
    return S_OK;
  }
  HRESULT get_nodeName(BSTR* name) override { return PutBstr(name, attr_.name()); }
  HRESULT get_nodeValue(VARIANT* value) override { return PutVariantText(value, attr_.value()); }
  HRESULT get_nodeType(DOMNodeType* type) override {
    if (!type) return E_POINTER;
    *type = NODE_ATTRIBUTE;
    return S_OK;
  }
  HRESULT get_parentNode(IXMLDOMNode** parent) override { return None(parent); }
  HRESULT get_childNodes(IXMLDOMNodeList** children) override {
    if (!children) return E_POINTER;
    *children = new NodeList(tree_, {});
    return S_OK;
  }
  HRESULT get_firstChild(IXMLDOMNode** child) override { return None(child); }
  HRESULT get_nextSibling(IXMLDOMNode** sibling) override { return None(sibling); }
  HRESULT get_attributes(IXMLDOMNamedNodeMap** attributes) override { return None(attributes); }
  HRESULT hasChildNodes(VARIANT_BOOL* has) override {
    if (!has) return E_POINTER;
    *has = VARIANT_FALSE;
    return S_FALSE;
  }
  HRESULT get_text(BSTR* text) override { return PutBstr(text, attr_.value()); }
  HRESULT get_name(BSTR* name) override { return PutBstr(name, attr_.name()); }
  HRESULT get_value(VARIANT* value) override { return PutVariantText(value, attr_.value()); }

 private:
  template <class T>
  static HRESULT None(T** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return S_FALSE;
  }
  Tree tree_;
  pugi::xml_attribute attr_;
};

class AttributeMap final : public Counted<IXMLDOMNamedNodeMap> {
 public:
  AttributeMap(Tree tree, pugi::xml_node owner) : tree_(std::move(tree)), owner_(owner) {}

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IXMLDOMNamedNodeMap))
      return E_NOINTERFACE;
    AddRef();
    *out = static_cast<IXMLDOMNamedNodeMap*>(this);
    return S_OK;
  }
  HRESULT getNamedItem(BSTR name, IXMLDOMNode** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (!name) return E_INVALIDARG;
    pugi::xml_attribute a = owner_.attribute(ce::ToUtf8(std::u16string_view(name, SysStringLen(name))).c_str());
    if (!a) return S_FALSE;
    *item = new Attribute(tree_, a);
    return S_OK;
  }
  HRESULT get_item(LONG index, IXMLDOMNode** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    LONG i = 0;
    for (pugi::xml_attribute a : owner_.attributes()) {
      if (i++ == index) {
        *item = new Attribute(tree_, a);
        return S_OK;
      }
    }
    return S_FALSE;
  }
  HRESULT get_length(LONG* length) override {
    if (!length) return E_POINTER;
    LONG n = 0;
    for (pugi::xml_attribute a : owner_.attributes()) {
      (void)a;
      ++n;
    }
    *length = n;
    return S_OK;
  }

 private:
  Tree tree_;
  pugi::xml_node owner_;
};

// The node operations of elements, other nodes and the document itself.
struct NodeOps {
  static HRESULT Name(pugi::xml_node n, BSTR* out) { return PutBstr(out, NameOf(n)); }
  static HRESULT Value(pugi::xml_node n, VARIANT* out) {
    if (!out) return E_POINTER;
    switch (n.type()) {
      case pugi::node_pcdata:
      case pugi::node_cdata:
      case pugi::node_comment:
      case pugi::node_pi:
        return PutVariantText(out, n.value());
      default:
        VariantInit(out);
        out->vt = VT_NULL;
        return S_OK;
    }
  }
  static HRESULT Type(pugi::xml_node n, DOMNodeType* out) {
    if (!out) return E_POINTER;
    *out = TypeOf(n);
    return S_OK;
  }
  static HRESULT Result(const Tree& tree, pugi::xml_node n, IXMLDOMNode** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!n) return S_FALSE;
    *out = MakeNode(tree, n);
    return S_OK;
  }
  static HRESULT Parent(const Tree& tree, pugi::xml_node n, IXMLDOMNode** out) {
    return Result(tree, n.parent(), out);
  }
  static HRESULT Children(const Tree& tree, pugi::xml_node n, IXMLDOMNodeList** out) {
    if (!out) return E_POINTER;
    std::vector<pugi::xml_node> nodes;
    for (pugi::xml_node c = FirstVisible(n.first_child()); c; c = FirstVisible(c.next_sibling()))
      nodes.push_back(c);
    *out = new NodeList(tree, std::move(nodes));
    return S_OK;
  }
  static HRESULT First(const Tree& tree, pugi::xml_node n, IXMLDOMNode** out) {
    return Result(tree, FirstVisible(n.first_child()), out);
  }
  static HRESULT Next(const Tree& tree, pugi::xml_node n, IXMLDOMNode** out) {
    if (n.type() == pugi::node_document) return Result(tree, pugi::xml_node(), out);
    return Result(tree, FirstVisible(n.next_sibling()), out);
  }
  static HRESULT Attributes(const Tree& tree, pugi::xml_node n, IXMLDOMNamedNodeMap** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (n.type() != pugi::node_element) return S_FALSE;
    *out = new AttributeMap(tree, n);
    return S_OK;
  }
  static HRESULT HasChildren(pugi::xml_node n, VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    bool has = static_cast<bool>(FirstVisible(n.first_child()));
    *out = has ? VARIANT_TRUE : VARIANT_FALSE;
    return has ? S_OK : S_FALSE;
  }
  static HRESULT Text(pugi::xml_node n, BSTR* out) { return PutBstr(out, TextOf(n).c_str()); }
};

class Node final : public Counted<IXMLDOMElement> {
 public:
  Node(Tree tree, pugi::xml_node node) : tree_(std::move(tree)), node_(node) {}

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    bool ok = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IXMLDOMNode) ||
              (IsEqualIID(iid, IID_IXMLDOMElement) && node_.type() == pugi::node_element);
    if (!ok) return E_NOINTERFACE;
    AddRef();
    *out = static_cast<IXMLDOMElement*>(this);
    return S_OK;
  }
  HRESULT get_nodeName(BSTR* name) override { return NodeOps::Name(node_, name); }
  HRESULT get_nodeValue(VARIANT* value) override { return NodeOps::Value(node_, value); }
  HRESULT get_nodeType(DOMNodeType* type) override { return NodeOps::Type(node_, type); }
  HRESULT get_parentNode(IXMLDOMNode** parent) override {
    return NodeOps::Parent(tree_, node_, parent);
  }
  HRESULT get_childNodes(IXMLDOMNodeList** children) override {
    return NodeOps::Children(tree_, node_, children);
  }
  HRESULT get_firstChild(IXMLDOMNode** child) override {
    return NodeOps::First(tree_, node_, child);
  }
  HRESULT get_nextSibling(IXMLDOMNode** sibling) override {
    return NodeOps::Next(tree_, node_, sibling);
  }
  HRESULT get_attributes(IXMLDOMNamedNodeMap** attributes) override {
    return NodeOps::Attributes(tree_, node_, attributes);
  }
  HRESULT hasChildNodes(VARIANT_BOOL* has) override { return NodeOps::HasChildren(node_, has); }
  HRESULT get_text(BSTR* text) override { return NodeOps::Text(node_, text); }
  HRESULT get_tagName(BSTR* name) override { return PutBstr(name, node_.name()); }
  HRESULT getAttribute(BSTR name, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    if (!name) return E_INVALIDARG;
    pugi::xml_attribute a = node_.attribute(ce::ToUtf8(std::u16string_view(name, SysStringLen(name))).c_str());
    if (!a) {
      value->vt = VT_NULL;
      return S_FALSE;
    }
    return PutVariantText(value, a.value());
  }

 private:
  Tree tree_;
  pugi::xml_node node_;
};

IXMLDOMNode* MakeNode(const Tree& tree, pugi::xml_node n) {
  return static_cast<IXMLDOMElement*>(new Node(tree, n));
}

struct LoadError {
  HRESULT code = S_OK;
  std::u16string reason;
  LONG line = 0;
  LONG linepos = 0;
  LONG filepos = 0;
};

class ParseError final : public Counted<IXMLDOMParseError> {
 public:
  explicit ParseError(LoadError e) : e_(std::move(e)) {}

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IXMLDOMParseError))
      return E_NOINTERFACE;
    AddRef();
    *out = static_cast<IXMLDOMParseError*>(this);
    return S_OK;
  }
  HRESULT get_errorCode(LONG* code) override { return Put(code, e_.code); }
  HRESULT get_reason(BSTR* reason) override { return PutBstr(reason, e_.reason); }
  HRESULT get_line(LONG* line) override { return Put(line, e_.line); }
  HRESULT get_linepos(LONG* position) override { return Put(position, e_.linepos); }
  HRESULT get_filepos(LONG* position) override { return Put(position, e_.filepos); }

 private:
  static HRESULT Put(LONG* out, LONG v) {
    if (!out) return E_POINTER;
    *out = v;
    return S_OK;
  }
  LoadError e_;
};

// Fills line and position of a byte offset into UTF-8 text.
void Locate(std::string_view text, size_t offset, LoadError* e) {
  if (offset > text.size()) offset = text.size();
  LONG line = 1;
  size_t lineStart = 0;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  e->line = line;
  e->linepos = static_cast<LONG>(offset - lineStart) + 1;
  e->filepos = static_cast<LONG>(offset);
}

std::u16string Reason(std::string_view what, const LoadError& e) {
  std::string s(what);
  if (e.line > 0)
    s += " (line " + std::to_string(e.line) + ", position " + std::to_string(e.linepos) + ")";
  return ce::FromUtf8(s);
}

// Where a node starts in the parsed text: an element at its "<" (pugixml
// tells where its name starts), text at its first character; -1 unknown.
ptrdiff_t NodeStart(const pugi::xml_node& n) {
  ptrdiff_t at = n.offset_debug();
  if (n.type() == pugi::node_element && at > 0) --at;
  return at;
}

// The rules pugixml leaves to us: one document element, no text at the
// top level, no repeated attribute. Iterative over the whole tree. *offset
// receives where the offending node starts (the end of the text when the
// document holds no element; -1 when unknown).
bool CheckTree(const pugi::xml_document& doc, size_t textSize, std::string* what, ptrdiff_t* offset) {
  int elements = 0;
  for (pugi::xml_node n : doc.children()) {
    if (n.type() == pugi::node_element) ++elements;
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
      *what = "Text is not allowed at the top level of a document";
      *offset = NodeStart(n);
      return false;
    }
    if (n.type() == pugi::node_element && elements == 2) {
      *what = "A document holds only one top-level element";
      *offset = NodeStart(n);
      return false;
    }
  }
  if (elements == 0) {
    *what = "No document element found";
    *offset = static_cast<ptrdiff_t>(textSize);
    return false;
  }
  std::unordered_set<std::string_view> names;
  pugi::xml_node cur = doc.first_child();
  while (cur) {
    if (cur.type() == pugi::node_element && cur.first_attribute() &&
        cur.first_attribute().next_attribute()) {
      names.clear();
      for (pugi::xml_attribute a : cur.attributes()) {
        if (!names.insert(a.name()).second) {
          *what = std::string("Attribute \"") + a.name() + "\" appears twice";
          *offset = NodeStart(cur);
          return false;
        }
      }
    }
    if (cur.first_child()) {
      cur = cur.first_child();
      continue;
    }
    while (cur && !cur.next_sibling()) cur = cur.parent();
    if (cur) cur = cur.next_sibling();
  }
  return true;
}

// UTF-16 input (by byte-order mark or by a leading "<" in either byte
// order) is turned into UTF-8 here, so that error offsets count in the
// text that was parsed; everything else goes to pugixml's detection.
std::string Utf16ToUtf8(const BYTE* p, size_t size, bool bigEndian) {
  std::u16string wide(size / 2, u'\0');
  for (size_t i = 0; i < wide.size(); ++i) {
    BYTE lo = p[2 * i + (bigEndian ? 1 : 0)], hi = p[2 * i + (bigEndian ? 0 : 1)];
    wide[i] = static_cast<char16_t>(lo | (hi << 8));
  }
  return ce::ToUtf8(wide);
}

class Document final : public IXMLDOMDocument2, public IObjectSafety {
 public:
  Document() : tree_(std::make_shared<pugi::xml_document>()) {}

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IXMLDOMNode) ||
        IsEqualIID(iid, IID_IXMLDOMDocument) || IsEqualIID(iid, IID_IXMLDOMDocument2)) {
      *out = static_cast<IXMLDOMDocument2*>(this);
    } else if (IsEqualIID(iid, IID_IObjectSafety)) {
      *out = static_cast<IObjectSafety*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  // Node operations on the document node.
  HRESULT get_nodeName(BSTR* name) override { return NodeOps::Name(*tree_, name); }
  HRESULT get_nodeValue(VARIANT* value) override { return NodeOps::Value(*tree_, value); }
  HRESULT get_nodeType(DOMNodeType* type) override { return NodeOps::Type(*tree_, type); }
  HRESULT get_parentNode(IXMLDOMNode** parent) override {
    return NodeOps::Result(tree_, pugi::xml_node(), parent);
  }
  HRESULT get_childNodes(IXMLDOMNodeList** children) override {
    return NodeOps::Children(tree_, *tree_, children);
  }
  HRESULT get_firstChild(IXMLDOMNode** child) override {
    return NodeOps::First(tree_, *tree_, child);
  }
  HRESULT get_nextSibling(IXMLDOMNode** sibling) override {
    return NodeOps::Result(tree_, pugi::xml_node(), sibling);
  }
  HRESULT get_attributes(IXMLDOMNamedNodeMap** attributes) override {
    return NodeOps::Attributes(tree_, *tree_, attributes);
  }
  HRESULT hasChildNodes(VARIANT_BOOL* has) override { return NodeOps::HasChildren(*tree_, has); }
  HRESULT get_text(BSTR* text) override { return NodeOps::Text(*tree_, text); }

  HRESULT get_documentElement(IXMLDOMElement** element) override {
    if (!element) return E_POINTER;
    *element = nullptr;
    pugi::xml_node root = tree_->document_element();
    if (!root) return S_FALSE;
    *element = new Node(tree_, root);
    return S_OK;
  }
  HRESULT get_parseError(IXMLDOMParseError** error) override {
    if (!error) return E_POINTER;
    *error = new ParseError(error_);
    return S_OK;
  }
  HRESULT get_async(VARIANT_BOOL* async) override {
    if (!async) return E_POINTER;
    *async = async_;
    return S_OK;
  }
  HRESULT put_async(VARIANT_BOOL async) override {
    async_ = async ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  HRESULT load(VARIANT source, VARIANT_BOOL* ok) override {
    if (ok) *ok = VARIANT_FALSE;
    if (source.vt != VT_BSTR || !source.bstrVal) return E_INVALIDARG;
    std::vector<BYTE> bytes;
    LoadError e;
    if (!ReadDeviceFile(source.bstrVal, &bytes, &e)) return Fail(std::move(e), ok);
    return Parse(bytes.data(), bytes.size(), false, ok);
  }
  HRESULT loadXML(BSTR text, VARIANT_BOOL* ok) override {
    if (ok) *ok = VARIANT_FALSE;
    std::string utf8 = ce::ToUtf8(text ? std::u16string_view(text, SysStringLen(text))
                                       : std::u16string_view());
    return Parse(reinterpret_cast<const BYTE*>(utf8.data()), utf8.size(), true, ok);
  }
  HRESULT LoadBytes(const void* data, size_t size, VARIANT_BOOL* ok) {
    if (ok) *ok = VARIANT_FALSE;
    if (!data && size) return E_INVALIDARG;
    return Parse(static_cast<const BYTE*>(data), size, false, ok);
  }

  HRESULT GetInterfaceSafetyOptions(REFIID, DWORD* supported, DWORD* enabled) override {
    if (!supported || !enabled) return E_POINTER;
    *supported = kSafetySupported;
    *enabled = safety_;
    return S_OK;
  }
  HRESULT SetInterfaceSafetyOptions(REFIID, DWORD mask, DWORD enabled) override {
    if (mask & ~kSafetySupported) return E_FAIL;
    safety_ = (safety_ & ~mask) | (enabled & mask);
    return S_OK;
  }

 private:
  static constexpr DWORD kSafetySupported =
      INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

  ~Document() = default;

  static bool ReadDeviceFile(LPCWSTR path, std::vector<BYTE>* bytes, LoadError* e) {
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      DWORD err = GetLastError();
      e->code = HRESULT_FROM_WIN32(err);
      if (err == ERROR_FILE_NOT_FOUND) e->reason = u"The file was not found";
      else if (err == ERROR_PATH_NOT_FOUND) e->reason = u"The path was not found";
      else e->reason = ce::FromUtf8("The file could not be opened (error " + std::to_string(err) + ")");
      return false;
    }
    DWORD high = 0;
    DWORD size = GetFileSize(h, &high);
    bool ok = true;
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
      e->code = HRESULT_FROM_WIN32(GetLastError());
      e->reason = u"The size of the file could not be read";
      ok = false;
    } else if (high != 0 || size > ce::kMaxXmlBytes) {
      e->code = E_OUTOFMEMORY;
      e->reason = u"The file is too large for an XML document";
      ok = false;
    } else {
      bytes->resize(size);
      DWORD done = 0;
      while (ok && done < size) {
        DWORD got = 0;
        if (!ReadFile(h, bytes->data() + done, size - done, &got, nullptr)) {
          e->code = HRESULT_FROM_WIN32(GetLastError());
          e->reason = u"The file could not be read";
          ok = false;
        } else if (got == 0) {
          bytes->resize(done);  // shrank while reading
          break;
        }
        done += got;
      }
    }
    CloseHandle(h);
    return ok;
  }

  HRESULT Fail(LoadError e, VARIANT_BOOL* ok) {
    tree_ = std::make_shared<pugi::xml_document>();
    error_ = std::move(e);
    if (ok) *ok = VARIANT_FALSE;
    return S_FALSE;
  }

  HRESULT Parse(const BYTE* p, size_t size, bool isUtf8, VARIANT_BOOL* ok) {
    if (size > ce::kMaxXmlBytes) {
      LoadError e;
      e.code = E_OUTOFMEMORY;
      e.reason = u"The text is too large for an XML document";
      return Fail(std::move(e), ok);
    }
    std::string converted;
    std::string_view text(reinterpret_cast<const char*>(p), p ? size : 0);
    pugi::xml_encoding encoding = isUtf8 ? pugi::encoding_utf8 : pugi::encoding_auto;
    if (!isUtf8 && size >= 2) {
      bool le = (p[0] == 0xFF && p[1] == 0xFE) || (p[0] == '<' && p[1] == 0);
      bool be = (p[0] == 0xFE && p[1] == 0xFF) || (p[0] == 0 && p[1] == '<');
      if (le || be) {
        size_t skip = (p[0] == 0xFF || p[0] == 0xFE) ? 2 : 0;
        converted = Utf16ToUtf8(p + skip, size - skip, be);
        text = converted;
        encoding = pugi::encoding_utf8;
      }
    }
    if (encoding == pugi::encoding_utf8 && text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF")
      text.remove_prefix(3);
    if (text.empty()) text = std::string_view("", 0);

    auto doc = std::make_shared<pugi::xml_document>();
    pugi::xml_parse_result r = doc->load_buffer(text.data(), text.size(), kParseOptions, encoding);
    LoadError e;
    if (!r) {
      e.code = kParseErrorBase + static_cast<HRESULT>(r.status);
      Locate(text, static_cast<size_t>(r.offset), &e);
      e.reason = Reason(r.description(), e);
      return Fail(std::move(e), ok);
    }
    std::string what;
    ptrdiff_t offset = -1;
    if (!CheckTree(*doc, text.size(), &what, &offset)) {
      e.code = kParseErrorBase + 0x80;
      if (offset >= 0) Locate(text, static_cast<size_t>(offset), &e);
      e.reason = Reason(what, e);
      return Fail(std::move(e), ok);
    }
    tree_ = std::move(doc);
    error_ = LoadError();
    if (ok) *ok = VARIANT_TRUE;
    return S_OK;
  }

  std::atomic<ULONG> refs_{1};
  Tree tree_;
  LoadError error_;
  VARIANT_BOOL async_ = VARIANT_TRUE;
  DWORD safety_ = 0;
};

}  // namespace

namespace ce {

HRESULT LoadXmlBytes(IXMLDOMDocument* document, const void* data, size_t size, VARIANT_BOOL* ok) {
  auto* doc = dynamic_cast<Document*>(document);
  if (!doc) return E_INVALIDARG;
  return doc->LoadBytes(data, size, ok);
}

namespace detail {

HRESULT CreateDomDocument(REFIID iid, void** object) {
  auto* doc = new Document();
  HRESULT hr = doc->QueryInterface(iid, object);
  doc->Release();
  return hr;
}

}  // namespace detail
}  // namespace ce
