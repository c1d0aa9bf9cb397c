// Dialog template parser and formatter (ce/dlgtemplate.h).
#include "ce/dlgtemplate.h"

#include <pugixml.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>

#include "ce/numtext.h"
#include "ce/text.h"

namespace ce {
namespace {

class Parser {
 public:
  explicit Parser(std::string* error) : error_(error) {}

  bool Run(const void* data, size_t size, DialogTemplate* out) {
    pugi::xml_document doc;
    const auto r = doc.load_buffer(data, size, pugi::parse_default, pugi::encoding_utf8);
    if (!r) return Fail(std::string("XML error at offset ") + std::to_string(r.offset) + ": " + r.description());
    const pugi::xml_node root = doc.document_element();
    if (!root || std::strcmp(root.name(), "dialog") != 0) return Fail("the top element must be <dialog>");
    for (auto n = root.next_sibling(); n; n = n.next_sibling())
      if (n.type() == pugi::node_element) return Fail("more than one top element");
    where_ = "<dialog>";
    if (!Allowed(root, {"id", "width", "height", "style", "caption", "font"})) return false;
    DialogTemplate d;
    int64_t v;
    if (!Number(root, "id", true, 0, 0xFFFF, &v)) return false;
    d.id = static_cast<int>(v);
    if (!Number(root, "width", true, 0, kMaxTemplateCoordinate, &v)) return false;
    d.width = static_cast<int>(v);
    if (!Number(root, "height", true, 0, kMaxTemplateCoordinate, &v)) return false;
    d.height = static_cast<int>(v);
    v = 0;
    if (!Number(root, "style", false, 0, 0xFFFFFFFFll, &v)) return false;
    d.style = static_cast<DWORD>(v);
    v = kDefaultTemplateFont;
    if (!Number(root, "font", false, 1, 255, &v)) return false;
    d.fontHeight = static_cast<int>(v);
    if (!Text(root, "caption", &d.caption)) return false;

    std::set<int> ids;
    for (const auto& node : root.children()) {
      if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
        return Fail("text inside <dialog>");
      if (node.type() != pugi::node_element) continue;
      if (std::strcmp(node.name(), "control") != 0)
        return Fail(std::string("unknown element <") + node.name() + ">");
      if (d.controls.size() == kMaxTemplateControls)
        return Fail("more than " + std::to_string(kMaxTemplateControls) + " controls");
      where_ = "control " + std::to_string(d.controls.size() + 1);
      ControlTemplate c;
      if (!Control(node, &c)) return false;
      if (c.id != -1 && c.id != 0xFFFF && !ids.insert(c.id).second)
        return Fail("duplicate control id " + std::to_string(c.id));
      d.controls.push_back(std::move(c));
    }
    *out = std::move(d);
    return true;
  }

 private:
  bool Control(const pugi::xml_node& node, ControlTemplate* c) {
    if (!Allowed(node, {"id", "class", "x", "y", "width", "height", "style", "text"})) return false;
    if (node.first_child()) return Fail("<control> takes no content");
    int64_t v;
    if (!Number(node, "id", true, -1, 0xFFFF, &v)) return false;
    c->id = static_cast<int>(v);
    where_ += " (id " + std::to_string(c->id) + ")";
    if (!node.attribute("class")) return Fail("class missing");
    if (!Text(node, "class", &c->className)) return false;
    if (c->className.empty()) return Fail("empty class");
    const int64_t m = kMaxTemplateCoordinate;
    if (!Number(node, "x", true, -m, m, &v)) return false;
    c->x = static_cast<int>(v);
    if (!Number(node, "y", true, -m, m, &v)) return false;
    c->y = static_cast<int>(v);
    if (!Number(node, "width", true, 0, m, &v)) return false;
    c->width = static_cast<int>(v);
    if (!Number(node, "height", true, 0, m, &v)) return false;
    c->height = static_cast<int>(v);
    v = 0;
    if (!Number(node, "style", false, 0, 0xFFFFFFFFll, &v)) return false;
    c->style = static_cast<DWORD>(v);
    return Text(node, "text", &c->text);
  }

  bool Allowed(const pugi::xml_node& node, std::initializer_list<const char*> names) {
    for (const auto& a : node.attributes()) {
      bool ok = false;
      for (const char* n : names) ok = ok || std::strcmp(n, a.name()) == 0;
      if (!ok) return Fail(std::string("unknown attribute ") + a.name());
    }
    return true;
  }

  bool Number(const pugi::xml_node& node, const char* name, bool required, int64_t min, int64_t max,
              int64_t* out) {
    const auto a = node.attribute(name);
    if (!a) return !required || Fail(std::string(name) + " missing");
    if (!ParseInteger(a.value(), min, max, out))
      return Fail(std::string("bad ") + name + " \"" + a.value() + "\" (" + std::to_string(min) + ".." +
                  std::to_string(max) + ")");
    return true;
  }

  bool Text(const pugi::xml_node& node, const char* name, std::u16string* out) {
    const auto a = node.attribute(name);
    if (!a) return true;
    bool bad = false;
    *out = FromUtf8(a.value(), &bad);
    if (bad) return Fail(std::string(name) + " is not valid UTF-8");
    if (out->size() > kMaxTemplateText)
      return Fail(std::string(name) + " longer than " + std::to_string(kMaxTemplateText) + " characters");
    return true;
  }

  bool Fail(const std::string& message) {
    if (error_) *error_ = where_.empty() ? message : where_ + ": " + message;
    return false;
  }

  std::string* error_;
  std::string where_;
};

// An attribute value: markup characters and every control character as
// character references (NUL cannot be carried and is dropped).
void Attr(std::string* o, const char* name, std::u16string_view text) {
  *o += ' ';
  *o += name;
  *o += "=\"";
  for (char c : ToUtf8(text)) {
    switch (c) {
      case '&': *o += "&amp;"; break;
      case '<': *o += "&lt;"; break;
      case '>': *o += "&gt;"; break;
      case '"': *o += "&quot;"; break;
      case '\0': break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) *o += "&#" + std::to_string(static_cast<int>(c)) + ";";
        else *o += c;
    }
  }
  *o += '"';
}

void Attr(std::string* o, const char* name, int64_t v) {
  *o += std::string(" ") + name + "=\"" + std::to_string(v) + "\"";
}

void Style(std::string* o, DWORD style) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(style));
  *o += std::string(" style=\"") + buf + "\"";
}

}  // namespace

bool ParseDialogTemplate(const void* data, size_t size, DialogTemplate* out, std::string* error) {
  if (!data && size) {
    if (error) *error = "no data";
    return false;
  }
  return Parser(error).Run(data ? data : "", size, out);
}

std::string FormatDialogTemplate(const DialogTemplate& d) {
  std::string o = "<dialog";
  Attr(&o, "id", d.id);
  Attr(&o, "width", d.width);
  Attr(&o, "height", d.height);
  Style(&o, d.style);
  Attr(&o, "caption", d.caption);
  Attr(&o, "font", d.fontHeight);
  o += d.controls.empty() ? "/>\n" : ">\n";
  for (const auto& c : d.controls) {
    o += "  <control";
    Attr(&o, "id", c.id);
    Attr(&o, "class", c.className);
    Attr(&o, "x", c.x);
    Attr(&o, "y", c.y);
    Attr(&o, "width", c.width);
    Attr(&o, "height", c.height);
    Style(&o, c.style);
    Attr(&o, "text", c.text);
    o += "/>\n";
  }
  if (!d.controls.empty()) o += "</dialog>\n";
  return o;
}

}  // namespace ce
