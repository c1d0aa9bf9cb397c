// CComponentTree (app/ComponentTree.h).
#include "app/ComponentTree.h"

#include <algorithm>

#include "ce/errors.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/ResBitmap.h"
#include "core/Resources.h"
#include "core/System.h"
#include "engine/Operation.h"
#include "image/Index.h"

namespace {

constexpr const WCHAR* kClass = u"CComponentTree";
constexpr LPARAM kRootData = 2;
constexpr DWORD kRootText = 57730;
constexpr int kRootImage = 3;

// Index node types of the top-level parts and of folders and files.
constexpr DWORD kTypeFileSystem = 21, kTypeRegistry = 23, kTypeMail = 24, kTypeDatabaseVolumes = 27,
                kTypeDatabases = 31;
constexpr DWORD kTypeFolder = 3, kTypeFile = 4, kTypeDatabaseItem = 26, kTypeMailItem = 30;

struct CategoryInfo {
  DWORD text;
  int image;
  bool first;
};
constexpr CategoryInfo kCategories[CComponentTree::kCategoryCount] = {
    {65148, 20, false}, {65149, 21, false}, {65147, 19, true}, {65207, 12, false},
    {57750, 6, false},  {57749, 11, false}, {57748, 5, false}, {65205, 4, true},
};

constexpr const WCHAR* kMyDocuments = u"\\My Documents";
constexpr const WCHAR* kPimVolume = u"\\pim.vol";
// System volume files: "\mxip_system.vol", "\mxip_initdb.vol" ...
constexpr const WCHAR* kSystemVolumePrefix = u"mxip_";

// The part of a full path after its last backslash.
std::u16string LastPart(const std::u16string& path) {
  size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

int MarkOf(const Index& index, int node) {
  if (index.IsPartial(node)) return CComponentTree::kPartial;
  return index.IsSelected(node) ? CComponentTree::kChecked : CComponentTree::kUnchecked;
}

// Images by node type: folders 1 (selected 2), files 0, database items 5,
// mail items 10.
void ImagesOf(DWORD type, int* image, int* selected) {
  *image = *selected = 0;
  if (type == kTypeFolder) {
    *image = 1;
    *selected = 2;
  } else if (type == kTypeDatabaseItem) {
    *image = *selected = 5;
  } else if (type == kTypeMailItem) {
    *image = *selected = 10;
  }
}

}  // namespace

int CComponentTree::GetCheckState(HTREEITEM item) const {
  return static_cast<int>(STATEIMAGEMASKTOINDEX(GetItemState(item, TVIS_STATEIMAGEMASK)));
}

bool CComponentTree::SetMark(HTREEITEM item, int mark) {
  return SetItemState(item, INDEXTOSTATEIMAGEMASK(mark), TVIS_STATEIMAGEMASK) != FALSE;
}

std::vector<int> CComponentTree::NodesOf(HTREEITEM item) const {
  const DWORD_PTR data = GetItemData(item);
  if (!item || !m_pIndex) return {};
  if ((data & 7) == 0) {
    const auto node = static_cast<int>(data / 8);
    if (node < m_pIndex->NodeCount()) return {node};
    return {};
  }
  if ((data & 7) == 1 && data / 8 < m_NodeLists.size()) return m_NodeLists[data / 8];
  return {};
}

void CComponentTree::SelectNodes(HTREEITEM item, bool selected) {
  for (int n : NodesOf(item)) m_pIndex->SetSelected(n, selected);
}

void CComponentTree::InsertChildren(HTREEITEM parent, int node) {
  struct Component {
    int node;
    std::u16string name;
    DWORD type;
  };
  std::vector<Component> children;
  for (int c = m_pIndex->FirstChild(node); c >= 0; c = m_pIndex->NextSibling(c))
    children.push_back({c, LastPart(m_pIndex->NodeName(c)), m_pIndex->NodeType(c)});
  // Folders before files; otherwise by name, ignoring case.
  std::stable_sort(children.begin(), children.end(), [](const Component& a, const Component& b) {
    const bool aFolder = a.type == kTypeFolder && b.type == kTypeFile;
    const bool bFolder = b.type == kTypeFolder && a.type == kTypeFile;
    if (aFolder || bFolder) return aFolder;
    return CString(a.name.c_str()).CompareNoCase(b.name.c_str()) < 0;
  });
  for (const Component& c : children) {
    int image = 0, selected = 0;
    ImagesOf(c.type, &image, &selected);
    HTREEITEM item = InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM, c.name.c_str(), image,
                                selected, 0, 0, static_cast<LPARAM>(c.node) * 8, parent, TVI_LAST);
    if (item) SetMark(item, MarkOf(*m_pIndex, c.node));
  }
}

