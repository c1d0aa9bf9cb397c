// The list view, image lists and bitmaps: the model, the notifications a
// parent hears, and what the screen file shows of them.
#include <cstring>

#include "ce/commctrl.h"
#include "ce/errors.h"
#include "cesim/window.h"
#include "testkit/TestDevice.h"
#include "ui/ListCtrl.h"
#include "ui/ScreenFile.h"
#include "win32_support.h"

using namespace w32test;

namespace {

struct ListNote {
  UINT code;
  int item;
  UINT oldState, newState;
  LPARAM data;
};
std::vector<ListNote>& ListNotes() {
  static std::vector<ListNote> notes;
  return notes;
}
LRESULT g_deleteAllAnswer = 0;

LRESULT ListHostProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY) {
    auto* nm = reinterpret_cast<NMITEMACTIVATE*>(lParam);
    ListNotes().push_back({nm->hdr.code, nm->iItem, nm->uOldState, nm->uNewState, nm->lParam});
    return nm->hdr.code == LVN_DELETEALLITEMS ? g_deleteAllAnswer : 0;
  }
  return DefWindowProcW(h, msg, wParam, lParam);
}

// A packed 24-bit bitmap file of w x h, every pixel `color` (0xRRGGBB) but
// column 0, which is `first`.
std::string BitmapFile(int w, int h, uint32_t color, uint32_t first) {
  const int stride = (w * 3 + 3) / 4 * 4;
  std::string bytes(14 + 40 + static_cast<size_t>(stride * h), '\0');
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&bytes[at], &v, 2); };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<uint32_t>(bytes.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(w));
  put32(22, static_cast<uint32_t>(h));
  put16(26, 1);
  put16(28, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t c = x == 0 ? first : color;
      const size_t p = 54 + static_cast<size_t>(y * stride + x * 3);
      bytes[p] = static_cast<char>(c & 0xFF);
      bytes[p + 1] = static_cast<char>((c >> 8) & 0xFF);
      bytes[p + 2] = static_cast<char>((c >> 16) & 0xFF);
    }
  return bytes;
}

class ListView : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ListHostProc;
    wc.lpszClassName = u"ListTestHost";
    RegisterClassW(&wc);
    ListNotes().clear();
    g_deleteAllAnswer = 0;
    host_ = CreateWindowExW(0, u"ListTestHost", u"Host", WS_VISIBLE, 0, 26, 240, 294, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host_, nullptr);
    list_ = Child(host_, WC_LISTVIEWW, u"", LVS_REPORT | LVS_SINGLESEL, 2106, 0, 0, 240, 200);
    ASSERT_NE(list_, nullptr);
    ASSERT_TRUE(ctl_.Attach(list_));
  }
  void TearDown() override { ctl_.Detach(); }

  void Fill(int rows) {
    ctl_.InsertColumn(0, u"Name", LVCFMT_LEFT, 170);
    ctl_.InsertColumn(1, u"Date", LVCFMT_LEFT, 80);
    for (int i = 0; i < rows; ++i) {
      std::u16string name = u"file" + std::u16string(1, static_cast<char16_t>(u'0' + i));
      ASSERT_EQ(ctl_.InsertItem(i, name.c_str()), i);
      ctl_.SetItemText(i, 1, u"today");
      ctl_.SetItemData(i, static_cast<DWORD_PTR>(100 + i));
    }
    ListNotes().clear();
  }
  std::vector<ListNote> Codes(UINT code) const {
    std::vector<ListNote> out;
    for (const auto& n : ListNotes())
      if (n.code == code) out.push_back(n);
    return out;
  }
  // Client point at the middle of row i.
  POINT RowPoint(int i) {
    RECT r;
    EXPECT_TRUE(ctl_.GetItemRect(i, &r, LVIR_BOUNDS));
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }

  quilmo::test::TestDevice dev_;
  HWND host_ = nullptr, list_ = nullptr;
  CListCtrl ctl_;
};

