// Event template texts that several old steps store, in the escaped text
// form. Macros, so that they join the literals of the statements.
#pragma once

// The description of the data-collection threshold events 4003 to 4011.
#define THRESHOLD_EVENT_DESCRIPTION               \
  "Custom data collection threshold event.#0D#0A" \
  "Parameters:#0D#0A"                             \
  "   1) Parameter name#0D#0A"                    \
  "   2) Item description#0D#0A"                  \
  "   3) Threshold value#0D#0A"                   \
  "   4) Actual value#0D#0A"                      \
  "   5) Data collection item ID#0D#0A"           \
  "   6) Instance"
