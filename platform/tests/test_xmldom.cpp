// The XML DOM document: creation rules, loading files and texts in the
// encodings the device reads, the tree the readers walk, parse errors,
// strings and variants.
#include <gtest/gtest.h>

#include <string>

#include "ce/com.h"
#include "ce/oleauto.h"
#include "ce/text.h"
#include "ce/xmldom.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

class ComScope {
 public:
  ComScope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ComScope() { CoUninitialize(); }
};

CComPtr<IXMLDOMDocument2> NewDocument() {
  CComPtr<IXMLDOMDocument2> doc;
  EXPECT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_SERVER, IID_IXMLDOMDocument2,
                             reinterpret_cast<void**>(&doc)),
            S_OK);
  return doc;
}

bool LoadText(IXMLDOMDocument2* doc, std::u16string_view text) {
  CComBSTR b(text);
  VARIANT_BOOL ok = VARIANT_TRUE;
  HRESULT hr = doc->loadXML(b, &ok);
  EXPECT_EQ(hr == S_OK, ok == VARIANT_TRUE);
  return ok == VARIANT_TRUE;
}

bool LoadFile(IXMLDOMDocument2* doc, std::u16string_view path) {
  CComVariant source(path);
  VARIANT_BOOL ok = VARIANT_TRUE;
  HRESULT hr = doc->load(source, &ok);
  EXPECT_EQ(hr == S_OK, ok == VARIANT_TRUE);
  return ok == VARIANT_TRUE;
}

std::u16string Reason(IXMLDOMDocument2* doc) {
  CComPtr<IXMLDOMParseError> error;
  EXPECT_EQ(doc->get_parseError(&error), S_OK);
  CComBSTR reason;
  EXPECT_EQ(error->get_reason(&reason), S_OK);
  return std::u16string(reason.view());
}

std::u16string Name(IXMLDOMNode* node) {
  CComBSTR name;
  EXPECT_EQ(node->get_nodeName(&name), S_OK);
  return std::u16string(name.view());
}

DOMNodeType Type(IXMLDOMNode* node) {
  DOMNodeType t = NODE_INVALID;
  EXPECT_EQ(node->get_nodeType(&t), S_OK);
  return t;
}

CComPtr<IXMLDOMNode> Root(IXMLDOMDocument2* doc) {
  CComPtr<IXMLDOMElement> e;
  EXPECT_EQ(doc->get_documentElement(&e), S_OK);
  return CComPtr<IXMLDOMNode>(e.get());
}

// Names (or "#type") of the children in order.
std::u16string ChildNames(IXMLDOMNode* node) {
  std::u16string out;
  CComPtr<IXMLDOMNode> c;
  node->get_firstChild(&c);
  while (c) {
    out += Name(c) + u"(" + std::u16string(1, char16_t(u'0' + Type(c))) + u") ";
    CComPtr<IXMLDOMNode> next;
    c->get_nextSibling(&next);
    c = next;
  }
  return out;
}

std::u16string Attr(IXMLDOMNode* node, std::u16string_view name, HRESULT* result = nullptr) {
  CComPtr<IXMLDOMNamedNodeMap> map;
  EXPECT_EQ(node->get_attributes(&map), S_OK);
  CComPtr<IXMLDOMNode> item;
  CComBSTR n(name);
  HRESULT hr = map->getNamedItem(n, &item);
  if (result) *result = hr;
  if (hr != S_OK) return u"<none>";
  CComPtr<IXMLDOMAttribute> attr;
  EXPECT_EQ(item.QueryInterface(IID_IXMLDOMAttribute, &attr), S_OK);
  CComVariant v;
  EXPECT_EQ(attr->get_value(&v), S_OK);
  EXPECT_EQ(v.vt, VT_BSTR);
  return std::u16string(v.Text());
}

std::string Utf16Le(std::u16string_view s, bool bom) {
  std::string out = bom ? std::string("\xFF\xFE", 2) : std::string();
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

}  // namespace

TEST(Com, CreationNeedsInitialisationAndAKnownClass) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_SERVER, IID_IXMLDOMDocument2, &p),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(p, nullptr);
  ComScope com;
  EXPECT_EQ(CoInitializeEx(nullptr, 0), S_FALSE);  // nested
  CoUninitialize();
  GUID other = CLSID_DOMDocument;
  other.Data1 ^= 1;
  EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_SERVER, IID_IXMLDOMAttribute, &p),
            E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);

  CComPtr<IXMLDOMDocument2> doc = NewDocument();
  CComPtr<IObjectSafety> safety;
  ASSERT_EQ(doc.QueryInterface(IID_IObjectSafety, &safety), S_OK);
  DWORD supported = 0, enabled = 1;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IXMLDOMDocument2, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IXMLDOMDocument2, supported, 0), S_OK);
}

