#include "compiler.h"

#include <pugixml.hpp>

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "ce/controls.h"
#include "ce/dlgtemplate.h"
#include "ce/numtext.h"
#include "ce/text.h"
#include "ce/window.h"
#include "dialog_words.h"
#include "ce/menubar.h"
#include "version.h"

namespace rescomp {
namespace {

using ce::res::Resource;

// Strict UTF-8 -> UTF-16; false on malformed input.
bool Utf8To16(std::string_view s, std::u16string* out) {
  bool invalid = false;
  *out = ce::FromUtf8(s, &invalid);
  return !invalid;
}

// Unsigned decimal or 0x-hex of at most ten characters, prefix included.
bool ParseNumber(const char* text, uint32_t max, uint32_t* out) {
  const std::string_view s(text);
  int64_t v;
  if (s.size() > 10 || !ce::ParseInteger(s, 0, max, &v, false)) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// "app" / "dll"; empty: "dll" when the device name ends in ".dll".
bool FileType(const std::string& type, const std::string& deviceName, uint32_t* out) {
  std::string t = type;
  if (t.empty()) {
    std::string ext = deviceName.size() > 4 ? deviceName.substr(deviceName.size() - 4) : "";
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    t = ext == ".dll" ? "dll" : "app";
  }
  if (t == "app") *out = kFileTypeApp;
  else if (t == "dll") *out = kFileTypeDll;
  else return false;
  return true;
}

// The standard strings the source left out: the version texts from the
// numbers, and, when a device name is known, the others from it.
void AddDefaultStrings(const VersionDefaults& d, const std::set<std::string>& seen, VersionSpec* spec) {
  std::string stem = d.deviceName;
  if (auto dot = stem.rfind('.'); dot != std::string::npos) stem.erase(dot);
  for (const char* key : kStandardKeys) {
    if (seen.count(key)) continue;
    const std::string k = key;
    std::u16string value;
    if (k == "FileVersion") value = VersionText(spec->fileVersion);
    else if (k == "ProductVersion") value = VersionText(spec->productVersion);
    else if (d.deviceName.empty()) continue;
    else if (k == "CompanyName") Utf8To16("Quilmo", &value);
    else if (k == "ProductName") Utf8To16("Quilmo Backup", &value);
    else if (k == "LegalCopyright") Utf8To16("Copyright (C) Quilmo", &value);
    else if (k == "OriginalFilename") Utf8To16(d.deviceName, &value);
    else Utf8To16(stem, &value);  // FileDescription, InternalName
    spec->strings.emplace_back(std::u16string(k.begin(), k.end()), std::move(value));
  }
}

class Compiler {
 public:
  Compiler(const std::filesystem::path& source, const VersionDefaults& defaults)
      : source_(source), defaults_(defaults) {}

  bool Run(std::vector<Resource>* out, std::string* error) {
    if (!Load()) return Fail(error);
    out->insert(out->end(), resources_.begin(), resources_.end());
    return true;
  }

 private:
  bool Load() {
    std::ifstream in(source_, std::ios::binary);
    if (!in || !std::filesystem::is_regular_file(source_)) {
      error_ = source_.string() + ": cannot open the source file";
      return false;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    text_ = ss.str();
    pugi::xml_document doc;
    const auto r = doc.load_buffer(text_.data(), text_.size(),
                                   pugi::parse_default | pugi::parse_ws_pcdata_single,
                                   pugi::encoding_utf8);
    if (!r) return Error(static_cast<size_t>(r.offset), std::string("XML error: ") + r.description());
    const pugi::xml_node root = doc.document_element();
    if (!root) return Error(0, "the document has no element");
    if (std::strcmp(root.name(), "resources") != 0)
      return Error(root, std::string("the top element must be <resources>, not <") + root.name() + ">");
    for (const auto& a : root.attributes())
      if (std::strcmp(a.name(), "language") != 0) return UnexpectedAttribute(root, a);
    if (!Language(root, ce::res::kDefaultLanguage, &language_)) return false;
    for (const auto& node : root.children()) {
      if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
        return Error(node, "text outside an element");
      if (node.type() != pugi::node_element) continue;
      const std::string name = node.name();
      bool ok;
      if (name == "string") ok = String(node);
      else if (name == "version") ok = Version(node);
      else if (name == "bitmap") ok = FileResource(node, ce::res::kTypeBitmap, false);
      else if (name == "rcdata") ok = FileResource(node, ce::res::kTypeRcData, false);
      else if (name == "dialog") ok = Dialog(node);
      else if (name == "menubar") ok = MenuBar(node);
      else if (name == "resource") ok = FileResource(node, 0, true);
      else ok = Error(node, "unknown element <" + name + ">");
      if (!ok) return false;
    }
    return true;
  }

  bool String(const pugi::xml_node& node) {
    if (!CheckAttributes(node, {"id", "language"})) return false;
    uint32_t id = 0;
    uint16_t language = 0;
    if (!Id(node, 0, &id) || !Language(node, language_, &language)) return false;
    std::string text;
    if (!TextOnly(node, &text)) return false;
    std::u16string t;
    if (!Utf8To16(text, &t)) return Error(node, "the text is not valid UTF-8");
    Resource r = ce::res::StringResource(id, t);
    r.language = language;
    return Add(node, std::move(r));
  }

  bool Version(const pugi::xml_node& node) {
    if (!CheckAttributes(node, {"id", "language", "fileversion", "productversion", "filetype"}))
      return false;
    Resource r;
    r.type = ce::res::kTypeVersion;
    r.id = 1;
    if (node.attribute("id") && !Id(node, 1, &r.id)) return false;
    if (!Language(node, language_, &r.language)) return false;
    VersionSpec spec;
    spec.language = r.language;
    bool haveFile = defaults_.haveNumbers, haveProduct = defaults_.haveNumbers;
    for (int i = 0; i < 4; ++i) spec.fileVersion[i] = spec.productVersion[i] = defaults_.numbers[i];
    if (auto a = node.attribute("fileversion")) {
      if (!ParseVersionNumbers(a.value(), spec.fileVersion))
        return Error(node, std::string("bad fileversion \"") + a.value() + "\" (expected 1.2.3.4)");
      haveFile = true;
      if (!node.attribute("productversion")) {
        for (int i = 0; i < 4; ++i) spec.productVersion[i] = spec.fileVersion[i];
        haveProduct = true;
      }
    }
    if (auto a = node.attribute("productversion")) {
      if (!ParseVersionNumbers(a.value(), spec.productVersion))
        return Error(node, std::string("bad productversion \"") + a.value() + "\" (expected 1.2.3.4)");
      haveProduct = true;
    }
    if (!haveFile || !haveProduct) return Error(node, "<version> needs fileversion");
    std::string type = node.attribute("filetype") ? node.attribute("filetype").value() : defaults_.fileType;
    if (!FileType(type, defaults_.deviceName, &spec.fileType))
      return Error(node, "filetype must be \"app\" or \"dll\"");

    std::set<std::string> seen;
    for (const auto& child : node.children()) {
      if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
        return Error(child, "text outside a string element in <version>");
      if (child.type() != pugi::node_element) continue;
      if (child.first_attribute()) return UnexpectedAttribute(child, child.first_attribute());
      if (!seen.insert(child.name()).second)
        return Error(child, std::string("duplicate <") + child.name() + ">");
      std::string text;
      if (!TextOnly(child, &text)) return false;
      std::u16string key, value;
      if (!Utf8To16(child.name(), &key) || !Utf8To16(text, &value))
        return Error(child, "the text is not valid UTF-8");
      spec.strings.emplace_back(std::move(key), std::move(value));
    }
    AddDefaultStrings(defaults_, seen, &spec);
    std::string error;
    if (!BuildVersionBlob(spec, &r.data, &error)) return Error(node, error);
    return Add(node, std::move(r));
  }

  // <dialog>: stored as a kTypeTemplate resource in the canonical form.
  bool Dialog(const pugi::xml_node& node) {
    if (!CheckAttributes(node, {"id", "width", "height", "style", "caption", "font", "language"})) return false;
    Resource r;
    r.type = ce::res::kTypeTemplate;
    if (!Id(node, 1, &r.id) || !Language(node, language_, &r.language)) return false;
    ce::DialogTemplate d;
    d.id = static_cast<int>(r.id);
    const int64_t m = ce::kMaxTemplateCoordinate;
    int64_t v;
    if (!Int(node, "width", true, 0, m, &v)) return false;
    d.width = static_cast<int>(v);
    if (!Int(node, "height", true, 0, m, &v)) return false;
    d.height = static_cast<int>(v);
    v = ce::kDefaultTemplateFont;
    if (!Int(node, "font", false, 1, 255, &v)) return false;
    d.fontHeight = static_cast<int>(v);
    if (!TemplateText(node, "caption", &d.caption)) return false;
    if (auto a = node.attribute("style")) {
      StyleWords words;
      std::string error;
      if (!ParseStyleWords(a.value(), u"", &words, &error)) return Error(node, error);
      d.style = words.style | (words.disabled ? WS_DISABLED : 0);
      if (words.hidden) d.style &= ~WS_VISIBLE;
    }
    std::map<int, ptrdiff_t> ids;
    for (const auto& c : node.children()) {
      if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) return Error(c, "text inside <dialog>");
      if (c.type() != pugi::node_element) continue;
      if (std::strcmp(c.name(), "control") != 0) return Error(c, std::string("unknown element <") + c.name() + ">");
      if (d.controls.size() == ce::kMaxTemplateControls)
        return Error(c, "more than " + std::to_string(ce::kMaxTemplateControls) + " controls in a dialog");
      ce::ControlTemplate ct;
      if (!Control(c, &ct)) return false;
      if (ct.id != -1 && ct.id != 0xFFFF && !ids.insert({ct.id, c.offset_debug()}).second)
        return Error(c, "duplicate control id " + std::to_string(ct.id) + " (first at line " +
                            std::to_string(Line(static_cast<size_t>(ids[ct.id]))) + ")");
      d.controls.push_back(std::move(ct));
    }
    r.data = ce::FormatDialogTemplate(d);
    ce::DialogTemplate check;
    std::string error;
    if (!ce::ParseDialogTemplate(r.data.data(), r.data.size(), &check, &error)) return Error(node, error);
    return Add(node, std::move(r));
  }

  // <menubar>: checked and stored as a kTypeMenuBar resource in the
  // canonical form (ce/menubar.h).
  bool MenuBar(const pugi::xml_node& node) {
    Resource r;
    r.type = ce::res::kTypeMenuBar;
    if (!Id(node, 1, &r.id) || !Language(node, language_, &r.language)) return false;
    pugi::xml_document copy;
    pugi::xml_node bar = copy.append_copy(node);
    bar.remove_attribute("language");
    struct Writer : pugi::xml_writer {
      std::string out;
      void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
    } text;
    copy.save(text, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    ce::MenuBarTemplate t;
    std::string error;
    if (!ce::ParseMenuBarTemplate(text.out.data(), text.out.size(), &t, &error)) return Error(node, error);
    const std::string canonical = ce::FormatMenuBarTemplate(t);
    r.data.assign(canonical.begin(), canonical.end());
    return Add(node, std::move(r));
  }

  bool Control(const pugi::xml_node& node, ce::ControlTemplate* c) {
    if (!CheckAttributes(node, {"id", "class", "x", "y", "width", "height", "style", "text"})) return false;
    if (!node.first_child().empty()) return Error(node, "<control> takes no content");
    int64_t v = -1;
    if (!Int(node, "id", false, -1, 0xFFFF, &v)) return false;
    c->id = static_cast<int>(v);
    const auto cls = node.attribute("class");
    if (!cls) return Error(node, "<control> needs class");
    ClassWord word;
    if (!ControlClass(cls.value(), &word)) return Error(node, std::string("unknown control class \"") + cls.value() + "\"");
    c->className = word.windowClass;
    const int64_t m = ce::kMaxTemplateCoordinate;
    if (!Int(node, "x", true, -m, m, &v)) return false;
    c->x = static_cast<int>(v);
    if (!Int(node, "y", true, -m, m, &v)) return false;
    c->y = static_cast<int>(v);
    if (!Int(node, "width", true, 0, m, &v)) return false;
    c->width = static_cast<int>(v);
    if (!Int(node, "height", true, 0, m, &v)) return false;
    c->height = static_cast<int>(v);
    StyleWords words;
    if (auto a = node.attribute("style")) {
      std::string error;
      if (!ParseStyleWords(a.value(), c->className, &words, &error)) return Error(node, error);
    }
    c->style = word.style | words.style | WS_CHILD | (words.disabled ? WS_DISABLED : 0);
    if (words.hidden) c->style &= ~WS_VISIBLE;
    else c->style |= WS_VISIBLE;
    return TemplateText(node, "text", &c->text);
  }

  // A signed decimal or 0x-hex attribute within [min, max].
  bool Int(const pugi::xml_node& node, const char* name, bool required, int64_t min, int64_t max, int64_t* out) {
    const auto a = node.attribute(name);
    if (!a) return !required || Error(node, std::string("<") + node.name() + "> needs " + name);
    const std::string s = a.value();
    uint32_t u;
    bool ok;
    if (!s.empty() && s[0] == '-') {
      ok = s.size() > 1 && s[1] != '0' && s[1] != '-' && ParseNumber(s.c_str() + 1, 0x7FFFFFFF, &u);
      *out = -static_cast<int64_t>(u);
    } else {
      ok = ParseNumber(s.c_str(), 0xFFFFFFFF, &u);
      *out = u;
    }
    if (!ok || *out < min || *out > max)
      return Error(node, std::string("bad ") + name + " \"" + s + "\" (" + std::to_string(min) + ".." +
                             std::to_string(max) + ")");
    return true;
  }

  bool TemplateText(const pugi::xml_node& node, const char* name, std::u16string* out) {
    out->clear();
    const auto a = node.attribute(name);
    if (!a) return true;
    if (!Utf8To16(a.value(), out)) return Error(node, std::string(name) + " is not valid UTF-8");
    if (out->size() > ce::kMaxTemplateText)
      return Error(node, std::string(name) + " is longer than " + std::to_string(ce::kMaxTemplateText) +
                             " characters");
    return true;
  }

  bool FileResource(const pugi::xml_node& node, uint32_t type, bool generic) {
    if (!CheckAttributes(node, generic ? std::vector<std::string>{"type", "id", "name", "file", "language"}
                                       : std::vector<std::string>{"id", "name", "file", "language"}))
      return false;
    Resource r;
    r.type = type;
    if (generic && !Type(node, &r.type)) return false;
    const bool named = node.attribute("name");
    if (named == static_cast<bool>(node.attribute("id")))
      return Error(node, std::string("<") + node.name() + "> needs either id or name");
    if (named) {
      const std::string name = node.attribute("name").value();
      bool ok = !name.empty() && name.size() <= ce::res::kMaxNameLength;
      for (char c : name) ok = ok && c > 0x20 && c < 0x7F;
      if (!ok) return Error(node, "bad name \"" + name + "\" (1 to 255 printable ASCII characters, no blanks)");
      r.name.assign(name.begin(), name.end());
    } else if (!Id(node, 1, &r.id)) {
      return false;
    }
    if (!Language(node, language_, &r.language)) return false;
    if (!node.attribute("file")) return Error(node, std::string("<") + node.name() + "> needs file");
    if (!node.first_child().empty()) return Error(node, std::string("<") + node.name() + "> takes no content");
    std::filesystem::path file = node.attribute("file").value();
    if (file.is_relative()) file = source_.parent_path() / file;
    std::ifstream in(file, std::ios::binary);
    if (!in || !std::filesystem::is_regular_file(file)) return Error(node, "cannot read \"" + file.string() + "\"");
    std::stringstream ss;
    ss << in.rdbuf();
    r.data = ss.str();
    if (r.type == ce::res::kTypeBitmap) {
      // The device keeps the bitmap info and bits, not the file header.
      if (r.data.size() < 14 + 40 || r.data.compare(0, 2, "BM") != 0)
        return Error(node, "\"" + file.string() + "\" is not a BMP file");
      r.data.erase(0, 14);
    }
    return Add(node, std::move(r));
  }

  bool Type(const pugi::xml_node& node, uint32_t* out) {
    const auto a = node.attribute("type");
    if (!a) return Error(node, "<resource> needs type");
    static const std::map<std::string, uint32_t> kNames = {
        {"BITMAP", ce::res::kTypeBitmap}, {"DIALOG", ce::res::kTypeDialog},
        {"STRING", ce::res::kTypeString}, {"RCDATA", ce::res::kTypeRcData},
        {"VERSION", ce::res::kTypeVersion}, {"TEMPLATE", ce::res::kTypeTemplate}};
    if (auto it = kNames.find(a.value()); it != kNames.end()) *out = it->second;
    else if (!ParseNumber(a.value(), 0xFFFF, out) || *out == 0)
      return Error(node, std::string("bad type \"") + a.value() + "\"");
    if (*out == ce::res::kTypeString || *out == ce::res::kTypeVersion)
      return Error(node, "use <string> or <version> for this type");
    return true;
  }

  bool Id(const pugi::xml_node& node, uint32_t min, uint32_t* out) {
    const auto a = node.attribute("id");
    if (!a) return Error(node, std::string("<") + node.name() + "> needs id");
    if (!ParseNumber(a.value(), 0xFFFF, out) || *out < min)
      return Error(node, std::string("bad id \"") + a.value() + "\" (" + std::to_string(min) + "..65535)");
    return true;
  }

  bool Language(const pugi::xml_node& node, uint16_t inherited, uint16_t* out) {
    const auto a = node.attribute("language");
    if (!a) {
      *out = inherited;
      return true;
    }
    uint32_t v;
    if (!ParseNumber(a.value(), 0xFFFF, &v))
      return Error(node, std::string("bad language \"") + a.value() + "\"");
    *out = static_cast<uint16_t>(v);
    return true;
  }

  bool TextOnly(const pugi::xml_node& node, std::string* out) {
    out->clear();
    for (const auto& c : node.children()) {
      if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) *out += c.value();
      else if (c.type() == pugi::node_element)
        return Error(c, std::string("<") + node.name() + "> holds text only");
    }
    return true;
  }

  bool CheckAttributes(const pugi::xml_node& node, const std::vector<std::string>& allowed) {
    for (const auto& a : node.attributes()) {
      bool ok = false;
      for (const auto& n : allowed) ok = ok || n == a.name();
      if (!ok) return UnexpectedAttribute(node, a);
    }
    return true;
  }

  bool UnexpectedAttribute(const pugi::xml_node& node, const pugi::xml_attribute& a) {
    return Error(node, std::string("unexpected attribute ") + a.name() + " on <" + node.name() + ">");
  }

  bool Add(const pugi::xml_node& node, Resource r) {
    std::string key = std::to_string(r.type) + "/" + std::to_string(r.id) + "/" +
                      std::string(r.name.begin(), r.name.end()) + "/" + std::to_string(r.language);
    for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!keys_.insert({key, node.offset_debug()}).second) {
      return Error(node, std::string("duplicate <") + node.name() + "> (first at line " +
                             std::to_string(Line(static_cast<size_t>(keys_[key]))) + ")");
    }
    resources_.push_back(std::move(r));
    return true;
  }

  size_t Line(size_t offset) const {
    size_t line = 1;
    for (size_t i = 0; i < offset && i < text_.size(); ++i) line += text_[i] == '\n';
    return line;
  }

  bool Error(size_t offset, const std::string& message) {
    error_ = source_.string() + ":" + std::to_string(Line(offset)) + ": " + message;
    return false;
  }
  bool Error(const pugi::xml_node& node, const std::string& message) {
    return Error(static_cast<size_t>(node.offset_debug() < 0 ? 0 : node.offset_debug()), message);
  }
  bool Fail(std::string* error) {
    *error = error_;
    return false;
  }

  std::filesystem::path source_;
  VersionDefaults defaults_;
  std::string text_;
  std::string error_;
  uint16_t language_ = ce::res::kDefaultLanguage;
  std::vector<Resource> resources_;
  std::map<std::string, ptrdiff_t> keys_;
};

}  // namespace

bool CompileSource(const std::filesystem::path& source, const VersionDefaults& defaults,
                   std::vector<Resource>* out, std::string* error) {
  return Compiler(source, defaults).Run(out, error);
}

bool DefaultVersionResource(const VersionDefaults& defaults, Resource* out, std::string* error) {
  if (!defaults.haveNumbers) {
    *error = "no version numbers for the default version block";
    return false;
  }
  VersionSpec spec;
  for (int i = 0; i < 4; ++i) spec.fileVersion[i] = spec.productVersion[i] = defaults.numbers[i];
  if (!FileType(defaults.fileType, defaults.deviceName, &spec.fileType)) {
    *error = "file type must be \"app\" or \"dll\"";
    return false;
  }
  AddDefaultStrings(defaults, {}, &spec);
  out->type = ce::res::kTypeVersion;
  out->id = 1;
  out->language = ce::res::kDefaultLanguage;
  return BuildVersionBlob(spec, &out->data, error);
}

}  // namespace rescomp
