// Objects that keep the user interface alive while a long wait runs on the
// one thread of the program (the host link's connect loop is one such
// wait). Consumers form a process-wide stack: the newest one answers.
#pragma once

class KeepAliveConsumer {
 public:
  // Pushes this object on the stack.
  KeepAliveConsumer();
  // Pops the newest entry.
  virtual ~KeepAliveConsumer();
  KeepAliveConsumer(const KeepAliveConsumer&) = delete;
  KeepAliveConsumer& operator=(const KeepAliveConsumer&) = delete;

  // Called while a wait goes on; false asks the waiter to give up.
  virtual bool KeepAlive() = 0;

  // True with no consumer; otherwise the newest consumer's KeepAlive.
  static bool NotifyNewest();
};
