#include "app/core/ColourTables.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <set>

#include "base/Files.h"
#include "cartography/vrnCartography.h"
#include "netcdf/RadianceToModeAlookup.h"

namespace fs = std::filesystem;

namespace {

// A table is a few dozen lines; anything far larger is not one.
constexpr std::size_t MaxTableBytes = 256 * 1024;

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool Number(std::string_view text, double& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

bool Component(std::string_view text, int& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0 && value <= 255;
}

// One colour from fields[at...]: "r/g/b" in one field or "r g b" in three; advances at.
bool Colour(const std::vector<std::string_view>& fields, std::size_t& at, TColor& colour)
{
    int rgb[3];
    if (at >= fields.size()) return false;
    const std::string_view f = fields[at];
    if (const auto slash = f.find('/'); slash != std::string_view::npos) {
        const auto slash2 = f.find('/', slash + 1);
        if (slash2 == std::string_view::npos || !Component(f.substr(0, slash), rgb[0]) ||
            !Component(f.substr(slash + 1, slash2 - slash - 1), rgb[1]) || !Component(f.substr(slash2 + 1), rgb[2]))
            return false;
        ++at;
    } else {
        if (at + 3 > fields.size()) return false;
        for (int c = 0; c < 3; ++c)
            if (!Component(fields[at + static_cast<std::size_t>(c)], rgb[c])) return false;
        at += 3;
    }
    colour = static_cast<TColor>(rgb[0] | rgb[1] << 8 | rgb[2] << 16);
    return true;
}

int Channel(TColor c, int shift) { return static_cast<int>((c >> shift) & 0xFF); }

TColor Mix(TColor a, TColor b, double t)
{
    TColor out = 0;
    for (const int shift : {0, 8, 16}) {
        const double v = Channel(a, shift) + (Channel(b, shift) - Channel(a, shift)) * t;
        out |= static_cast<TColor>(std::clamp(static_cast<int>(std::lround(v)), 0, 255)) << shift;
    }
    return out;
}

}  // namespace

TColor TColourTable::ColourOf(double kelvin) const
{
    if (std::isnan(kelvin) || Ranges.empty()) return NotANumber;
    if (kelvin < Ranges.front().FromKelvin) return Below;
    if (kelvin > Ranges.back().ToKelvin) return Above;
    for (std::size_t i = 0; i < Ranges.size(); ++i) {
        const TRange& r = Ranges[i];
        if (kelvin > r.ToKelvin) continue;
        if (kelvin < r.FromKelvin) {
            const TRange& before = Ranges[i - 1];
            return kelvin - before.ToKelvin <= r.FromKelvin - kelvin ? before.To : r.From;
        }
        return Mix(r.From, r.To, (kelvin - r.FromKelvin) / (r.ToKelvin - r.FromKelvin));
    }
    return Above;
}

std::array<TColor, 256> TColourTable::GreyPalette() const
{
    std::array<TColor, 256> palette{};
    for (int g = 0; g < 256; ++g)
        palette[static_cast<std::size_t>(g)] = ColourOf(CountToKelvin(static_cast<std::uint8_t>(g)));
    return palette;
}

std::string ParseColourTable(std::string_view text, TColourTable& table)
{
    TColourTable parsed;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        line = line.substr(0, line.find('#'));
        const std::vector<std::string_view> f = Fields(line);
        if (f.empty()) continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        std::size_t at = 1;
        if (f[0] == "B" || f[0] == "F" || f[0] == "N") {
            TColor c = 0;
            if (!Colour(f, at, c) || at != f.size()) return where + "expected \"" + std::string(f[0]) + " r/g/b\"";
            (f[0] == "B" ? parsed.Below : f[0] == "F" ? parsed.Above : parsed.NotANumber) = c;
            continue;
        }
        TColourTable::TRange r{};
        at = 0;
        bool ok = Number(f[at++], r.FromKelvin) && Colour(f, at, r.From) && at < f.size() &&
                  Number(f[at++], r.ToKelvin) && Colour(f, at, r.To) && at == f.size();
        if (!ok) return where + "expected \"kelvin r/g/b kelvin r/g/b\"";
        if (r.FromKelvin <= 0 || r.ToKelvin <= r.FromKelvin)
            return where + "the range must run from a lower to a higher temperature above 0 K";
        if (!parsed.Ranges.empty() && r.FromKelvin < parsed.Ranges.back().ToKelvin)
            return where + "the range overlaps the one before it";
        parsed.Ranges.push_back(r);
    }
    if (parsed.Ranges.empty()) return "line " + std::to_string(number) + ": no temperature range in the table";
    parsed.Name = table.Name;
    table = std::move(parsed);
    return {};
}