TEST_F(ListView, ColumnsItemsSubItemsAndData) {
  Fill(3);
  EXPECT_EQ(ctl_.GetItemCount(), 3);
  EXPECT_EQ(ctl_.GetItemText(1, 0), CString(u"file1"));
  EXPECT_EQ(ctl_.GetItemText(1, 1), CString(u"today"));
  EXPECT_EQ(ctl_.GetItemText(1, 3), CString(u""));  // no such sub-item: empty
  EXPECT_EQ(ctl_.GetItemData(2), 102u);
  EXPECT_EQ(ctl_.GetColumnWidth(1), 80);
  // A small buffer gets as much as fits, always terminated; none is never written.
  WCHAR small[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(ctl_.GetItemText(0, 0, small, 3), 2);
  EXPECT_EQ(std::u16string(small), u"fi");
  EXPECT_EQ(ctl_.GetItemText(0, 0, small, 0), 0);
  EXPECT_EQ(ctl_.GetItemText(0, 0, nullptr, 10), 0);
  // The text-callback marker is never read as a string.
  LVITEMW cb{};
  cb.mask = LVIF_TEXT;
  cb.iItem = 3;
  cb.pszText = LPSTR_TEXTCALLBACKW;
  EXPECT_EQ(ctl_.InsertItem(&cb), 3);
  EXPECT_EQ(ctl_.GetItemText(3, 0), CString(u""));
  // Inserting past the end appends; a negative index or a sub-item fails.
  EXPECT_EQ(ctl_.InsertItem(99, u"last"), 4);
  EXPECT_EQ(ctl_.InsertItem(-1, u"bad"), -1);
  // A column inserted in front of a sub-item moves its text along.
  ctl_.InsertColumn(1, u"Folder", LVCFMT_LEFT, 100);
  EXPECT_EQ(ctl_.GetItemText(1, 2), CString(u"today"));
  EXPECT_EQ(ctl_.GetItemText(1, 1), CString(u""));
  // String widths follow the font: 8 pixels a character at the default height.
  EXPECT_EQ(ctl_.GetStringWidth(u"abcde"), 40);
  EXPECT_EQ(ctl_.DeleteItem(0), TRUE);
  EXPECT_EQ(ctl_.GetItemText(0, 0), CString(u"file1"));
  EXPECT_EQ(ctl_.DeleteItem(42), FALSE);
}

TEST_F(ListView, TapsSelectNotifyAndClickBesideClears) {
  Fill(3);
  ASSERT_TRUE(ctl_.SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED));
  ListNotes().clear();
  POINT p = RowPoint(2);
  RECT w;
  GetWindowRect(list_, &w);
  TapAt(host_, w.left + p.x, w.top + p.y);
  ui::PumpMessages();
  EXPECT_EQ(ctl_.GetNextItem(-1, LVNI_SELECTED), 2);
  EXPECT_EQ(ctl_.GetNextItem(-1, LVNI_FOCUSED), 2);
  EXPECT_EQ(ctl_.GetSelectedCount(), 1u);
  auto changed = Codes(LVN_ITEMCHANGED);
  ASSERT_EQ(changed.size(), 2u);
  EXPECT_EQ(changed[0].item, 0);  // the old one lets go first
  EXPECT_EQ(changed[0].newState, 0u);
  EXPECT_EQ(changed[1].item, 2);
  EXPECT_EQ(changed[1].newState, LVIS_SELECTED | LVIS_FOCUSED);
  EXPECT_EQ(changed[1].data, 102);
  ASSERT_EQ(Codes(NM_CLICK).size(), 1u);
  EXPECT_EQ(Codes(NM_CLICK)[0].item, 2);

  // Beside the items (below the last row): nothing selected, NM_CLICK names -1.
  ListNotes().clear();
  TapAt(host_, w.left + 10, w.bottom - 5);
  ui::PumpMessages();
  EXPECT_EQ(ctl_.GetSelectedCount(), 0u);
  ASSERT_EQ(Codes(NM_CLICK).size(), 1u);
  EXPECT_EQ(Codes(NM_CLICK)[0].item, -1);

  // A double tap on a row: click, double click, then activation.
  ListNotes().clear();
  p = RowPoint(1);
  SendMessageW(list_, WM_LBUTTONDBLCLK, 0, MAKELPARAM(p.x, p.y));
  std::vector<UINT> order;
  for (const auto& n : ListNotes())
    if (n.code != LVN_ITEMCHANGED && n.code != NM_SETFOCUS && n.code != NM_KILLFOCUS) order.push_back(n.code);
  EXPECT_EQ(order, (std::vector<UINT>{NM_CLICK, NM_DBLCLK, LVN_ITEMACTIVATE}));
  EXPECT_EQ(Codes(LVN_ITEMACTIVATE)[0].item, 1);

  // Keys move the caret and Return activates the focused row.
  ListNotes().clear();
  SendMessageW(list_, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(ctl_.GetNextItem(-1, LVNI_SELECTED), 2);
  SendMessageW(list_, WM_KEYDOWN, VK_RETURN, 0);
  ASSERT_EQ(Codes(LVN_ITEMACTIVATE).size(), 1u);
  EXPECT_EQ(Codes(LVN_ITEMACTIVATE)[0].item, 2);
}

TEST_F(ListView, DoubleTapsFromTheScreenReachListViewsOnly) {
  Fill(3);
  RECT w;
  GetWindowRect(list_, &w);
  const POINT p = RowPoint(1);
  const LPARAM at = MAKELPARAM(w.left + p.x, w.top + p.y);
  for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) PostMessageW(host_, m, 0, at);
  ui::PumpMessages();
  ASSERT_EQ(Codes(NM_DBLCLK).size(), 1u);
  ASSERT_EQ(Codes(LVN_ITEMACTIVATE).size(), 1u);
  EXPECT_EQ(Codes(LVN_ITEMACTIVATE)[0].item, 1);

  // Another control takes the second press as a press: a combo box opened
  // by the first tap is closed by the second.
  HWND combo = Child(host_, u"COMBOBOX", u"", CBS_DROPDOWNLIST, 2209, 10, 250, 100, 20);
  GetWindowRect(combo, &w);
  const LPARAM onCombo = MAKELPARAM(w.left + 5, w.top + 5);
  for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) PostMessageW(host_, m, 0, onCombo);
  ui::PumpMessages();
  EXPECT_EQ(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), FALSE);
}

