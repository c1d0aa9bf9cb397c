#include "core/Path.h"

#include "ce/shell.h"
#include "ce/text.h"
#include "core/ProductSettings.h"
#include "core/System.h"

void APath::Set(const CString& text, bool isFolder) {
  name_.Empty();
  extension_.Empty();
  if (isFolder) {
    SetFolder(text);
    return;
  }
  int slash = text.ReverseFind(u'\\');
  if (slash < 0) {
    folder_.Empty();
  } else if (slash == 0) {
    // A file directly below the root keeps the root as its folder, so the
    // full path stays rooted.
    folder_ = u"\\";
  } else {
    SetFolder(text.Left(slash));
  }
  SetName(text.Mid(slash + 1), false);
  int dot = text.ReverseFind(u'.');
  if (dot > slash) SetExtension(text.Mid(dot + 1));
}

void APath::SetFolder(const CString& text) {
  folder_ = text;
  if (folder_.IsEmpty()) return;
  if (folder_[folder_.GetLength() - 1] != u'\\') folder_ += u"\\";
  if (folder_[0] != u'\\') folder_ = CString(u"\\") + folder_;
}

void APath::SetName(const CString& text, bool splitExtension) {
  CString name = text;
  if (!name.IsEmpty() && name[0] == u'\\') name = name.Mid(1);
  int dot = name.ReverseFind(u'.');
  if (dot >= 0) {
    if (splitExtension) SetExtension(name.Mid(dot + 1));
    name = name.Left(dot);
  }
  name_ = name;
}

void APath::SetExtension(const CString& text) {
  extension_ = text;
  if (!extension_.IsEmpty() && extension_[0] == u'.') extension_ = extension_.Mid(1);
}

CString APath::GetFolder(bool withTrailingBackslash) const {
  int len = folder_.GetLength();
  if (withTrailingBackslash || len <= 1 || folder_[len - 1] != u'\\') return folder_;
  return folder_.Left(len - 1);
}

CString APath::GetFileName() const {
  if (extension_.IsEmpty()) return name_;
  return name_ + u"." + extension_;
}

CString APath::GetFullPath() const { return folder_ + GetFileName(); }

CString APath::GetRootFolder() const {
  if (folder_.GetLength() <= 1) return folder_;
  int second = folder_.Find(u'\\', 1);
  if (second < 0) return folder_ + u"\\";
  return folder_.Left(second);
}

bool APath::IsEmpty() const {
  return folder_.IsEmpty() && name_.IsEmpty() && extension_.IsEmpty();
}

void APath::Clear() {
  folder_.Empty();
  name_.Empty();
  extension_.Empty();
}

bool APath::IsOnStorageCard() const {
  CString root = GetRootFolder();
  if (root.IsEmpty()) return false;
  DWORD attrs = GetFileAttributesW(root);
  return attrs != 0xFFFFFFFFu && (attrs & FILE_ATTRIBUTE_TEMPORARY) != 0;
}

bool APath::IsOnBuiltInStorage() const {
  CString names[4] = {u"Not set", u"Not set", u"Not set", u"Not set"};
  if (!System::GetBuiltInStorageName(names[0], names[1], names[2], names[3], true)) return false;
  CString root = GetRootFolder();
  if (root.IsEmpty()) return false;
  if (root[root.GetLength() - 1] != u'\\') root += u"\\";
  for (const CString& n : names)
    if (n == root) return true;
  return false;
}

bool APath::IsPrefixOf(const CString& text) const {
  CString t = text, p = GetFullPath();
  t.MakeUpper();
  p.MakeUpper();
  return t.Left(p.GetLength()) == p;
}

bool APath::IsInFolder(const CString& path) const {
  CString folder = APath(path, true).GetFolder(false);
  CString full = GetFullPath();
  folder.MakeUpper();
  full.MakeUpper();
  return full.Left(folder.GetLength()) == folder;
}

bool PathInList(const std::vector<CString>& list, const CString& path) {
  for (const CString& entry : list)
    if (ce::EqualNoCase(entry.view(), path.view())) return true;
  return false;
}

bool GetFindData(const CString& path, WIN32_FIND_DATAW* findData) {
  WIN32_FIND_DATAW fd{};
  HANDLE h = FindFirstFileW(path, &fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  if (findData) *findData = fd;
  return true;
}

CString GetStartupParentFolder() {
  static const CString folder = [] {
    WCHAR buf[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPath(nullptr, buf, CSIDL_STARTUP, FALSE)) return CString();
    CString s(buf);
    s = s.Left(s.ReverseFind(u'\\') < 0 ? 0 : s.ReverseFind(u'\\'));
    return s.Left(s.ReverseFind(u'\\') + 1);
  }();
  return folder;
}

CString GetLocalCorvaneEXEPath() {
  return System::GetProgramPath(false) + GetCorvaneEXEName();
}
