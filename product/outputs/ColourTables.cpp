#include "product/outputs/ColourTables.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <optional>
#include <set>
#include <span>

#include "product/outputs/ColourNames.h"
#include "base/Files.h"
#include "base/Text.h"
#include "mapping/CompositeLayout.h"
#include "mapping/DiscMask.h"
#include "netcdf/RadianceToModeAlookup.h"
#include "settings/ProgramPaths.h"

namespace fs = std::filesystem;

namespace {

// A table is a few dozen lines; anything far larger is not one.
constexpr std::size_t MaxTableBytes = 256 * 1024;

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && Blank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !Blank(line[i]))
            ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool Number(std::string_view text, double& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && Blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && Blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const auto next = text.find(separator, at);
        parts.push_back(text.substr(at, next - at));
        if (next == std::string_view::npos)
            return parts;
        at = next + 1;
    }
}

bool HexColour(std::string_view text, unsigned& rgb)
{
    if (text.size() != 7 || text[0] != '#')
        return false;
    const auto [end, ec] = std::from_chars(text.data() + 1, text.data() + text.size(), rgb, 16);
    return ec == std::errc() && end == text.data() + text.size();
}

// The value of GMT's "# COLOR_MODEL = hsv" line; nullopt for any other line.
std::optional<std::string_view> ColourModel(std::string_view line)
{
    line = Trim(line);
    if (!line.starts_with('#'))
        return std::nullopt;
    line = Trim(line.substr(1));
    if (!line.starts_with("COLOR_MODEL"))
        return std::nullopt;
    line = Trim(line.substr(std::string_view("COLOR_MODEL").size()));
    if (!line.starts_with('='))
        return std::nullopt;
    return Trim(line.substr(1));
}

// The line without its comment (from a '#' that begins no #rrggbb colour) and its label
// (from a ';').
std::string_view Content(std::string_view line)
{
    line = line.substr(0, line.find(';'));
    for (auto at = line.find('#'); at != std::string_view::npos; at = line.find('#', at + 1)) {
        auto end = at;
        while (end < line.size() && !Blank(line[end]))
            ++end;
        unsigned rgb = 0;
        if ((at > 0 && !Blank(line[at - 1])) || !HexColour(line.substr(at, end - at), rgb))
            return line.substr(0, at);
    }
    return line;
}

using TTriple = std::array<double, 3>;

// A colour as given: red, green and blue from 0 to 255, or hue (degrees), saturation and
// value (0 to 1).
struct TGiven {
    TTriple Value;
    bool Hsv = false;
};

TTriple HsvToRgb(const TTriple& hsv)
{
    const double h = std::fmod(hsv[0], 360.0) / 60.0, s = hsv[1], v = hsv[2] * 255;
    const double sector = std::floor(h), f = h - sector;
    const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (static_cast<int>(sector)) {
    case 0: return {v, t, p};
    case 1: return {q, v, p};
    case 2: return {p, v, t};
    case 3: return {p, q, v};
    case 4: return {t, p, v};
    default: return {v, p, q};
    }
}

TTriple RgbToHsv(const TTriple& rgb)
{
    const auto [r, g, b] = rgb;
    const double max = std::max({r, g, b}), range = max - std::min({r, g, b});
    double h = 0;
    if (range > 0)
        h = max == r ? (g - b) / range : max == g ? 2 + (b - r) / range : 4 + (r - g) / range;
    return {h < 0 ? h * 60 + 360 : h * 60, max > 0 ? range / max : 0, max / 255};
}

// One colour in any form GMT writes. fields: one ("0/31.875/255", "300-1-1", "128",
// "#ff8000", "white"), three (r g b, or h s v when hsvTriples) or four (c m y k).
std::optional<TGiven> ReadColour(std::span<const std::string_view> fields, bool hsvTriples)
{
    std::array<double, 4> v{};
    const auto within = [&](std::span<const std::string_view> parts, std::initializer_list<double> limits) {
        if (parts.size() != limits.size())
            return false;
        std::size_t i = 0;
        for (const double limit : limits) {
            if (!Number(parts[i], v[i]) || v[i] < 0 || v[i] > limit)
                return false;
            ++i;
        }
        return true;
    };
    const auto rgb = [&] { return TGiven{{v[0], v[1], v[2]}}; };
    const auto hsv = [&] { return TGiven{{v[0], v[1], v[2]}, true}; };
    const auto cmyk = [&] {
        const double k = 255 * (1 - v[3] / 100);
        return TGiven{{(1 - v[0] / 100) * k, (1 - v[1] / 100) * k, (1 - v[2] / 100) * k}};
    };
    if (fields.size() == 3) {
        if (hsvTriples)
            return within(fields, {360, 1, 1}) ? std::optional(hsv()) : std::nullopt;
        return within(fields, {255, 255, 255}) ? std::optional(rgb()) : std::nullopt;
    }
    if (fields.size() == 4)
        return within(fields, {100, 100, 100, 100}) ? std::optional(cmyk()) : std::nullopt;
    if (fields.size() != 1)
        return std::nullopt;
    const std::string_view f = fields[0];
    if (unsigned hex = 0; HexColour(f, hex)) {
        v = {static_cast<double>(hex >> 16), static_cast<double>(hex >> 8 & 0xFF), static_cast<double>(hex & 0xFF)};
        return rgb();
    }
    if (f.find('/') != std::string_view::npos) {
        const std::vector<std::string_view> parts = Split(f, '/');
        if (within(parts, {255, 255, 255}))
            return rgb();
        return within(parts, {100, 100, 100, 100}) ? std::optional(cmyk()) : std::nullopt;
    }
    if (within(fields, {255}))
        return TGiven{{v[0], v[0], v[0]}};
    if (f.find('-') != std::string_view::npos)
        return within(Split(f, '-'), {360, 1, 1}) ? std::optional(hsv()) : std::nullopt;
    if (const std::optional<TColor> named = NamedColour(f))
        return TGiven{{static_cast<double>(*named & 0xFF), static_cast<double>(*named >> 8 & 0xFF),
                       static_cast<double>(*named >> 16 & 0xFF)}};
    return std::nullopt;
}

