#pragma once
// "orvanta --reprocess DIR...": remakes the images of an archive of scan files with the
// current settings, beside a running station (a lock of its own, none of the station's
// files). Progress goes to standard error (one live line on a terminal, a line per file
// otherwise), the summary to standard output. SIGTERM, SIGINT and SIGHUP end the run after
// the files in hand; the same command then continues. Exit status 0 when every file was made
// or skipped, 1 when any failed, 2 for wrong arguments or settings, or another run.

#include <cstdio>
#include <string>
#include <vector>

class TReprocessRunner {
public:
    // args: the arguments after "--reprocess".
    explicit TReprocessRunner(std::vector<std::string> args, std::FILE* out = stdout, std::FILE* err = stderr);
    // Needs a QCoreApplication; returns the exit status.
    int Run();

private:
    std::vector<std::string> args_;
    std::FILE* out_;
    std::FILE* err_;
};
