// The base of the engine's backup and restore components: the cancel flag
// that the imaging task sets and the component polls inside its loops.
#pragma once

class AComponent {
 public:
  virtual ~AComponent() = default;
  // Asks the running component to stop at its next check.
  virtual void Cancel() { m_bCancel = true; }
  bool IsCancelled() const { return m_bCancel; }
  void ClearCancel() { m_bCancel = false; }

 protected:
  bool m_bCancel = false;
};
