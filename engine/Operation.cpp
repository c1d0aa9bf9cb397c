#include "engine/Operation.h"

#include <algorithm>

#include "ce/bytes.h"
#include "engine/OperationFormat.h"

namespace {

// Copies at most capacity - 1 characters and terminates.
void CopyBounded(std::u16string_view text, WCHAR* dst, size_t capacity) {
  const size_t length = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), length, dst);
  std::fill(dst + length, dst + capacity, u'\0');
}

std::u16string_view UpToNul(const WCHAR* text, size_t capacity) {
  return std::u16string_view(text, std::find(text, text + capacity, u'\0') - text);
}

// A text field of chars characters: the text cut to chars - 1, NUL-padded.
void PutText(std::string* out, std::u16string_view text, size_t chars) {
  const size_t length = std::min(text.size(), chars - 1);
  for (size_t i = 0; i < chars; ++i) ce::le::Put16(out, i < length ? text[i] : u'\0');
}

// The text of a field up to its first NUL (or its whole width).
std::u16string GetText(std::string_view bytes, size_t at, size_t chars) {
  std::u16string text;
  for (size_t i = 0; i < chars; ++i) {
    const char16_t c = ce::le::Get16(bytes, at + 2 * i);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

std::u16string_view View(const CString& text) {
  return std::u16string_view(text.GetString(), static_cast<size_t>(text.GetLength()));
}

}  // namespace

OperationDescriptor::OperationDescriptor() { imagePath.Set(kDefaultImagePath, false); }

void OperationDescriptor::SetHostName(std::u16string_view text) {
  CopyBounded(text, hostName, kHostNameChars);
}

void OperationDescriptor::SetAnnotation(std::u16string_view text) {
  CopyBounded(text, annotation, kAnnotationChars);
}

void StoreOperationDescriptor(const OperationDescriptor& d, std::string* out) {
  using namespace ce::le;
  Put32(out, static_cast<uint32_t>(d.taskStartMode));
  Put32(out, static_cast<uint32_t>(d.operationKind));
  Put32(out, static_cast<uint32_t>(d.hostMode));
  out->push_back(static_cast<char>(d.includeRegistry));
  out->push_back(static_cast<char>(d.includeDatabases));
  out->push_back(static_cast<char>(d.includeFileSystem));
  out->push_back(static_cast<char>(d.includeMail));
  Put16(out, d.metadataValue);
  Put16(out, 0);
  Put32(out, static_cast<uint32_t>(d.imageId));
  PutText(out, UpToNul(d.hostName, opfmt::kHostNameChars), opfmt::kHostNameChars);
  Put32(out, d.hostPort);
  PutText(out, UpToNul(d.annotation, opfmt::kAnnotationChars), opfmt::kAnnotationChars);
  PutText(out, View(d.imagePath.GetFolder()), opfmt::kPathTextChars);
  PutText(out, View(d.imagePath.GetFileName()), opfmt::kPathTextChars);
  PutText(out, View(d.imagePath.GetBaseName()), opfmt::kPathTextChars);
  PutText(out, View(d.imagePath.GetExtension()), opfmt::kExtensionChars);
  out->push_back(static_cast<char>(d.upgradeMode));
  out->push_back(static_cast<char>(d.turnOffAfterPopup));
}

bool LoadOperationDescriptor(std::string_view bytes, size_t at, OperationDescriptor* d) {
  if (at > bytes.size() || bytes.size() - at < opfmt::kStoredSize) return false;
  using namespace ce::le;
  using namespace opfmt;
  auto u8 = [&](size_t offset) { return static_cast<BYTE>(bytes[at + offset]); };
  d->taskStartMode = static_cast<int>(Get32(bytes, at + kStartModeOffset));
  d->operationKind = static_cast<int>(Get32(bytes, at + kKindOffset));
  d->hostMode = static_cast<int>(Get32(bytes, at + kHostModeOffset));
  d->includeRegistry = u8(kIncludeRegistryOffset);
  d->includeDatabases = u8(kIncludeDatabasesOffset);
  d->includeFileSystem = u8(kIncludeFileSystemOffset);
  d->includeMail = u8(kIncludeMailOffset);
  d->metadataValue = Get16(bytes, at + kMetadataValueOffset);
  d->imageId = static_cast<int>(Get32(bytes, at + kImageIdOffset));
  d->SetHostName(GetText(bytes, at + kHostNameOffset, kHostNameChars));
  d->hostPort = Get32(bytes, at + kHostPortOffset);
  d->SetAnnotation(GetText(bytes, at + kAnnotationOffset, kAnnotationChars));
  d->imagePath.SetFolder(CString(GetText(bytes, at + kFolderOffset, kPathTextChars)));
  d->imagePath.SetFileName(CString(GetText(bytes, at + kFileNameOffset, kPathTextChars)));
  d->imagePath.SetExtension(CString(GetText(bytes, at + kExtensionOffset, kExtensionChars)));
  d->imagePath.SetBaseName(CString(GetText(bytes, at + kBaseNameOffset, kPathTextChars)));
  d->upgradeMode = u8(kUpgradeModeOffset);
  d->turnOffAfterPopup = u8(kTurnOffOffset);
  return true;
}

CString OperationKindName(int kind) {
  switch (kind) {
    case kOperationBackup: return u"Backup";
    case kOperationRestore: return u"Restore";
    case kOperationMetadata: return u"Query Metadata";
    default: return u"NOT SET";
  }
}

CString HostModeName(int mode) {
  switch (mode) {
    case kHostModeLocal: return u"Local";
    case kHostModeRemote: return u"Host";
    default: return u"NOT SET";
  }
}

CString DescribeOperation(const OperationDescriptor& d) {
  CString text = u"Task Details - Operation : ";
  text += OperationKindName(d.operationKind);
  text += u"; Mode : ";
  text += HostModeName(d.hostMode);
  text += u"; Including :";
  if (d.includeRegistry) text += u" Registry";
  if (d.includeFileSystem) text += u" FileSystem";
  if (d.includeDatabases) text += u" Databases";
  if (d.includeMail) text += u" EMail";
  text += u"; Backup Filename : ";
  text += d.imagePath.IsEmpty() ? CString(u"NOT SET") : d.imagePath.GetFullPath();
  return text;
}

void ITaskProgress::SetStatusText(std::u16string_view text) {
  if (m_pRecord) CopyBounded(text, m_pRecord->statusText, TaskProgressRecord::kStatusTextMax + 1);
}

void ITaskProgress::AddBytesWritten(DWORD bytes) {
  if (m_pRecord) m_pRecord->bytesWritten += bytes;
}
