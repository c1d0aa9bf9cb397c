// Reading a bubble's HTML as plain text and buttons.
#include "shell/bubble_html.h"

#include <cstdint>

namespace ce {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xA0; }

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

std::u16string LowerCopy(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out) c = Lower(c);
  return out;
}

// One decoded entity at s[i] ('&'); advances i past it. An unknown or
// unterminated entity stays as it stands.
std::u16string Entity(std::u16string_view s, size_t* i) {
  size_t semi = s.find(u';', *i);
  if (semi == std::u16string_view::npos || semi - *i > 10) {
    ++*i;
    return u"&";
  }
  std::u16string name = LowerCopy(s.substr(*i + 1, semi - *i - 1));
  std::u16string out;
  if (name == u"amp") out = u"&";
  else if (name == u"lt") out = u"<";
  else if (name == u"gt") out = u">";
  else if (name == u"quot") out = u"\"";
  else if (name == u"apos") out = u"'";
  else if (name == u"nbsp") out = u" ";
  else if (name.size() > 1 && name[0] == u'#') {
    uint32_t v = 0;
    bool hex = name[1] == u'x';
    bool ok = name.size() > (hex ? 2u : 1u);
    for (size_t k = hex ? 2 : 1; k < name.size() && ok; ++k) {
      char16_t c = name[k];
      int d = c >= u'0' && c <= u'9' ? c - u'0' : hex && c >= u'a' && c <= u'f' ? c - u'a' + 10 : -1;
      if (d < 0 || v > 0x10FFFF) ok = false;
      else v = v * (hex ? 16 : 10) + static_cast<uint32_t>(d);
    }
    // Characters beyond the basic plane and controls are not shown.
    if (ok && v >= 0x20 && v < 0xD800) out = std::u16string(1, static_cast<char16_t>(v));
    else if (ok && v >= 0xE000 && v <= 0xFFFD) out = std::u16string(1, static_cast<char16_t>(v));
    else if (!ok) out = u"&" + std::u16string(s.substr(*i + 1, semi - *i));
  } else {
    ++*i;
    return u"&";
  }
  *i = semi + 1;
  return out;
}

// Decodes the entities of an attribute value.
std::u16string Decode(std::u16string_view s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    if (s[i] == u'&') out += Entity(s, &i);
    else out += s[i++];
  }
  return out;
}

struct Tag {
  std::u16string name;  // lower case, without '/'
  bool closing = false;
  std::vector<std::pair<std::u16string, std::u16string>> attributes;  // names in lower case
};

// Reads the tag between '<' and '>' (body excludes both).
Tag ReadTag(std::u16string_view body) {
  Tag t;
  size_t i = 0;
  if (i < body.size() && body[i] == u'/') {
    t.closing = true;
    ++i;
  }
  size_t start = i;
  while (i < body.size() && !IsBlank(body[i]) && body[i] != u'/') ++i;
  t.name = LowerCopy(body.substr(start, i - start));
  for (;;) {
    while (i < body.size() && (IsBlank(body[i]) || body[i] == u'/')) ++i;
    if (i >= body.size()) break;
    start = i;
    while (i < body.size() && !IsBlank(body[i]) && body[i] != u'=' && body[i] != u'/') ++i;
    std::u16string name = LowerCopy(body.substr(start, i - start));
    while (i < body.size() && IsBlank(body[i])) ++i;
    std::u16string value;
    if (i < body.size() && body[i] == u'=') {
      ++i;
      while (i < body.size() && IsBlank(body[i])) ++i;
      if (i < body.size() && (body[i] == u'\'' || body[i] == u'"')) {
        char16_t q = body[i++];
        size_t end = body.find(q, i);
        if (end == std::u16string_view::npos) end = body.size();
        value = Decode(body.substr(i, end - i));
        i = end < body.size() ? end + 1 : end;
      } else {
        start = i;
        while (i < body.size() && !IsBlank(body[i])) ++i;
        value = Decode(body.substr(start, i - start));
      }
    }
    if (!name.empty()) t.attributes.emplace_back(std::move(name), std::move(value));
    if (name.empty() && i == start) ++i;  // a stray character: never stuck
  }
  return t;
}

std::u16string Attribute(const Tag& t, std::u16string_view name) {
  for (const auto& [n, v] : t.attributes)
    if (n == name) return v;
  return {};
}

std::optional<int> CommandOf(std::u16string_view name) {
  if (name.size() < 5 || LowerCopy(name.substr(0, 4)) != u"cmd:") return std::nullopt;
  int v = 0;
  for (char16_t c : name.substr(4)) {
    if (c < u'0' || c > u'9') return std::nullopt;
    v = v * 10 + (c - u'0');
    if (v > 0xFFFF) return std::nullopt;
  }
  return v;
}

// Runs of blanks become one blank; each line is trimmed; empty lines at
// both ends go.
std::u16string Tidy(const std::u16string& raw) {
  std::u16string out, line;
  auto endLine = [&] {
    while (!line.empty() && line.back() == u' ') line.pop_back();
    out += line;
    out += u'\n';
    line.clear();
  };
  for (char16_t c : raw) {
    if (c == u'\n') {
      endLine();
    } else if (IsBlank(c)) {
      if (!line.empty() && line.back() != u' ') line += u' ';
    } else {
      line += c;
    }
  }
  endLine();
  size_t first = out.find_first_not_of(u'\n');
  if (first == std::u16string::npos) return {};
  size_t last = out.find_last_not_of(u'\n');
  return out.substr(first, last - first + 1);
}

}  // namespace

BubbleContent ParseBubbleHtml(std::u16string_view html) {
  BubbleContent c;
  std::u16string raw;
  for (size_t i = 0; i < html.size();) {
    char16_t ch = html[i];
    if (ch == u'&') {
      raw += Entity(html, &i);
      continue;
    }
    if (ch != u'<') {
      raw += IsBlank(ch) ? u' ' : ch;  // source line breaks are blanks
      ++i;
      continue;
    }
    if (html.substr(i, 4) == u"<!--") {
      size_t end = html.find(u"-->", i + 4);
      i = end == std::u16string_view::npos ? html.size() : end + 3;
      continue;
    }
    size_t close = html.find(u'>', i + 1);
    if (close == std::u16string_view::npos) {  // a lone '<' is text
      raw += ch;
      ++i;
      continue;
    }
    Tag t = ReadTag(html.substr(i + 1, close - i - 1));
    i = close + 1;
    if (t.name == u"br" || t.name == u"p" || t.name == u"div" || t.name == u"tr" || t.name == u"li") {
      raw += u'\n';
    } else if (t.name == u"input" && !t.closing && LowerCopy(Attribute(t, u"type")) == u"button") {
      BubbleButton b;
      b.name = Attribute(t, u"name");
      b.label = Attribute(t, u"value");
      b.command = CommandOf(b.name);
      c.buttons.push_back(std::move(b));
    } else if ((t.name == u"script" || t.name == u"style") && !t.closing) {
      size_t end = LowerCopy(html.substr(i)).find(u"</" + t.name);
      i = end == std::u16string::npos ? html.size() : i + end;
    }
  }
  c.text = Tidy(raw);
  return c;
}

}  // namespace ce
