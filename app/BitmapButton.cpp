// BitmapButton (app/BitmapButton.h).
#include "app/BitmapButton.h"

#include "ce/errors.h"
#include "core/Log.h"
#include "core/Resources.h"

namespace {
constexpr const WCHAR* kClass = u"BitmapButton";
}  // namespace

BOOL BitmapButton::Attach(UINT id, CWnd* parent) {
  if (!parent || !SubclassDlgItem(id, parent)) {
    Log(GetLastError(), u"BitmapButton::Attach - no such control", kClass, __LINE__);
    return FALSE;
  }
  CString base;
  GetWindowText(base);
  for (int face = kNormal; face < kFaceCount; ++face) {
    AResBitmap bitmap;
    if (LoadResBitmap(base + kSuffixes[face], bitmap)) m_Bitmaps[face] = bitmap;
  }
  if (m_Bitmaps[kNormal].IsEmpty()) {
    Log(GetLastError(), u"BitmapButton::Attach - no bitmap " + base + u"U", kClass, __LINE__);
    return FALSE;
  }
  SetButtonStyle((GetButtonStyle() & ~0xFu) | BS_OWNERDRAW, FALSE);
  SetWindowPos(nullptr, 0, 0, m_Bitmaps[kNormal].GetWidth(), m_Bitmaps[kNormal].GetHeight(),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Invalidate();
  return TRUE;
}

BitmapButton::Face BitmapButton::FaceFor(UINT itemState) const {
  if ((itemState & ODS_SELECTED) && HasFace(kSelected)) return kSelected;
  if ((itemState & ODS_FOCUS) && HasFace(kFocused)) return kFocused;
  if ((itemState & ODS_DISABLED) && HasFace(kDisabled)) return kDisabled;
  return kNormal;
}

void BitmapButton::DrawItem(LPDRAWITEMSTRUCT item) {
  const AResBitmap& bitmap = m_Bitmaps[FaceFor(item->itemState)];
  HBITMAP handle = bitmap.CreateHandle();
  if (!handle) return;
  HDC memory = ::CreateCompatibleDC(item->hDC);
  if (memory) {
    HGDIOBJ old = ::SelectObject(memory, handle);
    const RECT& r = item->rcItem;
    ::BitBlt(item->hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
  }
  ::DeleteObject(handle);
}

BOOL BitmapButton::OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (msg != WM_DRAWITEM) return CButton::OnChildNotify(msg, wParam, lParam, result);
  auto* item = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam);
  if (!item || item->CtlType != ODT_BUTTON) return FALSE;
  DrawItem(item);
  if (result) *result = TRUE;
  return TRUE;
}
