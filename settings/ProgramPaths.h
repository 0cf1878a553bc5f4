#pragma once
// Where this program keeps its settings and logs for the current user, and under which
// registry key. Everything follows the program's file name, so a renamed copy keeps its own
// settings and logs.

#include <string>

#include "base/Files.h" // ForceDirectories, once declared here

// The executable's base name without extension ("orvanta").
std::string ProgramName();
// The program file's name and its four-number file version: "orvanta V1.0.0.0", as the
// "Starting" and "Closing" lines show them.
std::string ProgramNameAndVersion();
// Overrides ProgramName() for the rest of the process (tests, tools acting for the program).
void SetProgramName(std::string name);

// ${XDG_CONFIG_HOME:-$HOME/.config}/Quillon/ and ${XDG_STATE_HOME:-$HOME/.local/state}/Quillon/,
// read from the environment on every call; both end with '/'.
std::string ConfigDirectory();
std::string StateDirectory();
// The program's data directory, ending with '/': <prefix>/share/orvanta/ beside the
// executable's bin/, or the executable's own directory in a build tree.
std::string ProgramDataDir();

std::string RegistryFilePath();   // ConfigDirectory() + "registry.reg"
std::string ProcessLogPath();     // StateDirectory() + ProgramName() + "-process.log"
std::string GeoLogPath();         // StateDirectory() + ProgramName() + "-geo.log"
std::string StrikeJournalPath();  // StateDirectory() + ProgramName() + "-strikes.txt"
// Held by the one station that runs on these settings: ConfigDirectory() + ProgramName() + ".lock"
std::string StationLockPath();
// Held by the one --reprocess run on these settings: ConfigDirectory() + ProgramName() + "-reprocess.lock"
std::string ReprocessLockPath();

std::string ProgramKey();         // "\Software\Quillon\" + ProgramName()
std::string AppPathsKey();        // "\Software\Quillon\App Paths"

