// Every question to the operator goes through here, so that -f and -G
// act the same everywhere.
#pragma once

// Returns true for yes. On the console: prints the question and
// " (Y/N) ", then reads single keys (y/Y or n/N; others are ignored).
// End of input answers no. With -G the question goes to a desktop
// dialog when a display is available, else to the console.
bool AskYesNo(const char *format, ...) __attribute__((format(printf, 1, 2)));
