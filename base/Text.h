#pragma once
// Letter case of names and extensions, and numbers as text. Only ASCII letters change,
// whatever the locale, so a name compares and sorts the same on every station.

#include <string>
#include <string_view>

char FoldCase(char c);
std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);

// The shortest text that reads back as the same double, in no locale: "0.05", not
// "0.050000000000000003"; "330", "1e+20".
std::string ShortestText(double value);

// Log-safe text: control characters (a line break in a file name, say) become '?', so every
// entry stays one line and no entry can forge another.
std::string LogSafe(std::string_view text);