HTREEITEM CComponentTree::AddCategory(Category c, int node) {
  if (m_hCategories[c]) return m_hCategories[c];
  const CategoryInfo& info = kCategories[c];
  const LPARAM data = node >= 0 ? static_cast<LPARAM>(node) * 8 + 4 : kRootData;
  CString text = Localizer::LoadResString(info.text);
  m_hCategories[c] = InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM, text, info.image,
                                info.image, 0, 0, data, m_hRoot, info.first ? TVI_FIRST : TVI_LAST);
  return m_hCategories[c];
}

BOOL CComponentTree::SetComponentList(Index* index) {
  m_pIndex = index;
  m_hCategories.fill(nullptr);
  m_NodeLists.clear();
  m_hVolumeGroup = nullptr;
  DeleteAllItems();
  if (!m_pIndex) return FALSE;
  CString rootText = Localizer::LoadResString(kRootText);
  m_hRoot = InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM, rootText, kRootImage, kRootImage, 0,
                       0, kRootData, TVI_ROOT, TVI_LAST);
  const struct {
    DWORD type;
    Category category;
  } kParts[] = {{kTypeDatabaseVolumes, kCatDatabaseVolumes},
                {kTypeDatabases, kCatDatabases},
                {kTypeFileSystem, kCatFileSystem},
                {kTypeMail, kCatMail},
                {kTypeRegistry, kCatRegistry}};
  for (const auto& part : kParts) {
    const int node = m_pIndex->FindChildOfType(part.type);
    if (node < 0) continue;
    // Mail and registry items stand for their part's node; the others for none.
    const bool ownNode = part.type == kTypeMail || part.type == kTypeRegistry;
    HTREEITEM cat = AddCategory(part.category, ownNode ? node : -1);
    if (!cat) continue;
    m_pIndex->PopulateChildren(node, m_pIndex->IsSelected(node));
    if (part.type != kTypeFileSystem) {
      InsertChildren(cat, node);
      if (part.type == kTypeDatabaseVolumes) SplitDatabaseVolumes(cat);
      continue;
    }
    // The documents folder and what lies on a storage card get items of
    // their own beside the file system.
    InsertChildren(cat, node);
    std::vector<HTREEITEM> moved;
    for (HTREEITEM c = GetChildItem(cat); c; c = GetNextSiblingItem(c)) {
      const std::vector<int> nodes = NodesOf(c);
      if (nodes.empty()) continue;
      const std::u16string& name = m_pIndex->NodeName(nodes[0]);
      if (CString(name.c_str()).CompareNoCase(kMyDocuments) == 0) {
        HTREEITEM docs = AddCategory(kCatMyDocuments, -1);
        m_pIndex->PopulateChildren(nodes[0], m_pIndex->IsSelected(nodes[0]));
        if (docs) InsertChildren(docs, nodes[0]);
        moved.push_back(c);
      } else if (System::IsOnStorageCard(CString(name.c_str()))) {
        HTREEITEM card = AddCategory(kCatStorageCard, -1);
        if (card) {
          int image = 0, selected = 0;
          ImagesOf(m_pIndex->NodeType(nodes[0]), &image, &selected);
          HTREEITEM item = InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM,
                                      LastPart(name).c_str(), image, selected, 0, 0,
                                      static_cast<LPARAM>(nodes[0]) * 8, card, TVI_LAST);
          if (item) SetMark(item, MarkOf(*m_pIndex, nodes[0]));
        }
        moved.push_back(c);
      }
    }
    for (HTREEITEM c : moved) DeleteItem(c);
  }
  // Categories that got nothing go; the others, and their children's
  // children (so that their expand buttons show), are filled.
  for (HTREEITEM& cat : m_hCategories) {
    if (!cat) continue;
    if (!GetChildItem(cat)) {
      DeleteItem(cat);
      cat = nullptr;
      continue;
    }
    OnItemExpanded(cat);
  }
  // The categories and the root take their marks from what they hold: the
  // folder walk has deselected what the exclusions leave out (a storage
  // card, the user's list, file types), and checking over it would take
  // all of that back into the backup.
  for (HTREEITEM cat : m_hCategories)
    if (cat) MarkFromChildren(cat);
  MarkFromChildren(m_hRoot);
  Expand(m_hRoot, TVE_EXPAND);
  return TRUE;
}

