// Text from outside (a file, a packet) shown on a terminal or in the log:
// control characters (C0, DEL and the C1 range in UTF-8) become \xNN, so
// such text can neither start a new line nor send escape codes to the
// terminal. Everything else, UTF-8 included, is kept.
#pragma once

#include <string>
#include <string_view>

std::string EscapeControlCharacters(std::string_view text);
