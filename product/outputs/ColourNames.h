#pragma once
// The colours GMT knows by name, so a table GMT wrote (it names every colour it has a name
// for: "white", "red", "mediumblue") or one written by hand reads as GMT reads it.

#include <optional>
#include <string_view>

#include "imaging/Canvas.h"

// The colour of a name in any letter case ("grey" and "gray" alike, "gray0" to "gray100"
// included); nullopt for a name GMT does not know either.
std::optional<TColor> NamedColour(std::string_view name);
