#include "image/InclusionList.h"

#include <string_view>

#include "ce/text.h"
#include "core/Log.h"
#include "core/XmlDom.h"

namespace {

const WCHAR kClass[] = u"AInclusionList";

bool StartsWithNoCase(const CString& text, const CString& prefix) {
  if (prefix.GetLength() > text.GetLength()) return false;
  return ce::EqualNoCase(text.view().substr(0, prefix.view().size()), prefix.view());
}

bool EqualNoCase(const CString& a, const CString& b) { return ce::EqualNoCase(a.view(), b.view()); }

}  // namespace

AInclusionList::AInclusionList(const CString& path) : m_Path(path) {}

AInclusionList::~AInclusionList() = default;

bool AInclusionList::Load() {
  m_Nodes.clear();
  m_FileSystem = m_Mail = m_Databases = m_Registry = false;
  m_Error.Empty();
  ADOMDocument document;
  m_Document = &document;
  if (!document.LoadFile(m_Path)) {
    m_Error = document.GetParseErrorReason();
    return Finish(false);
  }
  return Finish(ProcessDocument(document));
}

bool AInclusionList::LoadBytes(const void* data, size_t size) {
  m_Nodes.clear();
  m_FileSystem = m_Mail = m_Databases = m_Registry = false;
  m_Error.Empty();
  ADOMDocument document;
  m_Document = &document;
  if (!document.LoadBytes(data, size)) {
    m_Error = document.GetParseErrorReason();
    return Finish(false);
  }
  return Finish(ProcessDocument(document));
}

bool AInclusionList::Finish(bool ok) {
  m_Document = nullptr;
  return ok;
}

bool AInclusionList::Fail(const CString& text) {
  m_Error = text;
  LogError(0, u"Error reading inclusion list XML file", kClass, __LINE__);
  return false;
}

bool AInclusionList::ProcessDocument(ADOMDocument& document) {
  AXMLDOMNode root = document.GetDocumentElement();
  if (root.IsEmpty()) return Fail(u"Inclusion List document is empty");
  CString name = root.GetnodeName();
  if (name != u"inclusion-list") {
    CString text;
    text.Format(u"Toplevel element must be %s not %s", u"inclusion-list", name.GetString());
    return Fail(text);
  }
  for (AXMLDOMNode child = root.GetfirstChild(); !child.IsEmpty(); child = child.GetnextSibling()) {
    DOMNodeType type = child.GetnodeType();
    if (type == NODE_COMMENT) continue;
    CString text;
    if (type != NODE_ELEMENT) {
      text.Format(u"Processing inclusion-list expecting NODE_ELEMENT element type, got a %d",
                  static_cast<int>(type));
      return Fail(text);
    }
    CString childName = child.GetnodeName();
    if (childName != u"toplevel") {
      text.Format(u"Undefined element %s found", childName.GetString());
      return Fail(text);
    }
    if (!ProcessToplevel(child)) return false;
  }
  return true;
}

bool AInclusionList::ProcessToplevel(const AXMLDOMNode& element) {
  CString kind;
  if (!element.GetAttributeText(u"name", kind))
    return Fail(u"No name attribute found on inclusion item");
  if (kind == u"filesystem") {
    m_FileSystem = true;
    return ProcessFileSystem(element);
  }
  if (kind == u"mail") {
    m_Mail = true;
  } else if (kind == u"databases") {
    m_Databases = true;
  } else if (kind == u"registry") {
    m_Registry = true;
  } else {
    CString text;
    text.Format(u"Unknown toplevel element %s", kind.GetString());
    return Fail(text);
  }
  return true;
}

bool AInclusionList::ProcessFileSystem(const AXMLDOMNode& element) {
  for (AXMLDOMNode child = element.GetfirstChild(); !child.IsEmpty();
       child = child.GetnextSibling()) {
    DOMNodeType type = child.GetnodeType();
    if (type == NODE_COMMENT) continue;
    CString text;
    if (type != NODE_ELEMENT) {
      text.Format(u"Processing <filesystem>, expected NODE_ELEMENT element type, got a %d",
                  static_cast<int>(type));
      return Fail(text);
    }
    CString childName = child.GetnodeName();
    InclusionNode node;
    CString path;
    if (childName == u"directory") {
      if (!child.GetAttributeText(u"name", path))
        return Fail(u"No name attribute found on <directory> element");
      node.kind = kDirectory;
      node.path.Set(path, true);
    } else if (childName == u"file") {
      if (!child.GetAttributeText(u"name", path))
        return Fail(u"No name attribute found on <file> element");
      node.kind = kFile;
      node.path.Set(path, false);
    } else {
      text.Format(u"Undefined element %s found", childName.GetString());
      return Fail(text);
    }
    m_Nodes.push_back(node);
  }
  return true;
}

bool AInclusionList::Match(const CString& path) const {
  if (m_Nodes.empty()) return false;
  APath tested(path, false);
  const bool isFolder = tested.GetFileName().IsEmpty();
  const CString testedFolder = tested.GetFolder();
  const CString testedFull = tested.GetFullPath();
  for (const InclusionNode& node : m_Nodes) {
    const CString nodeFolder = node.path.GetFolder();
    // A folder on the way down to the node.
    if (isFolder && StartsWithNoCase(nodeFolder, testedFolder)) return true;
    if (node.kind == kDirectory) {
      if (StartsWithNoCase(testedFull, nodeFolder)) return true;
      continue;
    }
    if (isFolder || !EqualNoCase(testedFolder, nodeFolder)) continue;
    if (node.path.GetName() == u"*") {
      // "*.*" takes every file of the folder.
      if (node.path.GetExtension() == u"*" ||
          EqualNoCase(tested.GetExtension(), node.path.GetExtension()))
        return true;
    } else if (EqualNoCase(tested.GetFileName(), node.path.GetFileName())) {
      return true;
    }
  }
  return false;
}
