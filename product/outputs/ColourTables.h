#pragma once
// Colour tables for the infrared bands: plain text a person can edit, read as GMT reads its
// .cpt files, each line a temperature range (K) and the colours at its two ends:
//     243   190/190/190   330   black   L      (or "243 190 190 190 330 0 0 0")
// A colour is r/g/b, "r g b", a grey, h-s-v, c/m/y/k, #rrggbb or a name; '#' starts a
// comment and ';' a label; "# COLOR_MODEL = hsv" makes triples h s v and blends in HSV.
// "B", "F" and "N" lines give the colour below the first range, above the last one and of a
// value that is no number. A grey value becomes a temperature exactly as the viewer's
// readout reads it, so a table paints what the readout says.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/BMPExtImage.h"
#include "imaging/Canvas.h"

class TColourTable {
public:
    struct TRange {
        double FromKelvin, ToKelvin;
        // Red, green and blue from 0 to 255; hue (degrees), saturation and value (0 to 1) in a
        // table that blends in HSV.
        std::array<double, 3> From, To;
    };
    std::string Name;  // the file's stem, as the setting names it
    std::vector<TRange> Ranges;  // ascending, not overlapping
    bool BlendsInHsv = false;
    TColor Below = 0, Above = 0, NotANumber = 0;

    // Linear between a range's end colours. As in GMT a range holds its lower end and not its
    // upper one (the last range holds both), so a temperature on a boundary takes the warmer
    // range's first colour. A gap between ranges takes the nearer end.
    TColor ColourOf(double kelvin) const;
    // The colour of each grey value (count) of an infrared image.
    std::array<TColor, 256> GreyPalette() const;
    double ColdestKelvin() const { return Ranges.front().FromKelvin; }
    double WarmestKelvin() const { return Ranges.back().ToKelvin; }
};

// The table in text; empty when it parses, else "line N: why" for the first line refused.
std::string ParseColourTable(std::string_view text, TColourTable& table);

// The file's table; empty when read, else "<path>: line N: why" or "<path>: why".
std::string LoadColourTable(const std::string& path, TColourTable& table);

inline constexpr const char* ColourTableExtension = ".cpt";

// Where tables are looked for, in order: <data directory>colour/ of an installed program,
// then the source tree's share/colour/ (a program run from its build tree). Each ends in '/'.
std::vector<std::string> ColourTableDirectories();
// The names (stems) of the tables found there, sorted, without repeats.
std::vector<std::string> ColourTableNames();
// The file a setting's value names: an absolute path as it is, else <name>.cpt in the first
// directory that has it, else the name in the first directory (for the log line to name).
std::string ColourTablePath(const std::string& setting);

// The table for a band from the setting: one name for every infrared band, or a list by band
// ("4=enhanced-ir,3=water-vapour"; a band not listed gets none). Empty: no table.
std::string ColourTableForBand(std::string_view setting, std::string_view bandDigit);

// The colour image of an 8-bit infrared composite: each grey value in the table's colour and
// space (off the Earth's disc of a picture of the composite's size) in its N colour, except
// where beforeLines differs from the composite (the drawn lines), which keeps its grey.
// beforeLines: the composite as it was before the lines were drawn, or null.
TExtBitmap ColouredImage(const TExtBitmap& composite, const TColourTable& table, const TExtBitmap* beforeLines);

// The colour image's name beside a grey image's: "<name>-col.jpg" beside "<name>.jpg".
inline constexpr const char* ColourImageSuffix = "-col";
std::string ColourImageName(const std::string& greyImageName);
// Whether a file name is a colour image's (a saved image that holds no grey values).
bool IsColourImageName(std::string_view name);