TEST_F(ListView, SingleSelectionHitTestAndNextItem) {
  Fill(4);
  ctl_.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
  ctl_.SetItemState(3, LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(ctl_.GetSelectedCount(), 1u);
  EXPECT_EQ(ctl_.GetNextItem(-1, LVNI_SELECTED), 3);
  EXPECT_EQ(ctl_.GetNextItem(3, LVNI_SELECTED), -1);
  EXPECT_EQ(ctl_.GetNextItem(-1, LVNI_ALL), 0);
  EXPECT_EQ(ctl_.GetNextItem(1, LVNI_ALL), 2);
  UINT flags = 0;
  EXPECT_EQ(ctl_.HitTest(RowPoint(2), &flags), 2);
  EXPECT_EQ(flags, LVHT_ONITEMLABEL);
  EXPECT_EQ(ctl_.HitTest(POINT{5, 2}, &flags), -1);  // the header
  EXPECT_EQ(ctl_.HitTest(POINT{245, 60}, &flags), -1);
  EXPECT_EQ(flags, LVHT_TORIGHT);
  LVFINDINFOW find{LVFI_PARAM, nullptr, 102, {0, 0}, 0};
  EXPECT_EQ(ctl_.FindItem(&find), 2);
  find = LVFINDINFOW{LVFI_STRING, u"FILE3", 0, {0, 0}, 0};
  EXPECT_EQ(ctl_.FindItem(&find), 3);
}

int CALLBACK Descending(LPARAM a, LPARAM b, LPARAM) { return static_cast<int>(b - a); }
int CALLBACK Erratic(LPARAM a, LPARAM b, LPARAM) { return static_cast<int>((a * 7 + b * 3) % 3) - 1; }
HWND g_sorted = nullptr;
int CALLBACK Deleting(LPARAM a, LPARAM b, LPARAM) {
  SendMessageW(g_sorted, LVM_DELETEITEM, 0, 0);
  return static_cast<int>(a - b);
}

TEST_F(ListView, SortsByItemDataAndSurvivesBadCompareFunctions) {
  Fill(6);
  ASSERT_TRUE(ctl_.SortItems(Descending, 0));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ctl_.GetItemData(i), static_cast<DWORD_PTR>(105 - i));
  EXPECT_EQ(ctl_.GetItemText(0, 1), CString(u"today"));  // rows move whole
  // An answer that contradicts itself: every row is still there once.
  ASSERT_TRUE(ctl_.SortItems(Erratic, 0));
  std::vector<DWORD_PTR> seen;
  for (int i = 0; i < ctl_.GetItemCount(); ++i) seen.push_back(ctl_.GetItemData(i));
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<DWORD_PTR>{100, 101, 102, 103, 104, 105}));
  // A compare function that changes the rows: the sort is dropped.
  g_sorted = list_;
  EXPECT_FALSE(ctl_.SortItems(Deleting, 0));
  EXPECT_LT(ctl_.GetItemCount(), 6);
  EXPECT_FALSE(ctl_.SortItems(nullptr, 0));
}

