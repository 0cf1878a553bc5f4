#include "base/Text.h"

#include <charconv>

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string LowerCase(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = FoldCase(c);
    return out;
}

std::string UpperCase(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return out;
}

std::string ShortestText(double value)
{
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string LogSafe(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
            c = '?';
    return out;
}
