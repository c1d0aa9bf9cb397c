// Resource source (XML) -> resources.
//
//   <resources [language="0x0409"]>
//     <string id="N">text</string>        the text exactly as written; XML
//                                         escapes and character references
//                                         (&#10; for a line break) only
//     <version [id="1"] [fileversion="1.0.0.1"] [productversion="..."]
//              [filetype="app|dll"]>
//       <CompanyName>...</CompanyName>    any element: one string of the
//       ...                               table, in file order
//     </version>
//     <bitmap id="N" file="x.bmp"/>       a BMP file, stored as the device
//                                         stores it: without the 14-byte
//                                         file header
//     <rcdata id="N" file="x.bin"/>       raw bytes
//     <resource type="N|TEMPLATE|..." id="N" file="x"/>   any type
//     <dialog id="N" width="W" height="H" [style="..."] [caption="..."]
//             [font="13"]>                a dialog template (kTypeTemplate,
//       <control [id="N"] class="edit" x="X" y="Y" width="W" height="H"
//                [style="ES_PASSWORD|WS_TABSTOP"] [text="..."]/>
//     </dialog>                           stored in the canonical form of
//                                         ce/dlgtemplate.h; class and style
//                                         words: dialog_words.h; controls
//                                         get WS_CHILD|WS_VISIBLE unless
//                                         "hidden"; id defaults to -1
//   </resources>
//
// id is decimal or 0x-hex, 1..65535 (strings 0..65535); bitmap, rcdata and
// resource may carry name="NAME" instead of an id. Every element may carry
// language. Files are relative to the source's folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ce/rescontainer.h"

namespace rescomp {

// Values for a version block the source does not give.
struct VersionDefaults {
  bool haveNumbers = false;
  uint16_t numbers[4] = {};
  std::string deviceName;  // e.g. "QuilmoStart.exe"; empty: none
  std::string fileType;    // "app" / "dll"; empty: from deviceName
};

bool CompileSource(const std::filesystem::path& source, const VersionDefaults& defaults,
                   std::vector<ce::res::Resource>* out, std::string* error);

// A version resource made from the defaults alone (no source, or a source
// without <version>); false when the defaults hold no numbers.
bool DefaultVersionResource(const VersionDefaults& defaults, ce::res::Resource* out,
                            std::string* error);

}  // namespace rescomp
