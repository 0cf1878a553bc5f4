#include "settings/ProgramSettings.h"

#include <charconv>
#include <filesystem>

#include "settings/ProgramPaths.h"
#include "settings/RegistryFile.h"

namespace {

std::ptrdiff_t IndexOf(std::string_view valueName)
{
    const TSettingInfo* s = FindSetting(valueName);
    return s ? s - ProgramSettings.data() : -1;
}

// Without the blanks around it.
std::string_view Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    return first == std::string_view::npos ? std::string_view() : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

const TSettingInfo* FindSetting(std::string_view valueName)
{
    for (const auto& s : ProgramSettings)
        if (s.ValueName == valueName) return &s;
    return nullptr;
}

std::string WithTrailingDelimiter(std::string path)
{
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

std::string DirectoryProblem(const std::string& path)
{
    if (path.empty()) return "is not set";
    if (path[0] != '/') return "is not an absolute path";
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) return "does not exist";
    return {};
}

std::optional<std::int64_t> SettingNumber(std::string_view text)
{
    text = Trimmed(text);
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<double> SettingLongitude(std::string_view text)
{
    text = Trimmed(text);
    if (text.empty()) return std::nullopt;
    // A sign of its own: "+128" is taken, "+-128" is not.
    if (text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || text.front() == '-') return std::nullopt;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !(value >= -180.0 && value <= 180.0))
        return std::nullopt;
    return value;
}

double TProcessingOptions::SatelliteLongitude() const
{
    return SettingLongitude(PathText("SatelliteLongitude"))
        .value_or(*SettingLongitude(FindSetting("SatelliteLongitude")->DefaultText));
}

std::optional<std::uint32_t> SettingBandList(std::string_view text)
{
    std::uint32_t bands = 0;
    text = Trimmed(text);
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::optional<std::int64_t> band = SettingNumber(text.substr(0, comma));
        if (!band || *band < 1 || *band > 16) return std::nullopt;
        bands |= std::uint32_t{1} << *band;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
        if (Trimmed(text).empty()) return std::nullopt;
    }
    return bands;
}

std::string_view SettingTextFault(const TSettingInfo& s, std::string_view text)
{
    if (s.Kind == TSettingKind::Number && !SettingNumber(text)) return "a whole number of 0 or more";
    if (s.ValueName == "AbiImageMinutes" && (*SettingNumber(text) < 1 || *SettingNumber(text) > 1440))
        return "a whole number of minutes from 1 to 1440";
    if (s.ValueName == "AbiBands" && !SettingBandList(text))
        return "a list of bands from 1 to 16 separated by commas (2,7,8,13,16)";
    if (s.ValueName == "SatelliteLongitude" && !SettingLongitude(text))
        return "a number of degrees east from -180 to 180 (west negative: -128 for 128 W)";
    return {};
}

std::string TProcessingOptions::SettingsProblem() const
{
    for (const auto& s : ProgramSettings) {
        const std::string text = PathText(s.ValueName);
        if (const std::string_view fault = SettingTextFault(s, text); !fault.empty())
            return std::string(s.Caption) + " \"" + text + "\" is not " + std::string(fault);
        if (s.Kind != TSettingKind::Path) continue;
        const std::string path = WithTrailingDelimiter(text);
        const std::string problem = DirectoryProblem(path);
        if (problem.empty()) continue;
        return std::string(s.Caption) + (path.empty() ? "" : " \"" + path + "\"") + " " + problem;
    }
    return {};
}

TRegistryOptions::TRegistryOptions()
{
    Refresh();
}

void TRegistryOptions::Refresh()
{
    ResetToDefaults();
    const TRegistryFile registry(RegistryFilePath());
    const std::string key = ProgramKey();
    for (std::size_t i = 0; i < ProgramSettings.size(); ++i) {
        const auto& s = ProgramSettings[i];
        if (s.Kind == TSettingKind::Path) {
            if (auto v = registry.ReadString(key, s.ValueName)) texts_[i] = *v;
            texts_[i] = WithTrailingDelimiter(texts_[i]);
        } else if (s.Kind == TSettingKind::Text) {
            if (auto v = registry.ReadString(key, s.ValueName)) texts_[i] = *v;
        } else if (s.Kind == TSettingKind::Number) {
            // The Setup page writes text; a hand-written DWORD serves as well.
            if (auto v = registry.ReadString(key, s.ValueName)) texts_[i] = *v;
            else if (auto n = registry.ReadInteger(key, s.ValueName)) texts_[i] = std::to_string(*n);
        } else if (auto v = registry.ReadInteger(key, s.ValueName)) {
            ticked_[i] = *v != 0;
        }
    }
}

TFixedOptions::TFixedOptions()
{
    ResetToDefaults();
}

void TFixedOptions::ResetToDefaults()
{
    for (std::size_t i = 0; i < ProgramSettings.size(); ++i) {
        texts_[i] = std::string(ProgramSettings[i].DefaultText);
        ticked_[i] = ProgramSettings[i].DefaultTicked;
    }
}

bool TFixedOptions::Ticked(std::string_view valueName) const
{
    const auto i = IndexOf(valueName);
    return i >= 0 && ticked_[static_cast<std::size_t>(i)];
}

std::string TFixedOptions::PathText(std::string_view valueName) const
{
    const auto i = IndexOf(valueName);
    return i >= 0 ? texts_[static_cast<std::size_t>(i)] : std::string();
}

void TFixedOptions::SetTicked(std::string_view valueName, bool ticked)
{
    if (const auto i = IndexOf(valueName); i >= 0) ticked_[static_cast<std::size_t>(i)] = ticked;
}

void TFixedOptions::SetPathText(std::string_view valueName, std::string text)
{
    if (const auto i = IndexOf(valueName); i >= 0) texts_[static_cast<std::size_t>(i)] = std::move(text);
}
