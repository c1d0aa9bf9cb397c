// Image lists: rows of equal-sized images with transparency, per process.
#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

#include "ce/commctrl.h"
#include "ce/errors.h"
#include "ce/module.h"
#include "cesim/window.h"
#include "gdi_image.h"

namespace {

using ui::gdi::Image;
using ui::gdi::ImageRef;

struct ImageList {
  int cx = 0, cy = 0;
  UINT flags = 0;
  COLORREF bk = CLR_NONE;
  std::vector<ImageRef> images;
};

// Images one list may hold.
constexpr size_t kMaxImages = 4096;

struct Lists {
  std::mutex m;
  std::map<uintptr_t, ImageList> live;
  uintptr_t next = 0x1D000001;
};
Lists& L() {
  static Lists* l = new Lists;  // the screen writer reads it at exit
  return *l;
}

// Caller holds the lock.
ImageList* Find(HIMAGELIST himl) {
  auto it = L().live.find(reinterpret_cast<uintptr_t>(himl));
  if (it == L().live.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &it->second;
}

constexpr uint32_t Rgb(COLORREF c) {
  return (static_cast<uint32_t>(GetRValue(c)) << 16) | (static_cast<uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
}

// Cuts a strip into images of cx x cy; `transparent` tells which pixels
// of the strip are see-through.
template <class Transparent>
int AddStrip(HIMAGELIST himl, const Image& strip, Transparent transparent) {
  std::lock_guard<std::mutex> g(L().m);
  ImageList* list = Find(himl);
  if (list == nullptr) return -1;
  const int count = std::max(1, strip.width / list->cx);
  if (list->images.size() + static_cast<size_t>(count) > kMaxImages) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
  const int first = static_cast<int>(list->images.size());
  for (int i = 0; i < count; ++i) {
    auto img = std::make_shared<Image>(ui::gdi::Crop(strip, i * list->cx, 0, list->cx, list->cy, list->cx, list->cy));
    for (int y = 0; y < img->height; ++y)
      for (int x = 0; x < img->width; ++x) {
        const int sx = i * list->cx + x;
        uint32_t& px = img->argb[static_cast<size_t>(y) * static_cast<size_t>(img->width) + static_cast<size_t>(x)];
        if (sx < strip.width && y < strip.height && (list->flags & ILC_MASK) && transparent(sx, y)) px = 0;
      }
    list->images.push_back(std::move(img));
  }
  return first;
}

// Pixels of an icon: the program's icons carry no pixels here, so an icon
// shows as a plain document sign of the list's size.
ImageRef IconImage(int cx, int cy) {
  auto img = std::make_shared<Image>();
  img->width = cx;
  img->height = cy;
  img->argb.assign(static_cast<size_t>(cx) * static_cast<size_t>(cy), 0);
  const int left = cx / 6, right = cx - 1 - cx / 6, top = cy / 10, bottom = cy - 1 - cy / 10;
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x) {
      const bool edge = x == left || x == right || y == top || y == bottom;
      const bool band = y > top + (bottom - top) / 3 && y < top + (bottom - top) / 2 && x > left && x < right;
      img->argb[static_cast<size_t>(y) * static_cast<size_t>(cx) + static_cast<size_t>(x)] =
          edge ? 0xFF1F3F7Fu : band ? 0xFF3F8FDFu : 0xFFFFFFFFu;
    }
  return img;
}

}  // namespace

namespace ui::gdi {

ImageListView ImageListImages(const void* himl) {
  std::lock_guard<std::mutex> g(L().m);
  auto it = L().live.find(reinterpret_cast<uintptr_t>(himl));
  if (it == L().live.end()) return {};
  return ImageListView{it->second.cx, it->second.cy, it->second.images};
}

bool ImageListSize(const void* himl, int* cx, int* cy) {
  std::lock_guard<std::mutex> g(L().m);
  auto it = L().live.find(reinterpret_cast<uintptr_t>(himl));
  if (it == L().live.end()) return false;
  *cx = it->second.cx;
  *cy = it->second.cy;
  return true;
}

void InstallDrawingMetrics() {
  static std::once_flag once;
  std::call_once(once, [] {
    ce::DrawingMetrics m;
    m.textWidth = [](HWND hwnd, std::u16string_view text) {
      HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
      return ce::TextWidth(font, static_cast<int>(text.size()));
    };
    m.imageSize = &ImageListSize;
    ce::SetDrawingMetrics(m);
  });
}

}  // namespace ui::gdi

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int, int) {
  ui::gdi::InstallDrawingMetrics();
  if (cx < 1 || cy < 1 || cx > 256 || cy > 256) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> g(L().m);
  const uintptr_t key = L().next++;
  L().live[key] = ImageList{cx, cy, flags, CLR_NONE, {}};
  return reinterpret_cast<HIMAGELIST>(key);
}

