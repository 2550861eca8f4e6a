// The last line of a terminal as the place of a transient status, drawn
// over itself and erased before other output (WriteToTerminal erases it),
// so that what the program prints reads the same with or without it. It
// is drawn with carriage returns and spaces, no escape sequences, on
// standard output. Callers decide whether standard output is a terminal.
#pragma once

#include <string>

// Draws text over the status line, cut to the terminal's width so that it
// never wraps; the cursor stays after it.
void DrawStatusLine(const std::string &text);
// Erases a drawn status line and leaves the cursor at the start of that
// line; does nothing when none is drawn.
void EraseStatusLine();
bool StatusLineDrawn();
