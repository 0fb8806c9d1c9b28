// What the fuzz targets check of the texts the tools write from a file
// they read: JSON that is JSON, a page that holds only its own scripts, and
// a text for a terminal that holds no control byte but the line end.
#pragma once

#include <cstddef>
#include <string_view>

// Whether the text is one JSON value, strictly: UTF-8 throughout, no control
// byte in a string, no escape or number form JSON does not have, and no key
// twice in one object (a writer that repeats one loses a value to most
// readers).
bool ValidJson(std::string_view text);

// How often `word` (lower case) stands in `text`, in any case: HTML reads
// <SCRIPT as <script.
size_t CountNoCase(std::string_view text, std::string_view word);

// No byte that a terminal would act on but the line end and the tab: a
// trace line's ESC or CR shown raw could rewrite what the reader sees.
bool TerminalSafe(std::string_view text);
