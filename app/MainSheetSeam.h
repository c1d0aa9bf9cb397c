// The interactive main window (the property sheet and its pages) lives in
// pages/, above this library; the program installs it before the start-up runs.
#pragma once

class CQuilmoApp;

using MainSheetRunner = void (*)(CQuilmoApp& app);

// Installs the runner CQuilmoApp::RunMainSheet calls; nullptr removes it.
void SetMainSheetRunner(MainSheetRunner runner);
MainSheetRunner GetMainSheetRunner();
