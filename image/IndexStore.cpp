// Storing the content index at an image's position, loading it back, and
// finding it through the image tail. Stored form: image/IndexFormat.h.
#include <algorithm>
#include <limits>

#include "core/Log.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "image/IndexFormat.h"

namespace {

const WCHAR kClass[] = u"Index";

void PutU32(BYTE* p, DWORD v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
  p[2] = static_cast<BYTE>(v >> 16);
  p[3] = static_cast<BYTE>(v >> 24);
}

DWORD GetU32(const BYTE* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}

// Field writes and reads of one cipher run (never the final flag).
class FieldIO {
 public:
  FieldIO(AImageFile& image, bool cipher) : image_(image), cipher_(cipher) {}

  bool Put(const void* data, DWORD length, const char16_t* failText) {
    if (image_.Write(data, length, cipher_, false)) return true;
    LogError(0, failText, kClass, __LINE__);
    return false;
  }
  bool PutU32(DWORD v, const char16_t* failText) {
    BYTE b[4];
    ::PutU32(b, v);
    return Put(b, 4, failText);
  }
  bool PutU64(ULONGLONG v, const char16_t* failText) {
    BYTE b[8];
    ::PutU32(b, static_cast<DWORD>(v));
    ::PutU32(b + 4, static_cast<DWORD>(v >> 32));
    return Put(b, 8, failText);
  }
  bool PutTime(const FILETIME& t, const char16_t* failText) {
    BYTE b[8];
    ::PutU32(b, t.dwLowDateTime);
    ::PutU32(b + 4, t.dwHighDateTime);
    return Put(b, 8, failText);
  }

  bool Get(void* data, DWORD length, const char16_t* failText) {
    if (image_.Read(data, length, cipher_, false)) return true;
    LogError(0, failText, kClass, __LINE__);
    return false;
  }
  bool GetU32(DWORD& v, const char16_t* failText) {
    BYTE b[4];
    if (!Get(b, 4, failText)) return false;
    v = ::GetU32(b);
    return true;
  }
  bool GetU64(ULONGLONG& v, const char16_t* failText) {
    BYTE b[8];
    if (!Get(b, 8, failText)) return false;
    v = ::GetU32(b) | (static_cast<ULONGLONG>(::GetU32(b + 4)) << 32);
    return true;
  }
  bool GetTime(FILETIME& t, const char16_t* failText) {
    BYTE b[8];
    if (!Get(b, 8, failText)) return false;
    t.dwLowDateTime = ::GetU32(b);
    t.dwHighDateTime = ::GetU32(b + 4);
    return true;
  }

 private:
  AImageFile& image_;
  bool cipher_;
};

constexpr ULONGLONG kNoLimit = std::numeric_limits<ULONGLONG>::max();

}  // namespace

DWORD Index::StoredSize() const {
  DWORD size = ImageFormat::kHeaderSize + IndexRecord::kEndByteSize;
  for (const Node& node : m_Nodes)
    if (node.item.selected)
      size += IndexRecord::kFixedSize + 2 * static_cast<DWORD>(node.item.name.size());
  return size;
}

bool Index::StoreRecord(int n, DWORD childCount) {
  const Node& node = At(n);
  const Item& item = node.item;
  if (item.name.size() > IndexRecord::kMaxNameLength) {
    // A name the loader would refuse: better no index than an unreadable one.
    LogError(0, CString(u"Index name length too large ") + item.name, kClass, __LINE__);
    return false;
  }
  FieldIO io(*m_ImageFile, m_Encipher);
  DWORD length = static_cast<DWORD>(item.name.size());
  std::vector<BYTE> name(2 * length);
  for (DWORD i = 0; i < length; ++i) {
    name[2 * i] = static_cast<BYTE>(item.name[i]);
    name[2 * i + 1] = static_cast<BYTE>(item.name[i] >> 8);
  }
  return io.PutU32(item.ComponentType, u"Index item type write failed") &&
         io.PutU32(item.fileOffset, u"Index file offset write failed") &&
         io.PutU32(item.crcValue, u"Index crc value write failed") &&
         io.PutU32(item.sizeInImage, u"Index size in image write failed") &&
         io.PutU32(item.userData, u"Index user data write failed") &&
         io.PutU32(item.attributes, u"Index attributes write failed") &&
         io.PutTime(item.creationTime, u"Index creation time write failed") &&
         io.PutTime(item.lastAccessTime, u"Index last access time write failed") &&
         io.PutTime(item.lastWriteTime, u"Index last write time write failed") &&
         io.PutU64(item.fileSize, u"Index file size write failed") &&
         io.PutU32(item.OID, u"Index OID write failed") &&
         io.PutU32(node.childrenPopulated ? 1 : 0, u"Index ChildrenPopulated write failed") &&
         io.PutU32(childCount, u"Index child count write failed") &&
         io.PutU32(length, u"Index name length write failed") &&
         (length == 0 || io.Put(name.data(), 2 * length, u"Index name write failed"));
}

