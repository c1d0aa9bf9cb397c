// Names of the screen file DIR/screen.xml: the visible top-level windows of
// the program that wrote it, for the screen front end. Data only.
//
//   <screen width="240" height="320" workTop="26" workBottom="320" scale="1"
//           pid="..." program="\Windows\x.exe">
//     <window hwnd="N" class="#32770" id="231" title="..." x= y= width= height=
//             style="0x.." focus="N" active="1">
//       <control hwnd="N" parent="N" class="EDIT" id="2018" x= y= width= height=
//                style="0x.." text="..." visible="1" enabled="1" checked="0|1|2"
//                pos= min= max= cursel="-1" dropped="0|1" focus="1">
//         <item text="..."/>
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
//     </window>
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
#pragma once

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

// tab and menu items; menu panes
inline constexpr const char* kPane = "pane";
inline constexpr const char* kImage = "image";
inline constexpr const char* kSeparator = "separator";
inline constexpr const char* kPopup = "popup";
inline constexpr const char* kOpen = "open";

inline constexpr char16_t kPasswordMask = u'*';

}  // namespace ui::screen
