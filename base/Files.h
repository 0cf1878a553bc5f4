#pragma once
// Questions about where a file lies, asked by every route that may remove what it was given.

#include <string>

// Whether path lies directly in directory (the same directory, however either is spelt).
// Only what lies in the incoming directory is the station's to remove: a file named on the
// command line may be an operator's own copy, or the archive's only one.
bool LiesIn(const std::string& path, const std::string& directory);