bool Index::Store(AImageFile& image, bool encipher, DWORD* storedLength) {
  m_ImageFile = &image;
  m_Encipher = encipher;
  if (storedLength) *storedLength = 0;

  DWORD selected = 0;
  for (const Node& node : m_Nodes)
    if (node.item.selected) ++selected;
  AImageFileHeader header(INDEX_ENTRY, 0, selected, 0, 0, 0);
  if (!(encipher ? header.WriteEnciphered(image) : header.WritePlain(image))) {
    LogError(0, u"Index header write failed ", kClass, __LINE__);
    return false;
  }
  DWORD start = 0;
  image.GetBytesWritten(&start);

  // Each group: the records of its selected nodes, then the group of each
  // of those that has selected children, in sibling order.
  struct Group {
    std::vector<int> nodes;
    size_t next = 0;
  };
  std::vector<Group> stack;
  auto storeGroup = [this, &stack](std::vector<int> nodes) {
    for (int n : nodes)
      if (!StoreRecord(n, static_cast<DWORD>(SelectedChildren(n).size()))) return false;
    stack.push_back(Group{std::move(nodes), 0});
    return true;
  };
  bool ok = true;
  if (!m_Nodes.empty() && IsSelected(0)) ok = storeGroup({0});
  while (ok && !stack.empty()) {
    Group& group = stack.back();
    if (group.next == group.nodes.size()) {
      stack.pop_back();
      continue;
    }
    std::vector<int> children = SelectedChildren(group.nodes[group.next++]);
    if (!children.empty()) ok = storeGroup(std::move(children));
  }
  if (!ok) {
    LogError(0, u"Store siblings failed", kClass, __LINE__);
    return false;
  }
  if (encipher) {
    const BYTE end = 0;
    if (!image.Write(&end, 1, true, true)) {
      LogError(0, u"Index end marker write failed", kClass, __LINE__);
      return false;
    }
  }
  DWORD now = 0;
  image.GetBytesWritten(&now);
  if (storedLength) *storedLength = now - start;
  return true;
}

bool Index::LoadRecord(int parent, ULONGLONG& remaining, DWORD& childCount) {
  if (remaining < IndexRecord::kFixedSize) {
    LogError(0, u"Index structural failure", kClass, __LINE__);
    return false;
  }
  FieldIO io(*m_ImageFile, m_Encipher);
  Node node;
  node.parent = parent;
  Item& item = node.item;
  DWORD populated = 0, length = 0;
  bool ok = io.GetU32(item.ComponentType, u"Index item type read failed") &&
            io.GetU32(item.fileOffset, u"Index file offset read failed") &&
            io.GetU32(item.crcValue, u"Index crc value read failed") &&
            io.GetU32(item.sizeInImage, u"Index size in image read failed") &&
            io.GetU32(item.userData, u"Index user data read failed") &&
            io.GetU32(item.attributes, u"Index attributes read failed") &&
            io.GetTime(item.creationTime, u"Index creation time read failed") &&
            io.GetTime(item.lastAccessTime, u"Index last access time read failed") &&
            io.GetTime(item.lastWriteTime, u"Index last write time read failed") &&
            io.GetU64(item.fileSize, u"Index file size failed") &&
            io.GetU32(item.OID, u"Index OID read failed") &&
            io.GetU32(populated, u"Index ChildrenPopulated read failed") &&
            io.GetU32(childCount, u"Index child count read failed") &&
            io.GetU32(length, u"Index name length read failed");
  if (!ok) return false;
  remaining -= IndexRecord::kFixedSize;
  if (length > IndexRecord::kMaxNameLength) {
    LogError(0, u"Index name length too large", kClass, __LINE__);
    return false;
  }
  if (2ull * length > remaining) {
    LogError(0, u"Index structural failure", kClass, __LINE__);
    return false;
  }
  if (length > 0) {
    BYTE bytes[2 * IndexRecord::kMaxNameLength];
    if (!io.Get(bytes, 2 * length, u"Index name read failed")) return false;
    item.name.resize(length);
    for (DWORD i = 0; i < length; ++i)
      item.name[i] = static_cast<WCHAR>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    remaining -= 2ull * length;
  }
  node.childrenPopulated = populated ? 1 : 0;
  item.selected = 1;
  item.partlySelected = 0;
  m_Nodes.push_back(std::move(node));
  return true;
}

