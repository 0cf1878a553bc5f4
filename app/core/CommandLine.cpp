#include "app/core/CommandLine.h"

#include "app/core/Utils.h"

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
