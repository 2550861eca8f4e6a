// Console output that carries ANSI escape sequences. When NO_COLOR is set
// to a non-empty value the sequences are left out and the text is kept.
// A status line (status_line.h) is erased before the text is written.
#pragma once

void WriteToTerminal(const char *text);
void WriteToTerminalEx(const char *format, ...) __attribute__((format(printf, 1, 2)));
