// Fuzz entry points of the XML readers and the exclusion list files. They
// need no device: documents load from memory, list texts parse directly.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ce/com.h"
#include "ce/oleauto.h"
#include "ce/xmldom.h"
#include "core/XmlDom.h"
#include "image/ExclusionList.h"
#include "image/InclusionList.h"

namespace {

void InitComOnce() {
  static const bool done = [] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    return true;
  }();
  (void)done;
}

// Visits every node of a loaded document without recursion and reads what
// the readers read.
void WalkDocument(ADOMDocument& doc) {
  AXMLDOMNode node = doc.GetDocumentElement();
  size_t visited = 0;
  while (!node.IsEmpty() && visited++ < 100000) {
    node.GetnodeName();
    CString value;
    node.GetAttributeText(u"name", value);
    CComPtr<IXMLDOMNamedNodeMap> map;
    LONG count = 0;
    if (node->get_attributes(&map) == S_OK && map->get_length(&count) == S_OK && count > 0) {
      CComPtr<IXMLDOMNode> last;
      map->get_item(count - 1, &last);
    }
    AXMLDOMNode next = node.hasChildNode() == VARIANT_TRUE ? node.GetfirstChild() : AXMLDOMNode();
    if (next.IsEmpty()) {
      // Up until an ancestor has a next sibling.
      AXMLDOMNode up = node;
      while (!up.IsEmpty()) {
        next = up.GetnextSibling();
        if (!next.IsEmpty()) break;
        CComPtr<IXMLDOMNode> parent;
        if (up->get_parentNode(&parent) != S_OK) break;
        DOMNodeType type = NODE_INVALID;
        parent->get_nodeType(&type);
        if (type == NODE_DOCUMENT) break;
        up = AXMLDOMNode(parent.get());
      }
    }
    node = next;
  }
}

}  // namespace

// The DOM (bytes in any encoding, and the same bytes as UTF-16 text) and
// the inclusion list reader.
int FuzzXmlReaders(const uint8_t* data, size_t size) {
  InitComOnce();
  {
    ADOMDocument doc;
    if (doc.LoadBytes(data, size)) WalkDocument(doc);
    else doc.GetParseErrorReason();
  }
  {
    CComPtr<IXMLDOMDocument2> doc;
    if (SUCCEEDED(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_SERVER,
                                   IID_IXMLDOMDocument2, reinterpret_cast<void**>(&doc)))) {
      CComBSTR text(std::u16string_view(reinterpret_cast<const char16_t*>(data), size / 2));
      VARIANT_BOOL ok = VARIANT_FALSE;
      doc->loadXML(text, &ok);
      CComBSTR all;
      doc->get_text(&all);
    }
  }
  AInclusionList list(u"\\fuzz.xml");
  if (list.LoadBytes(data, size)) {
    for (const char16_t* path : {u"\\", u"\\My Documents\\", u"\\My Documents\\a.txt",
                                 u"\\Windows\\x.ini", u""})
      list.Match(path);
  }
  return 0;
}

// The user exclusion list (UTF-16) and the ROM list (8-bit).
int FuzzExclusionLists(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  AExclusionList list(u"\\fuzz.txt");
  list.Parse(text);
  AExclusionList copy(u"\\fuzz.txt");
  for (int i = 0; i < list.GetCount(); ++i) {
    CString pattern = list.MakePattern(i);
    copy.Add(pattern);
    list.Match(list.GetAt(i).folder, list.GetAt(i).extension, false);
  }
  list.Match(u"\\My Documents\\", u"txt", false);
  list.Match(u"\\", u"", true);
  AExcludeHandler::ParseRomExcludeList(reinterpret_cast<const char*>(data), size);
  return 0;
}
