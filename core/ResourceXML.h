// The override table read from a custom resource XML file:
//
//   <resources>
//     <string id="65298" value="text"/>      a text for a string id
//     <image id="291" filename="logo.bmp"/>  a bitmap file, relative to
//   </resources>                             the running program's folder
//
// Ids are decimal numbers (32-bit). Comments are skipped; any other node
// fails the load. A later entry for an id replaces an earlier one, also
// across loads. A load that fails adds nothing.
#pragma once

#include <map>

#include "ce/cstring.h"
#include "ce/types.h"
#include "core/ResBitmap.h"

class ADOMDocument;

class AResourceXML {
 public:
  AResourceXML() = default;
  AResourceXML(const AResourceXML&) = delete;
  AResourceXML& operator=(const AResourceXML&) = delete;

  // Reads a device file into the table. False when the file does not parse
  // (the error text is the parser's reason) or the walk fails (the error
  // text says why; an error entry is logged).
  bool Load(LPCWSTR path);
  // Walks the document being loaded; false (error text set) at the first
  // bad node.
  bool ProcessDocument();
  // The bitmap file named for id, loaded from the program's folder. On
  // failure the error text "Failed to load bitmap <path> (<error>)" is set
  // and logged.
  bool LoadBitmap(DWORD id, AResBitmap& bitmap);

  bool HasStrings() const { return !m_Strings.empty(); }
  bool HasImages() const { return !m_Images.empty(); }
  bool LookupString(DWORD id, CString& text) const;
  bool HasImage(DWORD id) const { return m_Images.count(id) != 0; }
  // Empties both maps.
  void RemoveAll();
  const CString& GetErrorText() const { return m_ErrorText; }

 private:
  bool Fail(const CString& text);

  CString m_ErrorText;
  ADOMDocument* m_Document = nullptr;  // only while Load runs
  std::map<DWORD, CString> m_Strings;
  std::map<DWORD, CString> m_Images;  // id -> bitmap file name
  // Entries of the document being walked, merged when the walk succeeds.
  std::map<DWORD, CString> m_NewStrings;
  std::map<DWORD, CString> m_NewImages;
};