std::string NotAColour(std::span<const std::string_view> fields)
{
    std::string text;
    for (const std::string_view f : fields)
        text += (text.empty() ? "" : " ") + std::string(f);
    return "\"" + text + "\" is not a colour";
}

TColor ToColor(const TTriple& rgb)
{
    TColor out = 0;
    for (std::size_t c = 0; c < 3; ++c)
        out |= static_cast<TColor>(std::clamp(std::lround(rgb[c]), 0L, 255L)) << 8 * c;
    return out;
}

TTriple Stored(const TGiven& given, bool hsv)
{
    if (given.Hsv == hsv)
        return given.Value;
    return hsv ? RgbToHsv(given.Value) : HsvToRgb(given.Value);
}

TColor Mix(const TColourTable& table, const TColourTable::TRange& r, double t)
{
    TTriple mixed;
    for (std::size_t c = 0; c < 3; ++c)
        mixed[c] = r.From[c] + (r.To[c] - r.From[c]) * t;
    return ToColor(table.BlendsInHsv ? HsvToRgb(mixed) : mixed);
}

}  // namespace

TColor TColourTable::ColourOf(double kelvin) const
{
    if (std::isnan(kelvin) || Ranges.empty())
        return NotANumber;
    if (kelvin < Ranges.front().FromKelvin)
        return Below;
    if (kelvin > Ranges.back().ToKelvin)
        return Above;
    // The first range that ends above the temperature, else the last one.
    const auto r = std::upper_bound(Ranges.begin(), Ranges.end() - 1, kelvin,
                                    [](double k, const TRange& range) { return k < range.ToKelvin; });
    if (kelvin < r->FromKelvin) {
        const TRange& before = *(r - 1);
        return kelvin - before.ToKelvin <= r->FromKelvin - kelvin ? Mix(*this, before, 1) : Mix(*this, *r, 0);
    }
    return Mix(*this, *r, (kelvin - r->FromKelvin) / (r->ToKelvin - r->FromKelvin));
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
    bool hsvTriples = false;
    int number = 0, firstRange = 0, belowZero = 0;
    while (!text.empty()) {
        ++number;
        const auto eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        const std::string where = "line " + std::to_string(number) + ": ";
        if (const std::optional<std::string_view> model = ColourModel(line)) {
            // As GMT reads it: "HSV" gives triples as h s v, "hsv" and "+HSV" blend in HSV too.
            const bool plus = model->starts_with('+');
            const std::string name = UpperCase(model->substr(plus ? 1 : 0));
            if (name != "RGB" && name != "HSV" && name != "CMYK")
                return where + "unknown colour model \"" + std::string(*model) + "\" (RGB, HSV or CMYK)";
            if (!parsed.Ranges.empty())
                return where + "the colour model must come before the first range";
            hsvTriples = name == "HSV";
            parsed.BlendsInHsv = hsvTriples && (plus || model->front() == 'h');
            continue;
        }
        std::vector<std::string_view> f = Fields(Content(line));
        if (f.empty())
            continue;
        if (f[0] == "B" || f[0] == "F" || f[0] == "N") {
            const std::span<const std::string_view> colour = std::span(f).subspan(1);
            if (colour.size() != 1 && colour.size() != 3 && colour.size() != 4)
                return where + "expected \"" + std::string(f[0]) + " colour\"";
            const std::optional<TGiven> c = ReadColour(colour, hsvTriples);
            if (!c)
                return where + NotAColour(colour);
            (f[0] == "B" ? parsed.Below : f[0] == "F" ? parsed.Above : parsed.NotANumber) = ToColor(Stored(*c, false));
            continue;
        }
        // GMT's annotation letter after the colours: which ends a colour bar labels.
        if (f.size() > 4 && (f.back() == "L" || f.back() == "U" || f.back() == "B"))
            f.pop_back();
        // Both colours in one field, or both in three (r g b, h s v) or four (c m y k).
        const std::size_t width = f.size() == 4 ? 1 : f.size() == 8 ? 3 : f.size() == 10 ? 4 : 0;
        if (width == 0)
            return where + "expected \"kelvin colour kelvin colour\"";
        TColourTable::TRange r{};
        for (const auto& [z, kelvin] : {std::pair{f[0], &r.FromKelvin}, std::pair{f[width + 1], &r.ToKelvin}})
            if (!Number(z, *kelvin))
                return where + "\"" + std::string(z) + "\" is not a temperature";
        const std::span<const std::string_view> from = std::span(f).subspan(1, width),
                                                to = std::span(f).subspan(width + 2, width);
        const std::optional<TGiven> low = ReadColour(from, hsvTriples), high = ReadColour(to, hsvTriples);
        if (!low || !high)
            return where + NotAColour(low ? to : from);
        r.From = Stored(*low, parsed.BlendsInHsv);
        r.To = Stored(*high, parsed.BlendsInHsv);
        if (r.ToKelvin <= r.FromKelvin)
            return where + "the range must run from a lower to a higher temperature above 0 K";
        if (!parsed.Ranges.empty() && r.FromKelvin < parsed.Ranges.back().ToKelvin)
            return where + "the range overlaps the one before it";
        if (r.FromKelvin <= 0 && belowZero == 0)
            belowZero = number;
        if (firstRange == 0)
            firstRange = number;
        parsed.Ranges.push_back(r);
    }
    if (parsed.Ranges.empty()) return "line " + std::to_string(number) + ": no temperature range in the table";
    // A GMT master table runs over 0 to 1 or -1 to 1, meant to be stretched by makecpt.
    const double coldest = CountToKelvin(255), warmest = CountToKelvin(0);
    if (parsed.Ranges.back().ToKelvin < coldest || parsed.Ranges.front().FromKelvin > warmest)
        return "line " + std::to_string(firstRange) + ": the table runs from " + ShortestText(parsed.ColdestKelvin()) +
               " to " + ShortestText(parsed.WarmestKelvin()) + ", not over the greys' " + ShortestText(coldest) +
               " to " + ShortestText(warmest) + " K; make a kelvin table with \"gmt makecpt -C" +
               (table.Name.empty() ? "<table>" : table.Name) + " -T" + ShortestText(coldest) + "/" +
               ShortestText(warmest) + "\"";
    if (belowZero != 0)
        return "line " + std::to_string(belowZero) +
               ": the range must run from a lower to a higher temperature above 0 K";
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

TExtBitmap ColouredImage(const TExtBitmap& composite, const TColourTable& table, const TExtBitmap* beforeLines)
{
    const int w = composite.Width(), h = composite.Height();
    TExtBitmap out(w, h, TPixelFormat::pf24bit);
    if (composite.PixelFormat() != TPixelFormat::pf8bit) return out;
    const bool lines = beforeLines && beforeLines->PixelFormat() == TPixelFormat::pf8bit &&
                       beforeLines->Width() == w && beforeLines->Height() == h;
    // Space holds no temperature: its grey (255 where masked) would paint it as the coldest
    // cloud tops.
    const std::vector<TDiscRun>* disc = w == CompositeWidth && h == CompositeHeight ? &CompositeDiscRuns() : nullptr;
    // Bytes in the file's blue, green, red order, looked up once per grey value.
    const auto bytes = [](TColor c) {
        return std::array<std::uint8_t, 3>{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                           static_cast<std::uint8_t>(c)};
    };
    const std::array<TColor, 256> palette = table.GreyPalette();
    std::array<std::array<std::uint8_t, 3>, 256> colour{}, grey{};
    for (std::size_t g = 0; g < 256; ++g) {
        colour[g] = bytes(palette[g]);
        const TRGBQuad& q = composite.Palette()[g];
        grey[g] = {q.Blue, q.Green, q.Red};
    }
    const std::array<std::uint8_t, 3> space = bytes(table.NotANumber);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* k = composite.ScanLine(y);
        const std::uint8_t* before = lines ? beforeLines->ScanLine(y) : nullptr;
        const TDiscRun earth = disc ? (*disc)[static_cast<std::size_t>(y)] : TDiscRun{0, w};
        std::uint8_t* o = out.ScanLine(y);
        for (int x = 0; x < w; ++x, o += 3) {
            const auto& c = before && before[x] != k[x]         ? grey[k[x]]
                            : x < earth.First || x >= earth.End ? space
                                                                : colour[k[x]];
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