TEST(XmlDom, TreeHidesWhitespaceAndDeclarationButKeepsCommentsAndText) {
  ComScope com;
  auto doc = NewDocument();
  ASSERT_TRUE(LoadText(doc, u"<?xml version=\"1.0\"?>\n<!-- head -->\n<configuration>\n"
                            u"  <config name=\"a\" type=\"dword\" value=\"1\"/>\n"
                            u"  <!-- note -->\n  loose text\n  <![CDATA[raw]]>\n"
                            u"  <?pi data?>\n</configuration>\n"));
  // The document: the comment before the element, then the element.
  EXPECT_EQ(ChildNames(doc), u"#comment(8) configuration(1) ");
  auto root = Root(doc);
  EXPECT_EQ(Name(root), u"configuration");
  EXPECT_EQ(ChildNames(root),
            u"config(1) #comment(8) #text(3) #cdata-section(4) pi(7) ");
  VARIANT_BOOL has = 0;
  EXPECT_EQ(root->hasChildNodes(&has), S_OK);
  EXPECT_EQ(has, VARIANT_TRUE);

  CComPtr<IXMLDOMNode> config;
  ASSERT_EQ(root->get_firstChild(&config), S_OK);
  EXPECT_EQ(Attr(config, u"name"), u"a");
  EXPECT_EQ(Attr(config, u"value"), u"1");
  HRESULT hr = S_OK;
  EXPECT_EQ(Attr(config, u"Name", &hr), u"<none>");  // exact case
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(config->hasChildNodes(&has), S_FALSE);
  EXPECT_EQ(has, VARIANT_FALSE);
  CComPtr<IXMLDOMNode> none;
  EXPECT_EQ(config->get_firstChild(&none), S_FALSE);
  EXPECT_FALSE(none);

  // Text nodes have no attribute map.
  CComPtr<IXMLDOMNodeList> children;
  ASSERT_EQ(root->get_childNodes(&children), S_OK);
  LONG n = 0;
  children->get_length(&n);
  ASSERT_EQ(n, 5);
  CComPtr<IXMLDOMNode> text;
  ASSERT_EQ(children->get_item(2, &text), S_OK);
  CComPtr<IXMLDOMNamedNodeMap> map;
  EXPECT_EQ(text->get_attributes(&map), S_FALSE);
  EXPECT_FALSE(map);
  CComBSTR all;
  ASSERT_EQ(root->get_text(&all), S_OK);
  EXPECT_EQ(all.view(), u"\n  loose text\n  raw");
}

TEST(XmlDom, ParseErrorsFailTheLoadWithAReason) {
  ComScope com;
  auto doc = NewDocument();
  struct Case {
    std::u16string_view text;
  } cases[] = {
      {u"<a><b></a>"},             // mismatched end tag
      {u"<a>"},                    // unclosed
      {u""},                       // no element
      {u"<a/><b/>"},               // two top-level elements
      {u"text<a/>"},               // text at the top level
      {u"<a x='1' x='2'/>"},       // repeated attribute
      {u"<a x=1/>"},               // unquoted value
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    EXPECT_FALSE(LoadText(doc, c.text));
    EXPECT_FALSE(Reason(doc).empty());
    CComPtr<IXMLDOMElement> e;
    EXPECT_EQ(doc->get_documentElement(&e), S_FALSE);  // the document is empty
    CComPtr<IXMLDOMParseError> error;
    doc->get_parseError(&error);
    LONG code = 0;
    error->get_errorCode(&code);
    EXPECT_NE(code, 0);
    // Every reason tells where the parser stopped.
    LONG line = 0, position = 0;
    error->get_line(&line);
    error->get_linepos(&position);
    EXPECT_EQ(line, 1);
    EXPECT_GE(position, 1);
    EXPECT_NE(Reason(doc).find(u"(line 1, position "), std::u16string::npos) << ce::ToUtf8(Reason(doc));
  }
  // Where a tree rule is broken: the second top-level element, the element
  // with the repeated attribute, the end of a document without element.
  struct Located {
    std::u16string_view text;
    LONG line, position;
  } located[] = {
      {u"<a/>\n  <b/>", 2, 3},
      {u"<a>\n<b x='1' x='2'/></a>", 2, 1},
      {u"<!-- none -->\n", 2, 1},
  };
  for (const Located& c : located) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    EXPECT_FALSE(LoadText(doc, c.text));
    CComPtr<IXMLDOMParseError> error;
    doc->get_parseError(&error);
    LONG line = 0, position = 0;
    error->get_line(&line);
    error->get_linepos(&position);
    EXPECT_EQ(line, c.line);
    EXPECT_EQ(position, c.position);
  }
  // Line and position of a mismatch.
  EXPECT_FALSE(LoadText(doc, u"<a>\n  <b>\n</a>"));
  CComPtr<IXMLDOMParseError> error;
  doc->get_parseError(&error);
  LONG line = 0;
  error->get_line(&line);
  EXPECT_EQ(line, 3);
  // A good load clears the error.
  EXPECT_TRUE(LoadText(doc, u"<a/>"));
  EXPECT_EQ(Reason(doc), u"");
}