TEST_F(ListView, DeleteAllTellsEachRowUnlessTheParentDeclines) {
  Fill(3);
  ASSERT_TRUE(ctl_.DeleteAllItems());
  EXPECT_EQ(Codes(LVN_DELETEALLITEMS).size(), 1u);
  ASSERT_EQ(Codes(LVN_DELETEITEM).size(), 3u);
  EXPECT_EQ(Codes(LVN_DELETEITEM)[1].data, 101);
  EXPECT_EQ(ctl_.GetItemCount(), 0);
  Fill(2);
  g_deleteAllAnswer = TRUE;
  ctl_.DeleteAllItems();
  EXPECT_EQ(Codes(LVN_DELETEITEM).size(), 0u);
}

TEST_F(ListView, ImageListsCutStripsAndMaskTheKeyColour) {
  ASSERT_TRUE(quilmo::test::WriteDeviceFile(u"\\strip.bmp", BitmapFile(48, 16, 0xFFFFFF, 0x0000FF)));
  HBITMAP strip = SHLoadDIBitmap(u"\\strip.bmp");
  ASSERT_NE(strip, nullptr);
  BITMAP info{};
  ASSERT_EQ(GetObjectW(strip, sizeof info, &info), static_cast<int>(sizeof info));
  EXPECT_EQ(info.bmWidth, 48);
  EXPECT_EQ(info.bmHeight, 16);
  EXPECT_EQ(GetObjectType(strip), static_cast<DWORD>(OBJ_BITMAP));

  CImageList images;
  ASSERT_TRUE(images.Create(16, 16, ILC_COLOR | ILC_MASK, 6, 3));
  CBitmap b;
  ASSERT_TRUE(b.Attach(strip));
  EXPECT_EQ(images.Add(&b, RGB(255, 255, 255)), 0);
  EXPECT_EQ(images.GetImageCount(), 3);
  HICON icon = reinterpret_cast<HICON>(1);  // any live-looking handle: drawn as a plain sign
  EXPECT_EQ(images.Add(icon), 3);
  EXPECT_EQ(ImageList_ReplaceIcon(images, 7, icon), -1);
  EXPECT_EQ(ImageList_ReplaceIcon(images, 0, nullptr), -1);
  EXPECT_EQ(ImageList_Create(0, 16, ILC_MASK, 1, 1), nullptr);
  EXPECT_FALSE(ImageList_Destroy(reinterpret_cast<HIMAGELIST>(0x1234)));
  EXPECT_EQ(ImageList_GetImageCount(reinterpret_cast<HIMAGELIST>(0x1234)), 0);

  // The small icons of a list view show in the screen file: white is gone.
  ctl_.SetImageList(&images, LVSIL_SMALL);
  EXPECT_EQ(ctl_.GetImageList(LVSIL_SMALL), images.GetSafeHandle());
  ctl_.InsertColumn(0, u"Name", LVCFMT_LEFT, 170);
  ctl_.InsertItem(0, u"one", 0);
  ctl_.InsertItem(1, u"two", 1);
  const std::string screen = ui::FormatScreen();
  EXPECT_NE(screen.find("<column text=\"Name\" width=\"170\""), std::string::npos) << screen;
  EXPECT_NE(screen.find("<row icon=\"0\""), std::string::npos);
  EXPECT_NE(screen.find("<image key=\"0\" width=\"16\" height=\"16\""), std::string::npos);
  // Column 0 of the first image is the blue edge (opaque); the rest was
  // white and is transparent, as is all of the second image.
  EXPECT_NE(screen.find("<image key=\"0\" width=\"16\" height=\"16\" rgba=\"AAD//wAAAAAAAAAA"), std::string::npos);
  EXPECT_NE(screen.find("<image key=\"1\" width=\"16\" height=\"16\" rgba=\"AAAAAAAA"), std::string::npos);
  UINT flags = 0;
  EXPECT_EQ(ctl_.HitTest(RowPoint(0), &flags), 0);
}

