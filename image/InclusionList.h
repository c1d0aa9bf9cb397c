// The inclusion list of an unattended backup: an XML file naming the
// top-level parts that take part and, for the file system, the folders and
// files to include.
//
//   <inclusion-list>
//     <toplevel name="filesystem">
//       <directory name="\My Documents"/>
//       <file name="\Windows\*.ini"/>
//     </toplevel>
//     <toplevel name="mail"/>
//   </inclusion-list>
//
// Element and attribute names and the toplevel names compare with exact
// case; comments may appear anywhere among these elements.
#pragma once

#include <cstddef>
#include <vector>

#include "ce/cstring.h"
#include "core/Path.h"

class ADOMDocument;
class AXMLDOMNode;

class AInclusionList {
 public:
  enum NodeKind { kDirectory = 0, kFile = 1 };
  struct InclusionNode {
    int kind = kDirectory;
    APath path;
  };

  explicit AInclusionList(const CString& path);
  ~AInclusionList();
  AInclusionList(const AInclusionList&) = delete;
  AInclusionList& operator=(const AInclusionList&) = delete;

  // Reads the file. On failure GetError holds the reason and the list
  // keeps what was read before the failing item.
  bool Load();
  // The same from bytes in memory (an XML file's content).
  bool LoadBytes(const void* data, size_t size);

  // False when the list has no file-system nodes. Otherwise true when a
  // node takes the path in, or when the path is a folder on the way to a
  // node (so a walk descends towards it). A folder path ends with "\";
  // anything else is a file path. Case is ignored.
  bool Match(const CString& path) const;

  // The kinds named by the file's toplevel elements.
  bool IncludesFileSystem() const { return m_FileSystem; }
  bool IncludesMail() const { return m_Mail; }
  bool IncludesDatabases() const { return m_Databases; }
  bool IncludesRegistry() const { return m_Registry; }

  const CString& GetError() const { return m_Error; }
  const std::vector<InclusionNode>& GetNodes() const { return m_Nodes; }

 private:
  bool Finish(bool ok);
  bool ProcessDocument(ADOMDocument& document);
  bool ProcessToplevel(const AXMLDOMNode& element);
  bool ProcessFileSystem(const AXMLDOMNode& element);
  bool Fail(const CString& text);

  CString m_Path;
  CString m_Error;
  ADOMDocument* m_Document = nullptr;  // while loading
  std::vector<InclusionNode> m_Nodes;
  bool m_FileSystem = false;
  bool m_Mail = false;
  bool m_Databases = false;
  bool m_Registry = false;
};
