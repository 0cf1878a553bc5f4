#pragma once
// Letter case of names and extensions. Only ASCII letters change, whatever the locale, so a
// name compares and sorts the same on every station.

#include <string>
#include <string_view>

char FoldCase(char c);
std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);