TEST_F(ListView, BitmapsCopiedIntoAWindowAreDrawnUntilItsNextPaint) {
  ASSERT_TRUE(quilmo::test::WriteDeviceFile(u"\\pic.bmp", BitmapFile(4, 2, 0x00FF00, 0x00FF00)));
  HBITMAP pic = SHLoadDIBitmap(u"\\pic.bmp");
  ASSERT_NE(pic, nullptr);
  HWND frame = Child(host_, u"STATIC", u"", 0, 2069, 10, 210, 40, 20);
  HDC dc = GetDC(host_);
  HDC mem = CreateCompatibleDC(dc);
  SelectObject(mem, pic);
  ASSERT_TRUE(StretchBlt(dc, 10, 210, 8, 4, mem, 0, 0, 4, 2, SRCCOPY));
  EXPECT_FALSE(BitBlt(dc, 0, 0, 4, 2, nullptr, 0, 0, SRCCOPY));
  DeleteDC(mem);
  ReleaseDC(host_, dc);
  std::string screen = ui::FormatScreen();
  // In screen pixels: the host's client area starts at y 26.
  EXPECT_NE(screen.find("<draw kind=\"image\" x=\"10\" y=\"236\" x2=\"18\" y2=\"240\" image=\""), std::string::npos)
      << screen;
  // A copy larger than a screen file's image may be is left out of the file.
  dc = GetDC(host_);
  mem = CreateCompatibleDC(dc);
  SelectObject(mem, pic);
  ASSERT_TRUE(StretchBlt(dc, 0, 0, 2000, 4, mem, 0, 0, 4, 2, SRCCOPY));
  DeleteDC(mem);
  ReleaseDC(host_, dc);
  screen = ui::FormatScreen();
  EXPECT_EQ(screen.find("x2=\"2000\""), std::string::npos);
  EXPECT_EQ(screen.find("width=\"2000\""), std::string::npos);
  EXPECT_NE(screen.find("<draw kind=\"image\" x=\"10\" y=\"236\""), std::string::npos);
  PAINTSTRUCT ps;
  BeginPaint(host_, &ps);
  EndPaint(host_, &ps);
  screen = ui::FormatScreen();
  EXPECT_EQ(screen.find("<draw"), std::string::npos);
  // A file that is no bitmap is refused.
  ASSERT_TRUE(quilmo::test::WriteDeviceFile(u"\\bad.bmp", "BMxx"));
  EXPECT_EQ(SHLoadDIBitmap(u"\\bad.bmp"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_TRUE(DeleteObject(pic));
  (void)frame;
}

}  // namespace
