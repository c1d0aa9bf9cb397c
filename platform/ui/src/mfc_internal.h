// Shared internals of the class library sources (not installed).
#pragma once

#include "ui/Mfc.h"

// Friend access to CWnd's private binding state.
struct WndAccess {
  // Binds w to h permanently (drops a temporary wrapper of h).
  static void Bind(CWnd* w, HWND h);
  // Removes w's binding (and restores the previous procedure when w had
  // subclassed the window and restore is set).
  static void Unbind(CWnd* w, bool restore);
  static void SetDlgRouted(CWnd* w, bool routed) { w->m_dlgRouted = routed; }
  static bool IsTemporary(const CWnd* w) { return w->m_temporary; }
  // Runs one message through w (a frame for Default), detaching w after
  // WM_DESTROY. *notHandled: the message reached the default processing
  // of a dialog-routed window.
  static LRESULT Dispatch(CWnd* w, HWND h, UINT msg, WPARAM wParam, LPARAM lParam, bool* notHandled);
  // The object the next unknown window reaching AfxWndProc/AfxDlgProc is
  // bound to (set around CreateWindowEx/CreateDialog/DialogBox calls).
  static CWnd*& Pending();
};

namespace ui::detail {
// Installs the WH_MSGFILTER hook that runs PreTranslateMessage for the
// modal loops (once per process).
void EnsureMsgFilterHook();
// Registers the class library's own window class (once per process).
bool RegisterAfxWndClass();
// Drops GDI temporaries whose handles are gone.
void DeleteGdiTemps();
// The application's name for captions (the program name without an app).
std::u16string AppName();
}  // namespace ui::detail
