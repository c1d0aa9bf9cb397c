// The card prompt: a top-most popup that asks for the storage card and
// counts 20 seconds down on a progress bar (StarterFormat.h gives its
// layout and texts).
#pragma once

enum class CardPromptOutcome {
  kNone,           // the loop ended without a decision (told to quit)
  kTimedOut,       // the count reached 0
  kCancelled,      // the cancel button
  kRetry,          // the retry button
  kOtherInstance,  // the registered message "AutoStartRunning"
};

// Shows the prompt and runs its message loop until it closes.
CardPromptOutcome RunCardPrompt();
