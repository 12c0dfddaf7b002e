// The Windows shell around the exhibit core: the main window and its message
// routing, the serial port's control lines, and the screen painting.
#pragma once

#include "exhibit.h"

// ------------------------------------------------------------ main window
ATOM RegisterMainClass(HINSTANCE instance);
BOOL CreateMainWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ------------------------------------------------------------ serial line
// Opens COM1; false (after a warning and a 5 s pause) when it cannot.
bool OpenCommPort();
void CloseCommPort();
// Raises (true) or drops (false) DTR.
void SetDtrLine(bool raised);

// --------------------------------------------------------------- painting
extern const char textInstructions[];
extern const char textPrompt[];

void CreateScreenFonts();
LRESULT HandlePaint();