BOOL CComponentTree::SetCheckType(HTREEITEM item, int type) {
  if (!m_pIndex) {
    Log(0, u"SetCheckType - No index to work with", kClass, __LINE__);
    return FALSE;
  }
  TVITEMW probe{};
  probe.mask = TVIF_HANDLE;
  probe.hItem = item;
  if (!item || !GetItem(&probe)) return FALSE;
  const int mark = GetCheckState(item);
  const bool check = type == kCheck || (type == kToggle && mark == kUnchecked);
  if (check && mark == kChecked) return TRUE;
  if (!check && mark == kUnchecked) return TRUE;
  SetChildStatus(item, check);
  SetMark(item, check ? kChecked : kUnchecked);
  SelectNodes(item, check);
  UpdateParents(item);
  return TRUE;
}

BOOL CComponentTree::SetChildStatus(HTREEITEM item, bool selected) {
  if (!m_pIndex) {
    Log(0, u"SetChildStatus - No index to work with", kClass, __LINE__);
    return FALSE;
  }
  for (HTREEITEM c = GetChildItem(item); c; c = GetNextSiblingItem(c)) {
    bool partial = false;
    for (int n : NodesOf(c)) {
      if (m_pIndex->IsPartial(n)) partial = true;
      else m_pIndex->SetSelected(n, selected);
    }
    if (partial) continue;
    if (!SetMark(c, selected ? kChecked : kUnchecked)) {
      Log(0, selected ? u"Error on SetItemState 0x2000" : u"Error on SetItemState 0x1000", kClass, __LINE__);
      return FALSE;
    }
    if (GetChildItem(c) && !SetChildStatus(c, selected)) return FALSE;
  }
  return TRUE;
}

void CComponentTree::UpdateParents(HTREEITEM item) {
  for (HTREEITEM p = GetParentItem(item); p; p = GetParentItem(p)) MarkFromChildren(p);
}

void CComponentTree::MarkFromChildren(HTREEITEM item) {
  bool checked = false, unchecked = false;
  for (HTREEITEM c = GetChildItem(item); c; c = GetNextSiblingItem(c)) {
    switch (GetCheckState(c)) {
      case kChecked: checked = true; break;
      case kPartial: checked = unchecked = true; break;
      case kUnchecked: {
        // A child whose nodes are all partly selected still holds some.
        const std::vector<int> nodes = NodesOf(c);
        const bool allPartial = !nodes.empty() && std::all_of(nodes.begin(), nodes.end(), [&](int n) {
          return m_pIndex->IsPartial(n);
        });
        if (!allPartial) unchecked = true;
        break;
      }
      default: break;
    }
  }
  const int mark = checked && unchecked ? kPartial : checked ? kChecked : kUnchecked;
  SetMark(item, mark);
  SelectNodes(item, mark != kUnchecked);
}

