// BitmapButton: an owner-drawn button that shows one of four bitmaps by its
// state. The button's window text in the template names them: base + "U"
// (normal, required), "D" (selected, pressed), "F" (focused) and "X"
// (disabled), found through the resource search (LoadResBitmap by name).
// The parent's WM_DRAWITEM reaches the button (OnChildNotify).
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "core/ResBitmap.h"
#include "ui/Mfc.h"

class BitmapButton : public CButton {
 public:
  enum Face { kNormal, kSelected, kFocused, kDisabled, kFaceCount };
  static constexpr const WCHAR* kSuffixes[kFaceCount] = {u"U", u"D", u"F", u"X"};

  // Subclasses control `id` of parent, makes it owner-drawn, loads its
  // bitmaps and sizes it to the normal bitmap (no move, no z-order change,
  // no activation). False when the control or the normal bitmap is
  // missing; the others are optional.
  BOOL Attach(UINT id, CWnd* parent);
  // The face drawn for an owner-draw item state (ODS_*): selected, else
  // focused, else disabled, each only when its bitmap exists; else normal.
  Face FaceFor(UINT itemState) const;
  bool HasFace(Face face) const { return !m_Bitmaps[face].IsEmpty(); }
  // Copies the face's bitmap into the item rectangle.
  void DrawItem(LPDRAWITEMSTRUCT item);

 protected:
  BOOL OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  AResBitmap m_Bitmaps[kFaceCount];  // normal, selected, focused, disabled
};
