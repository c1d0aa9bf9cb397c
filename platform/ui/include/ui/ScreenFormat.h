// Names of the screen file DIR/screen.xml: the visible top-level windows of
// the program that wrote it, for the screen front end. Data only.
//
//   <screen width="240" height="320" workTop="26" workBottom="320" scale="1"
//           pid="..." program="\Windows\x.exe" cursor="arrow">
//     <window hwnd="N" class="#32770" id="231" title="..." x= y= width= height=
//             style="0x.." focus="N" active="1">
//       <control hwnd="N" parent="N" class="EDIT" id="2018" x= y= width= height=
//                style="0x.." text="..." visible="1" enabled="1" checked="0|1|2"
//                pos= min= max= cursel="-1" dropped="0|1" focus="1">
//         <item text="..."/>
//         <column text="..." width="170"/>          (list views)
//         <row icon="K" selected="0|1" focused="0|1"><cell text="..."/>...</row>
//         <draw kind="image" x= y= x2= y2= image="K"/>  (what the program drew)
//       </control>
//       <control class="SysTabControl32" ... cursel="0">
//         <item text="Backup" image="0" x= y= width= height=/>   one per tab
//       </control>
//       <control class="menu_worker" ...>   the menu bar, grown over open menus
//         <item text="Menu" x= y= width= height= popup="1" open="1"/>  buttons
//         <pane x= y= width= height=>     each open menu, outermost first
//           <item id="32818" text="About" x= y= width= height= enabled="1"
//                 checked="0" separator="0" popup="0" open="0"/>
//         </pane>
//       </control>
//       <draw .../>
//     </window>
//     <image key="K" width= height= rgba="base64 of R,G,B,A bytes, rows top down"/>
//   </screen>
//
// Windows come bottom to top; controls in creation order, depth first
// (controls of a child dialog follow it, their parent="N" names it). All
// coordinates are screen pixels. Only visible top-level windows are
// written; a control is written with visible="0" when it or an ancestor is
// hidden. checked/pos/min/max/cursel/dropped appear only for the controls
// that have them (buttons; progress bars and up-down controls; combo and
// list boxes). An EDIT with ES_PASSWORD has its text replaced by as many
// '*'. focus="N" on a window is the handle of the focus control (0: none).
//
// A tree view ("SysTreeView32") writes its rows in view and their layout:
//   <control class="SysTreeView32" ... top="0" total="12" inview="8"
//            indent="16" itemheight="18" statewidth="16" imagewidth="16"
//            scrollbar="12">
//     <row text="..." level="0" x="16" image="3" icon="K" state="2"
//          button="0|1|2" selected="0|1"/>
//   </control>
// Row k (from 0) fills y = k * itemheight of the control's client area; an
// item starts at x (its expand button, 1 closed / 2 open, in the indent
// before it), then its state image (statewidth; 1 unchecked, 2 checked,
// 3 partial, 0 none), its image (imagewidth; the selected image for the
// selected row) and its label. image= is the index in the tree's image
// list, icon= names the <image> of that picture (absent: no picture).
// statewidth/imagewidth 0: no such column; scrollbar: the width of the
// scroll bar at the right edge (0: none).
//
// A list view ("SysListView32") gives top= (first row shown),
// headerHeight= and rowHeight= (pixels), its <column>s and <row>s; a row's
// icon names an <image>. A <row> means a tree row inside a tree view and a
// list row inside a list view; top= and selected= likewise follow the
// control's class.
//
// <draw> elements (of a <window> or a <control>) are what the window's
// last paint drew and whatever was drawn on it since, in screen pixels,
// oldest first; a window's drawings lie under its controls. x= y= x2= y2=
// give a line from (x, y) to (x2, y2), or the rectangle from (x, y) to
// (x2, y2) that is filled, outlined, holds the text (format: DT_*
// alignment) or the image (image= names an <image>, drawn at its own size).
// Each <image> is written once and may be named by any number of rows and
// drawings.
#pragma once

#include <cstddef>