void CComponentTree::OnItemExpanded(HTREEITEM item) {
  if (!m_pIndex) return;
  // Categories and shared items stand for no node of their own: their
  // children were filled already.
  const int node = SingleNodeOf(item);
  if (node >= 0) {
    if (!m_pIndex->IsPopulated(node)) m_pIndex->PopulateChildren(node, GetCheckState(item) != kUnchecked);
    if (!GetChildItem(item)) InsertChildren(item, node);
  }
  // One level more, so that children with children of their own show an
  // expand button.
  for (HTREEITEM c = GetChildItem(item); c; c = GetNextSiblingItem(c)) {
    const int node = SingleNodeOf(c);
    if (node < 0 || GetChildItem(c)) continue;
    if (!m_pIndex->IsPopulated(node)) m_pIndex->PopulateChildren(node, GetCheckState(c) != kUnchecked);
    InsertChildren(c, node);
  }
}

int CComponentTree::SingleNodeOf(HTREEITEM item) const {
  if (!item || !m_pIndex) return -1;
  const DWORD_PTR data = GetItemData(item);
  if ((data & 7) != 0) return -1;
  const auto node = static_cast<int>(data / 8);
  return node < m_pIndex->NodeCount() ? node : -1;
}

HTREEITEM CComponentTree::MoveLeaf(HTREEITEM item, HTREEITEM parent) {
  TVITEMW info{};
  WCHAR text[260] = {};
  info.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
  info.hItem = item;
  info.pszText = text;
  info.cchTextMax = 260;
  if (!GetItem(&info)) return nullptr;
  const int mark = GetCheckState(item);
  HTREEITEM moved = InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM, text, info.iImage,
                               info.iSelectedImage, 0, 0, info.lParam, parent, TVI_LAST);
  if (!moved) return nullptr;
  SetMark(moved, mark);
  DeleteItem(item);
  return moved;
}

void CComponentTree::SplitDatabaseVolumes(HTREEITEM volumes) {
  std::vector<HTREEITEM> pim, system;
  for (HTREEITEM c = GetChildItem(volumes); c; c = GetNextSiblingItem(c)) {
    const int node = SingleNodeOf(c);
    if (node < 0) continue;
    const CString path(m_pIndex->NodeName(node).c_str());
    const CString name(LastPart(m_pIndex->NodeName(node)).c_str());
    if (path.CompareNoCase(kPimVolume) == 0) {
      pim.push_back(c);
    } else if (name.GetLength() >= 5 && name.Left(5).CompareNoCase(kSystemVolumePrefix) == 0) {
      system.push_back(c);
    }
  }
  if (!pim.empty()) {
    if (HTREEITEM a = AddCategory(kCatA, -1))
      for (HTREEITEM c : pim) MoveLeaf(c, a);
  }
  if (system.empty()) return;
  std::vector<int> nodes;
  for (HTREEITEM c : system) nodes.push_back(SingleNodeOf(c));
  const LPARAM data = static_cast<LPARAM>(m_NodeLists.size()) * 8 + 1;
  m_NodeLists.push_back(nodes);
  m_hVolumeGroup = InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM,
                              Localizer::LoadResString(kStrSystemVolumes), kVolumeGroupImage, kVolumeGroupImage, 0, 0,
                              data, volumes, TVI_FIRST);
  if (!m_hVolumeGroup) return;
  // One item for all of them: its mark moves every one of their nodes.
  const auto selected = static_cast<size_t>(
      std::count_if(nodes.begin(), nodes.end(), [&](int n) { return m_pIndex->IsSelected(n); }));
  SetMark(m_hVolumeGroup, selected == nodes.size() ? kChecked : selected > 0 ? kPartial : kUnchecked);
  for (HTREEITEM c : system) DeleteItem(c);
}

bool CComponentTree::AddBitmap(CImageList& list, UINT id) {
  AResBitmap bitmap;
  HBITMAP handle = LoadResBitmap(id, bitmap) ? bitmap.CreateHandle() : nullptr;
  if (!handle) {
    CString text;
    text.Format(u"Unable to load tree bitmap %u", id);
    LogError(GetLastError(), text, kClass, __LINE__);
    return false;
  }
  const bool added = ImageList_AddMasked(list.GetSafeHandle(), handle, kMaskColour) >= 0;
  ::DeleteObject(handle);  // the list keeps its own pixels
  return added;
}

