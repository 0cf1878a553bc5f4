#pragma once
// The program's switches "start", "log" and "geo" (with a leading '-' or '/', any letter case,
// anywhere on the line) and the file to process once.

#include <string>
#include <string_view>
#include <vector>

class TCommandLine {
public:
    TCommandLine() = default;
    // The arguments without the program's own name.
    explicit TCommandLine(std::vector<std::string> args) : args_(std::move(args)) {}

    bool FindSwitch(std::string_view name) const;
    // The first argument, whatever it is (the window takes it as the file when one exists).
    std::string FirstArgument() const { return args_.empty() ? std::string() : args_.front(); }
    // The first argument that is not one of the three switches (the headless runner's file).
    std::string FileArgument() const;
    const std::vector<std::string>& Args() const { return args_; }

private:
    std::vector<std::string> args_;
};

// The first argument that looks like a switch ('-' and more) and is none of the program's,
// nor (with windowOptions) one Qt takes for a window, such as "-platform offscreen"; empty
// when there is none. Without this a mistyped switch is taken for the file to process.
std::string UnknownSwitch(const std::vector<std::string>& args, bool windowOptions);