namespace ui::screen {

inline constexpr const char* kFileName = "screen.xml";

inline constexpr const char* kScreen = "screen";
inline constexpr const char* kWindow = "window";
inline constexpr const char* kControl = "control";
inline constexpr const char* kItem = "item";

// <screen>
inline constexpr const char* kWidth = "width";
inline constexpr const char* kHeight = "height";
inline constexpr const char* kWorkTop = "workTop";
inline constexpr const char* kWorkBottom = "workBottom";
inline constexpr const char* kScale = "scale";
inline constexpr const char* kPid = "pid";
inline constexpr const char* kProgram = "program";
inline constexpr const char* kCursor = "cursor";  // the program's cursor: "arrow", "wait", "hand" ... ("" none)

// <window> and <control>
inline constexpr const char* kHwnd = "hwnd";
inline constexpr const char* kParent = "parent";
inline constexpr const char* kClass = "class";
inline constexpr const char* kId = "id";
inline constexpr const char* kTitle = "title";
inline constexpr const char* kX = "x";
inline constexpr const char* kY = "y";
inline constexpr const char* kStyle = "style";  // "0x%08X"
inline constexpr const char* kFocus = "focus";
inline constexpr const char* kActive = "active";
inline constexpr const char* kText = "text";
inline constexpr const char* kVisible = "visible";
inline constexpr const char* kEnabled = "enabled";
inline constexpr const char* kChecked = "checked";
inline constexpr const char* kPos = "pos";
inline constexpr const char* kMin = "min";
inline constexpr const char* kMax = "max";
inline constexpr const char* kCurSel = "cursel";
inline constexpr const char* kDropped = "dropped";

// What the program set on a control and drew on windows (GDI):
//   <control ... textColor="#RRGGBB" fontHeight="16" bold="1" underline="1">
//     <draw kind="line|fill|frame|text|image" x= y= x2= y2= color="#RRGGBB"
//           text="..." format="0x.." fontHeight= bold= underline= image="K"/>
// textColor is the colour a static's parent set in its WM_CTLCOLORSTATIC
// answer at the static's last paint (absent when it set none); the font
// attributes appear when the control has a font set (WM_SETFONT).
inline constexpr const char* kTextColor = "textColor";
inline constexpr const char* kFontHeight = "fontHeight";
inline constexpr const char* kBold = "bold";
inline constexpr const char* kUnderline = "underline";
inline constexpr const char* kDraw = "draw";
inline constexpr const char* kKind = "kind";
inline constexpr const char* kX2 = "x2";
inline constexpr const char* kY2 = "y2";
inline constexpr const char* kColor = "color";
inline constexpr const char* kFormat = "format";
inline constexpr const char* kDrawLine = "line";
inline constexpr const char* kDrawFill = "fill";
inline constexpr const char* kDrawFrame = "frame";
inline constexpr const char* kDrawText = "text";
inline constexpr const char* kDrawImage = "image";

// control classes whose children and attributes are their own
inline constexpr const char16_t* kTreeViewClass = u"SysTreeView32";
inline constexpr const char16_t* kListViewClass = u"SysListView32";

// tree views and list views
inline constexpr const char* kRow = "row";
inline constexpr const char* kTop = "top";
inline constexpr const char* kImage = "image";
inline constexpr const char* kIcon = "icon";
inline constexpr const char* kSelected = "selected";

// tree views
inline constexpr const char* kTotal = "total";
inline constexpr const char* kInView = "inview";
inline constexpr const char* kIndent = "indent";
inline constexpr const char* kItemHeight = "itemheight";
inline constexpr const char* kStateWidth = "statewidth";
inline constexpr const char* kImageWidth = "imagewidth";
inline constexpr const char* kScrollBar = "scrollbar";
inline constexpr const char* kLevel = "level";
inline constexpr const char* kState = "state";
inline constexpr const char* kButton = "button";
// tab and menu items (tabs take kImage above); menu panes
inline constexpr const char* kPane = "pane";
inline constexpr const char* kSeparator = "separator";
inline constexpr const char* kPopup = "popup";
inline constexpr const char* kOpen = "open";

// list views and images
inline constexpr const char* kColumn = "column";
inline constexpr const char* kCell = "cell";
inline constexpr const char* kHeaderHeight = "headerHeight";
inline constexpr const char* kRowHeight = "rowHeight";
inline constexpr const char* kFocused = "focused";
inline constexpr const char* kKey = "key";
inline constexpr const char* kRgba = "rgba";

// What a reader accepts of images, and so what a writer leaves out (a
// drawing whose image is larger, or past the budget, is not written).
inline constexpr int kMaxImageSide = 1024;
inline constexpr size_t kMaxImagePixels = 512u * 1024;  // all images of a file together

inline constexpr char16_t kPasswordMask = u'*';

}  // namespace ui::screen