BOOL CComponentTree::CreateImageLists(BOOL flag) {
  m_bImageListFlag = flag;
  DeleteAllItems();
  m_hRoot = nullptr;
  m_hCategories.fill(nullptr);
  m_hVolumeGroup = nullptr;
  m_NodeLists.clear();
  // The library's bitmaps are drawn for its screen: the lists take their
  // size (16 x scale, marks 13 x scale wide) from them.
  const int scale = GetDisplayScale();
  int size = 16 * scale, stateWidth = 13 * scale, stateHeight = 13 * scale;
  AResBitmap probe;
  if (LoadResBitmap(kTreeBitmaps[0], probe)) size = static_cast<int>(probe.GetWidth());
  if (LoadResBitmap(kStateStrip, probe)) {
    stateWidth = static_cast<int>(probe.GetWidth()) / kStateImageCount;
    stateHeight = static_cast<int>(probe.GetHeight());
  }
  m_NormalImages.DeleteImageList();
  m_StateImages.DeleteImageList();
  if (!m_NormalImages.Create(size, size, ILC_MASK, 6, 3) ||
      !m_StateImages.Create(stateWidth, stateHeight, ILC_MASK, kStateImageCount, 0)) {
    LogError(GetLastError(), u"Unable to create the tree image lists", kClass, __LINE__);
    return FALSE;
  }
  for (UINT id : kTreeBitmaps) AddBitmap(m_NormalImages, id);
  AddBitmap(m_StateImages, kStateStrip);
  SetImageList(m_NormalImages.GetSafeHandle(), TVSIL_NORMAL);
  SetImageList(m_StateImages.GetSafeHandle(), TVSIL_STATE);
  return TRUE;
}

BOOL CComponentTree::IsRootChecked() { return m_hRoot && GetCheckState(m_hRoot) != kUnchecked; }

bool CComponentTree::Included(Category c, bool partialCounts) {
  if (!m_hCategories[c]) return false;
  const int mark = GetCheckState(m_hCategories[c]);
  return mark == kChecked || (partialCounts && mark == kPartial);
}

void CComponentTree::UpdateSelectionFlags(OperationDescriptor& descriptor) {
  descriptor.includeDatabases =
      Included(kCatDatabases, true) || Included(kCatDatabaseVolumes, true) || Included(kCatA, true);
  descriptor.includeFileSystem =
      Included(kCatStorageCard, true) || Included(kCatMyDocuments, true) || Included(kCatFileSystem, true);
  descriptor.includeRegistry = Included(kCatRegistry, false);
  descriptor.includeMail = Included(kCatMail, true);
}

LRESULT CComponentTree::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_LBUTTONDOWN: {
      UINT flags = 0;
      HTREEITEM item =
          HitTest(POINT{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))}, &flags);
      if (item && (flags & TVHT_ONITEMSTATEICON)) {
        SetCheckType(item, kToggle);
        return 0;  // the tap is the check mark's, not the base's
      }
      break;
    }
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) {
        if (HTREEITEM caret = GetSelectedItem()) SetCheckType(caret, kToggle);
        return 0;
      }
      break;
    case WM_GETDLGCODE: {
      // Return toggles the caret item instead of pressing the default button.
      const auto* m = reinterpret_cast<const MSG*>(lParam);
      LRESULT code = CTreeCtrl::WindowProc(msg, wParam, lParam);
      if (m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) code |= DLGC_WANTALLKEYS;
      return code;
    }
    default: break;
  }
  return CTreeCtrl::WindowProc(msg, wParam, lParam);
}

BOOL CComponentTree::OnChildNotify(UINT msg, WPARAM, LPARAM lParam, LRESULT*) {
  const auto* nm = reinterpret_cast<const NMTREEVIEWW*>(lParam);
  if (msg == WM_NOTIFY && nm && nm->hdr.code == TVN_ITEMEXPANDEDW && nm->action == TVE_EXPAND)
    OnItemExpanded(nm->itemNew.hItem);
  return FALSE;  // the parent hears it too
}