bool Index::LoadBody(ULONGLONG& remaining, DWORD total) {
  std::vector<DWORD> childCounts;  // per loaded node, as stored
  // Reads one sibling group of count records below parent (-1: the root).
  auto loadGroup = [&](int parent, DWORD count) {
    DWORD have = static_cast<DWORD>(m_Nodes.size());
    if (total < have || total - have < count ||
        static_cast<ULONGLONG>(count) * IndexRecord::kFixedSize > remaining) {
      LogError(0, u"Index structural failure", kClass, __LINE__);
      return false;
    }
    for (DWORD i = 0; i < count; ++i) {
      DWORD childCount = 0;
      if (!LoadRecord(parent, remaining, childCount)) return false;
      childCounts.push_back(childCount);
      if (i == 0 && parent != -1) At(parent).firstChild = NodeCount() - 1;
    }
    return true;
  };

  struct Group {
    int first;
    DWORD count;
    DWORD next;
  };
  if (!loadGroup(-1, 1)) return false;
  std::vector<Group> stack{{0, 1, 0}};
  while (!stack.empty()) {
    Group& group = stack.back();
    if (group.next == group.count) {
      stack.pop_back();
      continue;
    }
    int n = group.first + static_cast<int>(group.next++);
    DWORD count = childCounts[static_cast<size_t>(n)];
    if (count == 0) continue;
    int first = NodeCount();
    if (!loadGroup(n, count)) return false;
    stack.push_back(Group{first, count, 0});
  }
  return true;
}

bool Index::Load(AImageFile& image, bool decipher) {
  return LoadWithin(image, decipher, kNoLimit, false);
}

bool Index::LoadWithin(AImageFile& image, bool decipher, ULONGLONG bodyLength, bool exact) {
  m_ImageFile = &image;
  m_Encipher = decipher;
  Clear();
  AImageFileHeader header;
  if (!(decipher ? header.ReadDeciphered(image) : header.ReadPlain(image))) {
    LogError(0, u"Index header read failed ", kClass, __LINE__);
    return false;
  }
  if (header.ComponentType() != INDEX_ENTRY) {
    LogError(0, u"Index header content type not index", kClass, __LINE__);
    return false;
  }
  // Nothing read from the block may reach past the body or the file.
  ULONGLONG remaining = std::min<ULONGLONG>(bodyLength, image.BytesLeft());
  if (!LoadBody(remaining, header.CountOrValue())) return false;
  if (decipher) {
    BYTE end = 0;
    if (remaining < IndexRecord::kEndByteSize || !image.Read(&end, 1, true, true)) {
      LogError(0, u"Index end marker read failed", kClass, __LINE__);
      return false;
    }
    remaining -= IndexRecord::kEndByteSize;
  }
  if (exact && remaining != 0) {
    LogError(0, u"Index block length differs from the image tail", kClass, __LINE__);
    return false;
  }
  return true;
}

bool Index::Locate(AImageFile& image, bool decipher) {
  const DWORD header = ImageFormat::kHeaderSize;
  if (!image.SetFilePointer(-static_cast<LONG>(header), FILE_END)) {
    LogError(0, u"Index header seek failed ", kClass, __LINE__);
    return false;
  }
  AImageFileHeader tail;
  if (!tail.ReadPlain(image)) {
    LogError(0, u"Image tail header read failed ", kClass, __LINE__);
    return false;
  }
  // The body lies between the index header and the tail.
  DWORD body = tail.FixedPartSize();
  DWORD size = image.GetFileSize();
  if (size < 2 * header || body > size - 2 * header || body > 0x7FFFFFFFu - 2 * header ||
      !image.SetFilePointer(-static_cast<LONG>(body + 2 * header), FILE_END)) {
    LogError(0, u"Index start seek failed", kClass, __LINE__);
    return false;
  }
  return LoadWithin(image, decipher, body, true);
}
