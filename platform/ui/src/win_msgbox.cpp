// Message boxes as windows (screen mode): a "#32770" dialog with the text
// in a static control and one push button per answer, run modally.
#include <algorithm>

#include "ce/dialog.h"
#include "cesim/device.h"
#include "cesim/msgbox.h"
#include "win_internal.h"

namespace ui::detail {
namespace {

constexpr int kTextId = 0xFFFF;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 60;
constexpr int kButtonHeight = 20;
constexpr int kLineHeight = 16;
constexpr int kCharWidth = 8;  // the default font's character width

const char16_t* ButtonText(int id) {
  switch (id) {
    case IDOK: return u"OK";
    case IDCANCEL: return u"Cancel";
    case IDABORT: return u"Abort";
    case IDRETRY: return u"Retry";
    case IDIGNORE: return u"Ignore";
    case IDYES: return u"Yes";
    case IDNO: return u"No";
    default: return u"";
  }
}

// Lines the text takes in a column of `width` pixels (explicit breaks and
// wrapping).
int LineCount(const std::u16string& text, int width) {
  const int perLine = std::max(1, width / kCharWidth);
  int lines = 0;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(u'\n', start);
    size_t len = (end == std::u16string::npos ? text.size() : end) - start;
    lines += std::max<int>(1, static_cast<int>((len + perLine - 1) / perLine));
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
  return lines;
}

struct BoxData {
  std::vector<int> buttons;
};

INT_PTR BoxProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrW(h, DWL_USER, lParam);
    return TRUE;  // focus to the first tab stop: the default button comes first
  }
  if (msg != WM_COMMAND) return FALSE;
  auto* data = reinterpret_cast<BoxData*>(GetWindowLongPtrW(h, DWL_USER));
  if (!data) return FALSE;
  int id = LOWORD(wParam);
  const auto& b = data->buttons;
  if (std::find(b.begin(), b.end(), id) != b.end()) {
    EndDialog(h, id);
  } else if (id == IDCANCEL && b.size() == 1 && b[0] == IDOK) {
    EndDialog(h, IDOK);  // Escape closes a plain box
  }
  return TRUE;
}

}  // namespace

int WindowMessageBox(const ce::MessageBoxRequest& r) {
  ce::Device* d = ce::Device::Current();
  const int scale = ce::GetDisplayScale();
  const int screenWidth = d ? d->GetProfile().screenWidth : 240;
  BoxData data{ce::MessageBoxButtons(r.style)};
  const int def = ce::DefaultMessageBoxAnswer(r.style);

  ce::DialogTemplate t;
  t.width = screenWidth / scale;
  t.style = WS_POPUP | WS_CAPTION;
  t.caption = r.caption.empty() ? u"Error" : r.caption;
  const int textWidth = t.width - 2 * kMargin;
  const int textHeight = LineCount(r.text, textWidth) * kLineHeight;
  t.controls.push_back({kTextId, u"STATIC", kMargin, kMargin, textWidth, textHeight, WS_CHILD | WS_VISIBLE, r.text});
  const int n = static_cast<int>(data.buttons.size());
  const int rowWidth = n * kButtonWidth + (n - 1) * kMargin;
  int x = std::max(kMargin, (t.width - rowWidth) / 2);
  const int y = kMargin + textHeight + kMargin;
  // The default button first in tab order, so it gets the focus.
  std::vector<ce::ControlTemplate> buttons;
  for (int id : data.buttons) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (id == def ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    ce::ControlTemplate c{id, u"BUTTON", x, y, kButtonWidth, kButtonHeight, style, ButtonText(id)};
    if (id == def) buttons.insert(buttons.begin(), c);
    else buttons.push_back(c);
    x += kButtonWidth + kMargin;
  }
  t.controls.insert(t.controls.end(), buttons.begin(), buttons.end());
  t.height = y + kButtonHeight + kMargin;
  INT_PTR answer = DialogBoxIndirectParamW(nullptr, &t, r.owner, BoxProc, reinterpret_cast<LPARAM>(&data));
  if (answer <= 0) return def;  // no window (or a stalled loop): the default answer
  if (std::find(data.buttons.begin(), data.buttons.end(), static_cast<int>(answer)) == data.buttons.end()) {
    return data.buttons.back() == IDCANCEL ? IDCANCEL : def;
  }
  return static_cast<int>(answer);
}

}  // namespace ui::detail
