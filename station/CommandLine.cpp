#include "station/CommandLine.h"
#include "base/Text.h"


#include <algorithm>
#include <iterator>

namespace {

bool IsSwitch(std::string_view arg, std::string_view name)
{
    return arg.size() == name.size() + 1 && (arg[0] == '-' || arg[0] == '/')
        && LowerCase(arg.substr(1)) == LowerCase(name);
}

bool IsOurSwitch(std::string_view arg)
{
    return IsSwitch(arg, "start") || IsSwitch(arg, "log") || IsSwitch(arg, "geo");
}

}  // namespace

bool TCommandLine::FindSwitch(std::string_view name) const
{
    for (const auto& a : args_)
        if (IsSwitch(a, name)) return true;
    return false;
}

std::string TCommandLine::FileArgument() const
{
    for (const auto& a : args_)
        if (!IsOurSwitch(a)) return a;
    return {};
}

std::string UnknownSwitch(const std::vector<std::string>& args, bool windowOptions)
{
    // The options QGuiApplication and QApplication take out of the arguments (with one or two
    // dashes); the first group takes a value.
    static constexpr std::string_view withValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                                     "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
                                                     "display", "geometry", "style", "stylesheet", "title", "name"};
    static constexpr std::string_view flags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a[0] != '-' || IsOurSwitch(a))
            continue;
        if (windowOptions) {
            std::string_view name(a);
            name.remove_prefix(name.starts_with("--") ? 2 : 1);
            name = name.substr(0, name.find('='));
            if (std::find(std::begin(withValue), std::end(withValue), name) != std::end(withValue)) {
                if (a.find('=') == std::string::npos)
                    ++i;
                continue;
            }
            if (std::find(std::begin(flags), std::end(flags), name) != std::end(flags) || name == "qmljsdebugger")
                continue;
        }
        return a;
    }
    return {};
}