std::string LoadColourTable(const std::string& path, TColourTable& table)
{
    const TSmallFile file = ReadSmallRegularFile(path, MaxTableBytes);
    if (file.Missing) return path + ": no such file";
    if (!file.Problem.empty()) return path + ": " + file.Problem;
    table.Name = fs::path(path).stem().string();
    const std::string why = ParseColourTable(file.Text, table);
    return why.empty() ? why : path + ": " + why;
}

std::vector<std::string> ColourTableDirectories()
{
    std::vector<std::string> directories{ProgramDataDir() + "colour/"};
#ifdef ORVANTA_SOURCE_COLOUR_DIR
    directories.push_back(ORVANTA_SOURCE_COLOUR_DIR "/");
#endif
    return directories;
}

std::vector<std::string> ColourTableNames()
{
    std::set<std::string> names;
    for (const std::string& d : ColourTableDirectories()) {
        std::error_code ec;
        for (fs::directory_iterator it(d, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().extension() == ColourTableExtension && it->is_regular_file(ec))
                names.insert(it->path().stem().string());
    }
    return {names.begin(), names.end()};
}

std::string ColourTablePath(const std::string& setting)
{
    if (!setting.empty() && setting.front() == '/') return setting;
    const std::vector<std::string> directories = ColourTableDirectories();
    for (const std::string& d : directories) {
        std::error_code ec;
        if (fs::is_regular_file(d + setting + ColourTableExtension, ec)) return d + setting + ColourTableExtension;
    }
    return directories.front() + setting + ColourTableExtension;
}

std::string ColourTableForBand(std::string_view setting, std::string_view bandDigit)
{
    const auto trim = [](std::string_view s) {
        const auto first = s.find_first_not_of(" \t");
        return first == std::string_view::npos ? std::string_view() : s.substr(first, s.find_last_not_of(" \t") - first + 1);
    };
    setting = trim(setting);
    if (setting.find('=') == std::string_view::npos) return std::string(setting);
    while (!setting.empty()) {
        const auto comma = setting.find(',');
        const std::string_view item = setting.substr(0, comma);
        setting = comma == std::string_view::npos ? std::string_view() : setting.substr(comma + 1);
        const auto eq = item.find('=');
        if (eq != std::string_view::npos && trim(item.substr(0, eq)) == bandDigit) return std::string(trim(item.substr(eq + 1)));
    }
    return {};
}

TExtBitmap ColouredImage(const TExtBitmap& composite, const std::array<TColor, 256>& palette,
                         const TExtBitmap* beforeLines)
{
    const int w = composite.Width(), h = composite.Height();
    TExtBitmap out(w, h, TPixelFormat::pf24bit);
    if (composite.PixelFormat() != TPixelFormat::pf8bit) return out;
    const bool lines = beforeLines && beforeLines->PixelFormat() == TPixelFormat::pf8bit &&
                       beforeLines->Width() == w && beforeLines->Height() == h;
    // Bytes in the file's blue, green, red order, looked up once per grey value.
    std::array<std::array<std::uint8_t, 3>, 256> colour{}, grey{};
    for (std::size_t g = 0; g < 256; ++g) {
        const TColor c = palette[g];
        colour[g] = {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
        const TRGBQuad& q = composite.Palette()[g];
        grey[g] = {q.Blue, q.Green, q.Red};
    }
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* k = composite.ScanLine(y);
        const std::uint8_t* before = lines ? beforeLines->ScanLine(y) : nullptr;
        std::uint8_t* o = out.ScanLine(y);
        for (int x = 0; x < w; ++x, o += 3) {
            const auto& c = before && before[x] != k[x] ? grey[k[x]] : colour[k[x]];
            o[0] = c[0];
            o[1] = c[1];
            o[2] = c[2];
        }
    }
    return out;
}

std::string ColourImageName(const std::string& greyImageName)
{
    const fs::path p(greyImageName);
    return fs::path(p).replace_extension().string() + ColourImageSuffix + p.extension().string();
}

bool IsColourImageName(std::string_view name)
{
    const std::string stem = fs::path(name).stem().string();
    const std::string_view suffix = ColourImageSuffix;
    return stem.size() > suffix.size() && stem.substr(stem.size() - suffix.size()) == suffix;
}
