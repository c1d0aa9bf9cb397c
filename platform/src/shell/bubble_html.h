// The little HTML of a notification bubble, read as plain text and buttons
// (private to the platform).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ce {

struct BubbleButton {
  std::u16string name;         // the name attribute: "cmd:123"
  std::u16string label;        // the value attribute
  std::optional<int> command;  // 123 for "cmd:123" (0..65535); none for other names
};

struct BubbleContent {
  std::u16string text;  // tags dropped, breaks and paragraphs as '\n', entities decoded
  std::vector<BubbleButton> buttons;  // <input type=button ...> in order
};

// Never fails: what it cannot read stays text or is dropped. Blanks run
// together as in HTML; lines are trimmed; empty lines at either end go.
BubbleContent ParseBubbleHtml(std::u16string_view html);

}  // namespace ce