BOOL ImageList_Destroy(HIMAGELIST himl) {
  std::lock_guard<std::mutex> g(L().m);
  if (L().live.erase(reinterpret_cast<uintptr_t>(himl)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

int ImageList_Add(HIMAGELIST himl, HBITMAP image, HBITMAP mask) {
  ImageRef strip = ui::gdi::BitmapImage(image);
  if (!strip) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  ImageRef bits = mask ? ui::gdi::BitmapImage(mask) : nullptr;
  return AddStrip(himl, *strip, [&](int x, int y) {
    return bits && x < bits->width && y < bits->height && (bits->At(x, y) & 0xFFFFFFu) != 0;
  });
}

int ImageList_AddMasked(HIMAGELIST himl, HBITMAP image, COLORREF mask) {
  ImageRef strip = ui::gdi::BitmapImage(image);
  if (!strip) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  const uint32_t key = Rgb(mask);
  return AddStrip(himl, *strip, [&](int x, int y) { return (strip->At(x, y) & 0xFFFFFFu) == key; });
}

int ImageList_ReplaceIcon(HIMAGELIST himl, int i, HICON icon) {
  if (icon == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  std::lock_guard<std::mutex> g(L().m);
  ImageList* list = Find(himl);
  if (list == nullptr) return -1;
  ImageRef img = IconImage(list->cx, list->cy);
  if (i == -1) {
    if (list->images.size() >= kMaxImages) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return -1;
    }
    list->images.push_back(std::move(img));
    return static_cast<int>(list->images.size()) - 1;
  }
  if (i < 0 || static_cast<size_t>(i) >= list->images.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  list->images[static_cast<size_t>(i)] = std::move(img);
  return i;
}

BOOL ImageList_Remove(HIMAGELIST himl, int i) {
  std::lock_guard<std::mutex> g(L().m);
  ImageList* list = Find(himl);
  if (list == nullptr) return FALSE;
  if (i == -1) {
    list->images.clear();
    return TRUE;
  }
  if (i < 0 || static_cast<size_t>(i) >= list->images.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  list->images.erase(list->images.begin() + i);
  return TRUE;
}

int ImageList_GetImageCount(HIMAGELIST himl) {
  std::lock_guard<std::mutex> g(L().m);
  ImageList* list = Find(himl);
  return list ? static_cast<int>(list->images.size()) : 0;
}

BOOL ImageList_GetIconSize(HIMAGELIST himl, int* cx, int* cy) {
  std::lock_guard<std::mutex> g(L().m);
  ImageList* list = Find(himl);
  if (list == nullptr) return FALSE;
  if (cx == nullptr || cy == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *cx = list->cx;
  *cy = list->cy;
  return TRUE;
}

COLORREF ImageList_SetBkColor(HIMAGELIST himl, COLORREF color) {
  std::lock_guard<std::mutex> g(L().m);
  ImageList* list = Find(himl);
  if (list == nullptr) return CLR_NONE;
  return std::exchange(list->bk, color);
}

COLORREF ImageList_GetBkColor(HIMAGELIST himl) {
  std::lock_guard<std::mutex> g(L().m);
  ImageList* list = Find(himl);
  return list ? list->bk : CLR_NONE;
}

BOOL ImageList_Draw(HIMAGELIST himl, int i, HDC hdc, int x, int y, UINT) {
  ui::gdi::ImageListView view = ui::gdi::ImageListImages(himl);
  if (i < 0 || static_cast<size_t>(i) >= view.images.size()) {
    SetLastError(view.cx == 0 ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HWND window = ui::gdi::DrawTarget(hdc);
  if (window == reinterpret_cast<HWND>(-1)) return FALSE;  // not a DC
  if (window)
    ui::gdi::RecordDraw(window, ui::gdi::ImageDraw(RECT{x, y, x + view.cx, y + view.cy}, view.images[static_cast<size_t>(i)]));
  return TRUE;
}