TEST(XmlDom, LoadsDeviceFilesInEveryEncoding) {
  TestDevice dev;
  ComScope com;
  auto doc = NewDocument();
  const std::u16string text = u"<list name=\"Caf\u00e9 \u4e2d\"/>";
  dev.PutFile(u"\\x\\utf8.xml", "\xEF\xBB\xBF<list name=\"Caf\xC3\xA9 \xE4\xB8\xAD\"/>");
  dev.PutFile(u"\\x\\utf8nobom.xml", "<list name=\"Caf\xC3\xA9 \xE4\xB8\xAD\"/>");
  dev.PutFile(u"\\x\\utf16bom.xml", Utf16Le(text, true));
  dev.PutFile(u"\\x\\utf16.xml", Utf16Le(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + text, false));
  dev.PutFile(u"\\x\\latin1.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><list name=\"Caf\xE9\"/>");
  int i = 0;
  for (auto path : {u"\\x\\utf8.xml", u"\\X\\UTF8NOBOM.XML", u"\\x\\utf16bom.xml", u"\\x\\utf16.xml"}) {
    SCOPED_TRACE(i++);
    ASSERT_TRUE(LoadFile(doc, path));
    EXPECT_EQ(Attr(Root(doc), u"name"), u"Caf\u00e9 \u4e2d");
  }
  ASSERT_TRUE(LoadFile(doc, u"\\x\\latin1.xml"));
  EXPECT_EQ(Attr(Root(doc), u"name"), u"Caf\u00e9");

  EXPECT_FALSE(LoadFile(doc, u"\\x\\missing.xml"));
  EXPECT_EQ(Reason(doc), u"The file was not found");
  EXPECT_FALSE(LoadFile(doc, u"\\nowhere\\missing.xml"));
  EXPECT_EQ(Reason(doc), u"The path was not found");

  // Not a path.
  CComVariant number;
  number.vt = VT_I4;
  number.lVal = 3;
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(doc->load(number, &ok), E_INVALIDARG);
  EXPECT_EQ(ok, VARIANT_FALSE);
}

TEST(XmlDom, NodesOutliveTheirDocumentAndItsReloads) {
  ComScope com;
  CComPtr<IXMLDOMNode> kept;
  {
    auto doc = NewDocument();
    ASSERT_TRUE(LoadText(doc, u"<a><b id='7'/></a>"));
    ASSERT_EQ(Root(doc)->get_firstChild(&kept), S_OK);
    ASSERT_TRUE(LoadText(doc, u"<other/>"));
  }
  EXPECT_EQ(Name(kept), u"b");
  EXPECT_EQ(Attr(kept, u"id"), u"7");
}

TEST(XmlDom, OversizedInputIsRefused) {
  ComScope com;
  auto doc = NewDocument();
  std::string big(ce::kMaxXmlBytes + 1, ' ');
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(ce::LoadXmlBytes(doc, big.data(), big.size(), &ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
  // Deep nesting loads and walks without recursion.
  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "<d>";
  deep += "x";
  for (int i = 0; i < 200000; ++i) deep += "</d>";
  ASSERT_EQ(ce::LoadXmlBytes(doc, deep.data(), deep.size(), &ok), S_OK);
  CComBSTR text;
  ASSERT_EQ(doc->get_text(&text), S_OK);
  EXPECT_EQ(text.view(), u"x");
}

TEST(OleAuto, StringsAndVariants) {
  BSTR s = SysAllocStringLen(u"ab\0c", 4);
  EXPECT_EQ(SysStringLen(s), 4u);
  EXPECT_EQ(s[4], u'\0');
  SysFreeString(s);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);

  CComVariant a(u"text");
  CComVariant b = a;  // deep copy
  ASSERT_EQ(b.vt, VT_BSTR);
  EXPECT_NE(a.bstrVal, b.bstrVal);
  EXPECT_EQ(b.Text(), u"text");
  b.Clear();
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(a.Text(), u"text");
}
