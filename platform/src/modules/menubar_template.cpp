// Menu-bar resource parser and formatter (ce/menubar.h).
#include "ce/menubar.h"

#include <pugixml.hpp>

#include <cstring>
#include <initializer_list>

#include "ce/numtext.h"
#include "ce/text.h"

namespace ce {
namespace {

constexpr size_t kMaxText = 256;

class Parser {
 public:
  explicit Parser(std::string* error) : error_(error) {}

  bool Run(const void* data, size_t size, MenuBarTemplate* out) {
    pugi::xml_document doc;
    const auto r = doc.load_buffer(data, size, pugi::parse_default, pugi::encoding_utf8);
    if (!r) return Fail(std::string("XML error at offset ") + std::to_string(r.offset) + ": " + r.description());
    const pugi::xml_node root = doc.document_element();
    if (!root || std::strcmp(root.name(), "menubar") != 0) return Fail("the top element must be <menubar>");
    if (!Allowed(root, {"id"})) return false;
    MenuBarTemplate bar;
    int64_t v = 0;
    if (!Number(root, "id", true, 0, 0xFFFF, &v)) return false;
    bar.id = static_cast<int>(v);
    for (const auto& node : root.children()) {
      if (!Element(node, "<menubar>")) return false;
      if (node.type() != pugi::node_element) continue;
      if (std::strcmp(node.name(), "button") != 0) return Fail(std::string("unknown element <") + node.name() + ">");
      if (bar.buttons.size() == kMaxMenuBarButtons)
        return Fail("more than " + std::to_string(kMaxMenuBarButtons) + " buttons");
      MenuBarButton b;
      if (!Allowed(node, {"id", "text", "string", "menu"}) || !Number(node, "id", true, 0, 0xFFFF, &v)) return false;
      b.id = static_cast<int>(v);
      if (!Label(node, &b.text, &b.stringId)) return false;
      v = 0;
      if (!Number(node, "menu", false, 0, 1, &v)) return false;
      b.hasMenu = v == 1 || static_cast<bool>(node.first_child());
      if (!Items(node, 1, &b.items)) return false;
      bar.buttons.push_back(std::move(b));
    }
    *out = std::move(bar);
    return true;
  }

 private:
  bool Items(const pugi::xml_node& parent, int depth, std::vector<MenuTemplateItem>* out) {
    if (depth > kMaxMenuDepth) return Fail("menus nested deeper than " + std::to_string(kMaxMenuDepth));
    for (const auto& node : parent.children()) {
      if (!Element(node, "a menu")) return false;
      if (node.type() != pugi::node_element) continue;
      if (out->size() == kMaxMenuItems) return Fail("more than " + std::to_string(kMaxMenuItems) + " items in a menu");
      MenuTemplateItem item;
      int64_t v = 0;
      const std::string name = node.name();
      if (name == "separator") {
        if (!Allowed(node, {}) || node.first_child()) return Fail("<separator> takes nothing");
        item.kind = MenuTemplateItem::Kind::Separator;
      } else if (name == "item") {
        if (!Allowed(node, {"id", "text", "string"})) return false;
        if (node.first_child()) return Fail("<item> takes no content");
        if (!Number(node, "id", true, 1, 0xFFFF, &v)) return false;
        item.id = static_cast<int>(v);
        if (!Label(node, &item.text, &item.stringId)) return false;
      } else if (name == "popup") {
        if (!Allowed(node, {"text", "string"}) || !Label(node, &item.text, &item.stringId)) return false;
        item.kind = MenuTemplateItem::Kind::Popup;
        if (!Items(node, depth + 1, &item.items)) return false;
      } else {
        return Fail("unknown element <" + name + ">");
      }
      out->push_back(std::move(item));
    }
    return true;
  }

  bool Element(const pugi::xml_node& node, const char* where) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
      return Fail(std::string("text inside ") + where);
    return true;
  }

  // text or string (exactly one).
  bool Label(const pugi::xml_node& node, std::u16string* text, int* stringId) {
    const auto t = node.attribute("text");
    const auto s = node.attribute("string");
    if (static_cast<bool>(t) == static_cast<bool>(s)) return Fail(std::string("<") + node.name() + "> needs text or string");
    if (s) {
      int64_t v = 0;
      if (!Number(node, "string", true, 1, 0xFFFF, &v)) return false;
      *stringId = static_cast<int>(v);
      return true;
    }
    bool bad = false;
    *text = FromUtf8(t.value(), &bad);
    if (bad) return Fail("text is not valid UTF-8");
    if (text->size() > kMaxText) return Fail("text longer than " + std::to_string(kMaxText) + " characters");
    return true;
  }

  bool Allowed(const pugi::xml_node& node, std::initializer_list<const char*> names) {
    for (const auto& a : node.attributes()) {
      bool ok = false;
      for (const char* n : names) ok = ok || std::strcmp(n, a.name()) == 0;
      if (!ok) return Fail(std::string("unknown attribute ") + a.name() + " of <" + node.name() + ">");
    }
    return true;
  }

  bool Number(const pugi::xml_node& node, const char* name, bool required, int64_t min, int64_t max,
              int64_t* out) {
    const auto a = node.attribute(name);
    if (!a) return !required || Fail(std::string(name) + " missing in <" + node.name() + ">");
    if (!ParseInteger(a.value(), min, max, out))
      return Fail(std::string("bad ") + name + " \"" + a.value() + "\" (" + std::to_string(min) + ".." +
                  std::to_string(max) + ")");
    return true;
  }

  bool Fail(const std::string& message) {
    if (error_) *error_ = message;
    return false;
  }

  std::string* error_;
};

void PutLabel(pugi::xml_node n, const std::u16string& text, int stringId) {
  if (stringId != 0) n.append_attribute("string") = stringId;
  else n.append_attribute("text") = ToUtf8(text).c_str();
}

void PutItems(pugi::xml_node parent, const std::vector<MenuTemplateItem>& items) {
  for (const auto& i : items) {
    switch (i.kind) {
      case MenuTemplateItem::Kind::Separator: parent.append_child("separator"); break;
      case MenuTemplateItem::Kind::Item: {
        pugi::xml_node n = parent.append_child("item");
        n.append_attribute("id") = i.id;
        PutLabel(n, i.text, i.stringId);
        break;
      }
      case MenuTemplateItem::Kind::Popup: {
        pugi::xml_node n = parent.append_child("popup");
        PutLabel(n, i.text, i.stringId);
        PutItems(n, i.items);
        break;
      }
    }
  }
}

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

}  // namespace

bool ParseMenuBarTemplate(const void* data, size_t size, MenuBarTemplate* out, std::string* error) {
  if (!data && size) {
    if (error) *error = "no data";
    return false;
  }
  return Parser(error).Run(data ? data : "", size, out);
}

std::string FormatMenuBarTemplate(const MenuBarTemplate& bar) {
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("menubar");
  root.append_attribute("id") = bar.id;
  for (const auto& b : bar.buttons) {
    pugi::xml_node n = root.append_child("button");
    n.append_attribute("id") = b.id;
    PutLabel(n, b.text, b.stringId);
    if (b.hasMenu && b.items.empty()) n.append_attribute("menu") = 1;
    PutItems(n, b.items);
  }
  StringWriter w;
  doc.save(w, "  ", pugi::format_default | pugi::format_no_declaration, pugi::encoding_utf8);
  return w.out;
}

}  // namespace ce
