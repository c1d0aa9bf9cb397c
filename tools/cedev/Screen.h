// cedev's screen commands: screenshot, rotate, the live screen window, and
// the --screen option of run.
#pragma once

namespace cedev {

// cedev screenshot DIR FILE [--scale N]
int CmdScreenshot(int argc, char** argv);
// cedev rotate DIR
int CmdRotate(int argc, char** argv);
// cedev screen DIR [--scale N]
int CmdScreen(int argc, char** argv);
// Removes "--screen" from the leading options of run (argv[2...]); when it
// was there, the started program gets QUILMO_UI=screen. False when
// "--screen" was given to another command than run.
bool TakeScreenOption(int* argc, char** argv);

}  // namespace cedev
