#include "hostlink/KeepAliveConsumer.h"

#include <vector>

namespace {

std::vector<KeepAliveConsumer*>& Stack() {
  static auto* stack = new std::vector<KeepAliveConsumer*>();
  return *stack;
}

}  // namespace

KeepAliveConsumer::KeepAliveConsumer() { Stack().push_back(this); }

KeepAliveConsumer::~KeepAliveConsumer() {
  if (!Stack().empty()) Stack().pop_back();
}

bool KeepAliveConsumer::NotifyNewest() {
  auto& stack = Stack();
  return stack.empty() ? true : stack.back()->KeepAlive();
}
