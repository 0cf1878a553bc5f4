#include "mapping/SegmentStuff.h"

#include <array>
#include <cmath>

#include "mapping/MathConst.h"

using namespace orvanta::geo;

namespace {

// The segment table, rows 1..156 in order. {Name, AltName, LineOffset, ColumnOffset, Columns,
// Lines, PixelFactor, NominalLongitude}.
//
// Only the rows of the GOES satellites (nominal longitude -75, -135 or -137) are layouts this
// program has in full. The other rows keep their names; their sizes come from the fixed grid
// (about twice its origin) or the preset mapping where the row has one, their longitudes from
// the satellite the name stands for, and the rest is the plain base grid (2500 x 2500, factor
// 1, no offsets), so every row still gives a coherent whole-disc geometry.
constexpr std::array<TASegmentData, SegmentCount> kSegments = {{
#define ROW_BASE(name, alt, lon) {name, alt, 0.0f, 0.0f, 2500, 2500, 1.0f, lon}
#define ROW_FIXED(name, alt, size, lon) {name, alt, 0.0f, 0.0f, size, size, 1.0f, lon}
#define ROW_SIZED(name, alt, cols, lines, lon) {name, alt, 0.0f, 0.0f, cols, lines, 1.0f, lon}
    ROW_BASE("~ImageOnly", "", 0.0f),                                  // 1
    ROW_BASE("~ThermalOnly", "", 0.0f),                                // 2
    ROW_BASE("C02", "", 0.0f),                                         // 3
    ROW_BASE("C03", "", 0.0f),                                         // 4
    ROW_BASE("C1D", "D1", 0.0f),                                       // 5
    ROW_BASE("C2D", "D2", 0.0f),                                       // 6
    ROW_BASE("C3D", "D3", 0.0f),                                       // 7
    ROW_BASE("C4D", "D4", 0.0f),                                       // 8
    ROW_BASE("C5D", "D5", 0.0f),                                       // 9
    ROW_BASE("C6D", "D6", 0.0f),                                       // 10
    ROW_BASE("C7D", "D7", 0.0f),                                       // 11
    ROW_BASE("C8D", "D8", 0.0f),                                       // 12
    ROW_BASE("C9D", "D9", 0.0f),                                       // 13
    ROW_BASE("C1D_N", "D1_N", 0.0f),                                   // 14
    ROW_BASE("C2D_N", "D2_N", 0.0f),                                   // 15
    ROW_BASE("C3D_N", "D3_N", 0.0f),                                   // 16
    ROW_BASE("C4D_N", "D4_N", 0.0f),                                   // 17
    ROW_BASE("C5D_N", "D5_N", 0.0f),                                   // 18
    ROW_BASE("C6D_N", "D6_N", 0.0f),                                   // 19
    ROW_BASE("C7D_N", "D7_N", 0.0f),                                   // 20
    ROW_BASE("C8D_N", "D8_N", 0.0f),                                   // 21
    ROW_BASE("C9D_N", "D9_N", 0.0f),                                   // 22
    ROW_BASE("Met7-IR", "", 0.0f),                                     // 23
    ROW_BASE("Met7-vis", "", 0.0f),                                    // 24
    ROW_BASE("Met7-IR-57E", "", 57.5f),                                // 25
    ROW_BASE("Met7-vis-57E", "", 57.5f),                               // 26
    ROW_BASE("~BI", "", 0.0f),                                         // 27
    ROW_BASE("~BV", "", 0.0f),                                         // 28
    ROW_BASE("Met6-IR-FRS", "~RsFrsIR", 0.0f),                         // 29
    ROW_BASE("~RsFrsVis", "", 0.0f),                                   // 30
    ROW_BASE("Met6-IR-EUR", "~RsEurIR", 0.0f),                         // 31
    ROW_BASE("~RsEurVis", "", 0.0f),                                   // 32
    ROW_BASE("Met6-IR-FRS-10E", "~RsFrsIrB", 10.0f),                   // 33
    ROW_BASE("~RsFrsVisB", "", 10.0f),                                 // 34
    ROW_BASE("Met6-IR-EUR-10E", "~RsEurIrB", 10.0f),                   // 35
    ROW_BASE("~RsEurVisB", "", 10.0f),                                 // 36
    ROW_BASE("Met5-IR", "", 63.0f),                                    // 37
    ROW_BASE("Met5-vis", "", 63.0f),                                   // 38
    ROW_BASE("GMS ABCD", "", 140.0f),                                  // 39
    ROW_BASE("GMS5-A", "", 140.0f),                                    // 40
    ROW_BASE("GMS5-B", "", 140.0f),                                    // 41
    ROW_BASE("GMS5-C", "", 140.0f),                                    // 42
    ROW_BASE("GMS5-D", "", 140.0f),                                    // 43
    ROW_BASE("~0203comp", "", 0.0f),                                   // 44
    ROW_BASE("~123comp", "", 0.0f),                                    // 45
    ROW_BASE("~789comp", "", 0.0f),                                    // 46
    ROW_BASE("~41comp", "", 0.0f),                                     // 47
    ROW_BASE("~69comp", "", 0.0f),                                     // 48
    ROW_BASE("~all", "", 0.0f),                                        // 49
    ROW_BASE("~123compN", "", 0.0f),                                   // 50
    ROW_BASE("~789compN", "", 0.0f),                                   // 51
    ROW_BASE("~41compN", "", 0.0f),                                    // 52
    ROW_BASE("~69compN", "", 0.0f),                                    // 53
    ROW_BASE("~allN", "", 0.0f),                                       // 54
    ROW_BASE("CTotN", "DTotN", 0.0f),                                  // 55
    ROW_BASE("CTotN2", "DTotN2", 0.0f),                                // 56
    ROW_BASE("CTotN3", "DTotN3", 0.0f),                                // 57
    ROW_BASE("CTOT", "DTOT", 0.0f),                                    // 58
    ROW_BASE("~marf", "~marf", 0.0f),                                  // 59
    {"~goes-EN-01", "", 1595.0f, 944.0f, 1214, 865, 1.1212f, -75.0f},  // 60
    {"~goes-EN-02", "", 1586.0f, 944.0f, 1214, 883, 1.1212f, -75.0f},  // 61
    {"~goes-E-conus", "", 1548.0f, 974.0f, 1200, 1000, 1.12f, -75.0f}, // 62
    {"~goes-FD-01", "", 49.0f, -195.0f, 2976, 2705, 1.1212f, -75.0f},  // 63
    {"~goes-W-conus", "", 1548.0f, 418.0f, 1200, 1000, 1.12f, -135.0f}, // 64
    ROW_BASE("ITOT", "", 0.0f),                                        // 65
    ROW_BASE("Met-5-ITotN", "ITotN", 63.0f),                           // 66
    ROW_BASE("ITotN57", "", 57.5f),                                    // 67
    {"PDUS-E", "", 0.5f, 0.5f, 1250, 1250, 0.5f, -75.0f},              // 68
    {"PDUS-W", "", 0.5f, 0.5f, 1250, 1250, 0.5f, -135.0f},             // 69
    ROW_BASE("PDUS-X", "", 0.0f),                                      // 70
    ROW_BASE("PDUS-J", "", 140.0f),                                    // 71
    ROW_BASE("~GMSN", "", 140.0f),                                     // 72
    ROW_BASE("~GMSS", "", 140.0f),                                     // 73
    {"", "~GOES-E NE", 1109.0f, 40.0f, 800, 800, 0.561f, -75.0f},      // 74
    {"", "~GOES-E NW", 1109.0f, 1034.0f, 800, 800, 0.561f, -75.0f},    // 75
    {"", "~GOES-E SE", -22.0f, 40.0f, 800, 800, 0.561f, -75.0f},       // 76
    {"", "~GOES-E SW", -22.0f, 1034.0f, 800, 800, 0.561f, -75.0f},     // 77
    {"", "~GOES-E NWNE", 1109.0f, 40.0f, 1357, 800, 0.561f, -75.0f},   // 78
    {"", "~GOES-E NH", 1061.0f, 624.0f, 800, 800, 0.561f, -75.0f},     // 79
    {"", "~GOES-E US", 1563.0f, 1149.0f, 800, 800, 1.122f, -75.0f},    // 80
    {"", "~GOES-W NH", 1050.0f, 620.0f, 800, 800, 0.561f, -135.0f},    // 81
    {"", "LR", 150.0f, 300.0f, 800, 800, 0.6153846f, -75.0f},          // 82
    {"", "LY", 1150.0f, 750.0f, 800, 800, 0.6153846f, -75.0f},         // 83
    {"LZ", "", 1650.0f, 750.0f, 800, 800, 1.0f, -75.0f},               // 84
    {"gsfc-goes-E-fulldisk", "", -171.5f, -464.0f, 1200, 1000, 0.374f, -75.0f},   // 85
    {"gsfc-goes-W-fulldisk", "", -176.5f, -476.0f, 1200, 1000, 0.3736f, -135.0f}, // 86
    ROW_BASE("~gsfc-GMS", "", 140.0f),                                 // 87
    {"~seg_msfc_GoesE_north", "", 782.0f, 289.5f, 1978, 1827, 1.1212f, -75.0f},     // 88
    {"~seg_msfc_GoesW_fulldisk", "", 48.0f, 49.0f, 2970, 3689, 1.1212f, -135.0f},   // 89
    {"", "~seg_msfc_GoesE_fullres", -171.0f, -467.0f, 3600, 3000, 1.1216f, -75.0f}, // 90
    {"", "~seg_msfc_GoesW_fullres", -152.0f, -475.0f, 3600, 3000, 1.1216f, -135.0f}, // 91
    ROW_SIZED("GMS5-H", "", 800, 800, 140.0f),                         // 92
    {"~GOES8raw", "", 1442.2f, 944.0f, 8504, 3532, 7.85408f, -75.0f},  // 93
    ROW_BASE("GMS-1024", "", 140.0f),                                  // 94
    ROW_SIZED("GMS-1024-LCC", "", 1024, 1024, 140.0f),                 // 95
    ROW_SIZED("GMS-4096-LCC", "", 4096, 4096, 140.0f),                 // 96
    ROW_FIXED("MSG1-FD", "", 3712, 0.0f),                              // 97
    ROW_FIXED("MSG1-FD_north", "", 3712, 0.0f),                        // 98
    ROW_FIXED("MSG1-HRV", "", 11136, 0.0f),                            // 99
    ROW_FIXED("MSG1-HRV_north", "", 11136, 0.0f),                      // 100
    ROW_FIXED("MSG1-HRV_Africa", "", 11136, 0.0f),                     // 101
    ROW_FIXED("MSG1-HRV_Europe", "", 11136, 0.0f),                     // 102
    ROW_FIXED("MSG1-HRV_Wide", "", 11136, 0.0f),                       // 103
    ROW_FIXED("MSG1-HRV_Full", "", 11136, 0.0f),                       // 104
    ROW_FIXED("MSG1-HRVmini", "", 11136, 0.0f),                        // 105
    ROW_FIXED("MSG1-HRV_AfricaMini", "", 11136, 0.0f),                 // 106
    ROW_FIXED("MSG1-HRV_EuropeMini", "", 11136, 0.0f),                 // 107
    ROW_FIXED("MSG1-HRV_WideMini", "", 11136, 0.0f),                   // 108
    ROW_FIXED("MSG1-HRV_FullMini", "", 11136, 0.0f),                   // 109
    ROW_FIXED("MSG1-HRV_DundeeNorth", "", 11136, 0.0f),                // 110
    ROW_FIXED("MSG1-HRV_DundeeSouth", "", 5563, 0.0f),                 // 111
    ROW_FIXED("MSG-RapidScan-9.5E", "", 3712, 9.5f),                   // 112
    ROW_FIXED("MSG-RapidScan-HRV-Africa", "", 11136, 9.5f),            // 113
    ROW_FIXED("MSG-RapidScan-HRV-Europe", "", 11136, 9.5f),            // 114
    ROW_FIXED("MSG-RapidScan-HRV-Greenwich", "", 11136, 9.5f),         // 115
    ROW_FIXED("MSG-RapidScan-HRV-Wide", "", 11136, 9.5f),              // 116
    ROW_FIXED("MSG-RapidScan-HRV-Full", "", 11136, 9.5f),              // 117
    ROW_SIZED("MSG1-GMS", "", 2560, 2784, 140.0f),                     // 118
    ROW_FIXED("MSG-MTS", "", 2752, 140.0f),                            // 119
    ROW_BASE("MSG-MT2", "", 145.0f),                                   // 120
    ROW_BASE("MSG-MT2vis", "", 145.0f),                                // 121
    ROW_BASE("MSG-MT2visSH", "", 145.0f),                              // 122
    {"MSG1-GOES_E", "", -198.0f, -5.0f, 2816, 3248, 1.122f, -75.0f},   // 123
    {"MSG1-GOES_E_WV", "", -400.0f, -2.5f, 1408, 1856, 0.561f, -75.0f}, // 124
    {"MSG1-GOES_W", "", -196.0f, -4.5f, 2816, 3248, 1.1216f, -135.0f}, // 125
    {"MSG1-GOES_W_WV", "", -400.0f, -2.5f, 1408, 1856, 0.561f, -135.0f}, // 126
    ROW_SIZED("MSG1-CLAI", "", 1280, 1392, 0.0f),                      // 127
    ROW_SIZED("MSG1-CTH", "", 1320, 1436, 0.0f),                       // 128
    ROW_FIXED("MSG1-CTHa", "", 1238, 0.0f),                            // 129
    ROW_FIXED("FY2C-fulldisk", "", 2288, 105.0f),                      // 130
    ROW_BASE("FY2C-fulldisk-img", "", 105.0f),                         // 131
    ROW_SIZED("FY2C-1km", "", 9158, 9150, 105.0f),                     // 132
    ROW_FIXED("FY2D-fulldisk", "", 2288, 86.5f),                       // 133
    ROW_SIZED("FY2D-1km", "", 9158, 9150, 86.5f),                      // 134
    ROW_FIXED("MTSAT1-1km", "", 11008, 140.0f),                        // 135
    ROW_BASE("MTSat-CD", "", 140.0f),                                  // 136
    ROW_BASE("MTSat-ABCD", "", 140.0f),                                // 137
    ROW_BASE("MTSat-A", "", 140.0f),                                   // 138
    ROW_BASE("MTSat-B", "", 140.0f),                                   // 139
    ROW_BASE("MTSat-C", "", 140.0f),                                   // 140
    ROW_BASE("MTSat-D", "", 140.0f),                                   // 141
    ROW_SIZED("MTSat-800x812", "", 800, 812, 140.0f),                  // 142
    ROW_SIZED("MTSat-1700x1700", "", 1595, 1595, 140.0f),              // 143
    ROW_SIZED("Kalpana-704x704", "", 704, 704, 74.0f),                 // 144
    ROW_SIZED("ICAO-H", "", 1078, 877, 0.0f),                          // 145
    ROW_FIXED("GOMS-1", "GOMS1-4km", 2784, 76.0f),                     // 146
    ROW_FIXED("GOMS-2", "GOMS2-4km", 2784, 76.0f),                     // 147
    ROW_FIXED("Him-8-2km", "", 5500, 140.7f),                          // 148
    ROW_FIXED("MSG-FD-IODC", "", 3712, 41.5f),                         // 149
    ROW_FIXED("MSG-HRV_IODC_Full", "", 11136, 41.5f),                  // 150
    {"GOES-16 2km", "", 0.0f, 0.0f, 5424, 5424, 1.0f, -75.0f},         // 151
    {"GOES-R-1", "", 0.0f, 0.0f, 10848, 10848, 1.0f, -75.0f},          // 152
    {"GOES-17 2km", "", 0.0f, 0.0f, 5424, 5424, 1.0f, -137.0f},        // 153
    ROW_FIXED("FY2H-fulldisk", "", 2288, 79.0f),                       // 154
    ROW_SIZED("FY2H-1km", "", 9158, 9150, 79.0f),                      // 155
    ROW_SIZED("~world", "", 3600, 1800, 0.0f),                         // 156
#undef ROW_BASE
#undef ROW_FIXED
#undef ROW_SIZED
}};

// Rows placed on a fixed grid: k pixels per degree of scan angle and the grid origin.
struct TFixedGrid {
    long double K;
    long double Cx;
    long double Cy;
};

bool FixedGridOfRow(int row, TFixedGrid& g)
{
    constexpr long double kMsg = 208.165542602539L;
    constexpr long double kHrv = 624.496673583984L;
    constexpr long double kCloud = 69.3885192871094L;
    switch (row) {
    case 97: case 112: case 149: g = {kMsg, 1856, 1856}; return true;
    case 98: g = {kMsg, 1856, 1854}; return true;
    case 99: case 105: case 115: g = {kHrv, 2786, 5570}; return true;
    case 100: g = {kHrv, 5568.5L, 5565.5L}; return true;
    case 101: case 106: case 113: g = {kHrv, 2, 5570}; return true;
    case 102: case 103: case 107: case 108: case 114: case 116: g = {kHrv, 2114, 5570}; return true;
    case 104: case 109: case 117: case 150: g = {kHrv, 5570, 5570}; return true;
    case 110: g = {kHrv, 2090.5L, 5567.5L}; return true;
    // The line origin of this row is only known for the forward direction; the inverse uses
    // the same one so that both directions agree.
    case 111: g = {kHrv, -1, 2781.5L}; return true;
    case 118: g = {138.888885498047L, 1279.5L, 1391.5L}; return true;
    case 119: g = {156.145141601563L, 1375.5L, 1375.5L}; return true;
    case 127: g = {kCloud, 639.5L, 695.5L}; return true;
    case 128: g = {kCloud, 659.5L, 717.5L}; return true;
    case 129: g = {kCloud, 618.5L, 618.5L}; return true;
    case 130: case 133: case 154: g = {124.7L, 1144, 1144}; return true;
    case 132: case 134: case 155: g = {498.8L, 4579, 4575}; return true;
    case 135: g = {624.580581665039L, 5504, 5504}; return true;
    case 146: case 147: g = {156.124160766602L, 1392, 1392}; return true;
    case 148: g = {312.290573120117L, 2750, 2750}; return true;
    case 152: g = {623.331876L, 5424, 5424}; return true;
    default: return false;
    }
}

bool IsPresetRow(int row)
{
    return row == 92 || row == 95 || row == 96 || row == 143 || row == 145;
}

struct TPresets {
    TMapping Gms1024Lcc;  // row 95
    TMapping Gms4096Lcc;  // row 96
    TMapping Gms5H;       // row 92
    TMapping IcaoH;       // row 145
    TMapping MtSat1700;   // row 143

    TPresets()
    {
        // The first conic is configured twice: in the first pass the reference latitude
        // comes last and resets the parallels, the second pass sets them after it.
        ConfigureConic(Gms1024Lcc, 1024, 171, false);
        ConfigureConic(Gms1024Lcc, 1024, 171, true);
        ConfigureConic(Gms4096Lcc, 4096, 684, true);
        ConfigurePlain(Gms5H, 9, 800, 800, 135.0f, 35.45f, 46.6f, 137, 0);
        ConfigurePlain(IcaoH, 9, 877, 1078, -45.0f, 90.0f, 101.68f, -36, 306);
        ConfigurePlain(MtSat1700, 7, 1595, 0, 140.5f, 0.0f, 180.0f, 58, -52);
    }

    static void ConfigureConic(TMapping& m, int size, int originX, bool referenceFirst)
    {
        m.SetProjection(10);
        m.SetImageHeight(size);
        m.SetImageWidth(size);
        m.SetCentralLongitude(128.5f);
        if (referenceFirst)
            m.SetReferenceLatitude(25.7f);
        m.SetParallel1(44.5f);
        m.SetParallel2(44.0f);
        if (!referenceFirst)
            m.SetReferenceLatitude(25.7f);
        m.SetLatitudeSpan(46.6f);
        m.SetOriginX(originX);
        m.SetOriginY(0);
    }

    // columns 0: as wide as it is high.
    static void ConfigurePlain(TMapping& m, std::uint8_t kind, int lines, int columns,
                               float centralLongitude, float referenceLatitude, float latitudeSpan,
                               int originX, int originY)
    {
        m.SetProjection(kind);
        m.SetImageHeight(lines);
        m.SetImageWidth(columns != 0 ? columns : m.ImageHeight());
        m.SetCentralLongitude(centralLongitude);
        m.SetReferenceLatitude(referenceLatitude);
        m.SetLatitudeSpan(latitudeSpan);
        m.SetOriginX(originX);
        m.SetOriginY(originY);
    }
};

const TPresets& Presets()
{
    static const TPresets presets;
    return presets;
}

// Brings a longitude into [-180, 180) by one step at most, as the inverse needs.
long double WrapOnce(long double lon)
{
    if (lon >= 180.0L)
        lon -= 360.0L;
    else if (lon < -180.0L)
        lon += 360.0L;
    return lon;
}

// Stores a longitude that lies in [-180, 180) in single precision without letting it round
// up to 180.
float LongitudeToFloat(long double lon)
{
    float f = static_cast<float>(lon);
    if (f >= 180.0f)
        f -= 360.0f;
    return f;
}

template <typename T> long double Sq(T v)
{
    const long double l = v;
    return l * l;
}

// Scan angles in degrees of a geographic position seen from the satellite of the given
// Earth model; false when the point lies on the far side of the Earth.
bool ScanAngles(const TEarthModel& em, long double subLongitude, float Longitude, float Latitude,
                float& x, float& y)
{
    const long double a = em.EquatorialRadius, b = em.PolarRadius, H = em.SatelliteDistance;
    const long double dl = (Longitude - subLongitude) * kDegToRad;
    const float phic = static_cast<float>(std::atan(Sq(b / a) * std::tan(Latitude * kDegToRad)));
    const float rl = static_cast<float>(
        a * b / std::sqrt(Sq(b * std::cos(static_cast<long double>(phic))) +
                          Sq(a * std::sin(static_cast<long double>(phic)))));
    const long double cosPhic = std::cos(static_cast<long double>(phic));
    const float r1 = static_cast<float>(rl * cosPhic * std::cos(dl));
    const float r2 = static_cast<float>(rl * cosPhic * std::sin(dl));
    const float r3 = static_cast<float>(rl * std::sin(static_cast<long double>(phic)));
    const float test = static_cast<float>((H - r1) * r1 - Sq(r2) - Sq(r3) * Sq(a / b));
    if (!(test >= 0.0f))
        return false;
    x = static_cast<float>(std::atan(r2 / (H - r1)) * kRadToDeg);
    y = static_cast<float>(std::atan(r3 / std::sqrt(Sq(r2) + Sq(H - r1))) * kRadToDeg);
    return true;
}

// The line of sight at the scan angles x, y (radians) and the quadratic for the distance t
// from the satellite to the Earth along it.
struct TLineOfSight {
    long double Tx, Ty, S, A, B, D;
};

// False when the line of sight with the scan-angle tangents tx, ty misses the Earth.
bool LineOfSightFromTangents(const TEarthModel& em, long double tx, long double ty,
                             TLineOfSight& los)
{
    const long double a = em.EquatorialRadius, b = em.PolarRadius, H = em.SatelliteDistance;
    los.Tx = tx;
    los.Ty = ty;
    los.S = std::sqrt(los.Tx * los.Tx + 1.0L);
    const long double q = los.S * los.Ty * a / b;
    los.A = los.Tx * los.Tx + q * q + 1.0L;
    los.B = -2.0L * H;
    const long double C = H * H - a * a;
    los.D = los.B * los.B - 4.0L * los.A * C;
    return los.D >= 0.0L;
}

bool LineOfSight(const TEarthModel& em, long double x, long double y, TLineOfSight& los)
{
    return LineOfSightFromTangents(em, std::tan(x), std::tan(y), los);
}

// Geographic position where the line of sight at the scan angles x, y (radians) meets the
// Earth; off the disc the sub-satellite point with false.
bool ScanToGeo(const TEarthModel& em, long double subLongitude, long double x, long double y,
               float& Longitude, float& Latitude)
{
    TLineOfSight los;
    if (!LineOfSight(em, x, y, los)) {
        Longitude = LongitudeToFloat(WrapOnce(subLongitude));
        Latitude = 0.0f;
        return false;
    }
    const long double a = em.EquatorialRadius, b = em.PolarRadius, H = em.SatelliteDistance;
    const long double t = (-los.B - std::sqrt(los.D)) / (2.0L * los.A);
    const long double d = H - t;
    const long double lambda = std::atan(t * los.Tx / d);
    const long double phic = std::atan(std::cos(lambda) * t * los.S * los.Ty / d);
    Latitude = static_cast<float>(std::atan(std::tan(phic) / Sq(b / a)) * kRadToDeg);
    Longitude = LongitudeToFloat(WrapOnce(subLongitude + lambda * kRadToDeg));
    return true;
}

// The engine of the newer GOES rows, with constants of its own.
constexpr float kFgH = 42164.16f;
constexpr float kFgA = 6378.137f;
constexpr float kFgB = 6356.7523f;
constexpr float kFgF = static_cast<float>(1.0L / 298.257222101L);
constexpr long double kFgK = 311.665938L;
constexpr long double kFgC = 2712.0L;

long double FixedEngineLongitude(int row) { return row == 151 ? -75.0L : -137.0L; }

bool FixedEngineForward(int row, float Longitude, float Latitude, float& X, float& Y)
{
    const long double a = kFgA, b = kFgB, H = kFgH;
    const long double phi = Latitude * kDegToRad;
    const long double phic = std::atan(b * b / (a * a) * std::tan(phi));
    const long double e2 = (a * a - b * b) / (a * a);
    const long double rc = b / std::sqrt(1.0L - e2 * Sq(std::cos(phic)));
    const long double dl = (Longitude - FixedEngineLongitude(row)) * kDegToRad;
    const long double sx = H - rc * std::cos(phic) * std::cos(dl);
    const long double sy = rc * std::cos(phic) * std::sin(dl);
    const long double sz = rc * std::sin(phic);
    if (!(sx * (H - sx) - sy * sy - Sq(a / b) * sz * sz >= 0.0L && sx <= H)) {
        X = Y = 0.0f;
        return false;
    }
    const long double x = std::asin(sy / std::sqrt(sx * sx + sy * sy + sz * sz));
    const long double y = std::atan(sz / sx);
    X = static_cast<float>(x * kRadToDeg * kFgK + kFgC);
    Y = static_cast<float>(kFgC - y * kRadToDeg * kFgK);
    return true;
}

bool FixedEngineInverse(int row, long double X, long double Y, float& Longitude, float& Latitude)
{
    const long double a = kFgA, H = kFgH, f = kFgF;
    const long double x = kDegToRad * (X - kFgC) / kFgK;
    const long double y = kDegToRad * (kFgC - Y) / kFgK;
    const long double xp = std::atan(std::tan(x) / std::cos(y));
    const long double yp = std::asin(std::sin(y) * std::cos(x));
    const long double c2 = Sq(std::cos(yp)) + Sq(std::sin(yp)) / Sq(1.0L - f);
    const long double hc = H * std::cos(xp) * std::cos(yp);
    const long double sd2 = hc * hc - c2 * (H * H - a * a);
    if (!(sd2 >= 0.0L)) {
        Longitude = Latitude = 0.0f;
        return false;
    }
    const long double sn = (hc - std::sqrt(sd2)) / c2;
    const long double s1 = H - sn * std::cos(xp) * std::cos(yp);
    const long double s2 = sn * std::sin(xp) * std::cos(yp);
    const long double s3 = -sn * std::sin(yp);
    const long double sxy = std::sqrt(s1 * s1 + s2 * s2);
    const long double lon = (std::atan(s2 / s1) + FixedEngineLongitude(row) * kDegToRad) * kRadToDeg;
    Longitude = LongitudeToFloat(WrapOnce(lon));
    Latitude = static_cast<float>(std::atan(-s3 / sxy / Sq(1.0L - f)) * kRadToDeg);
    return true;
}

} // namespace

std::span<const TASegmentData, SegmentCount> SegmentTable() { return kSegments; }

const TASegmentData* SegmentData(int row)
{
    if (row < 1 || row > SegmentCount)
        return nullptr;
    return &kSegments[static_cast<std::size_t>(row - 1)];
}

TEarthModel EarthModelOfRow(int row)
{
    if ((row >= 97 && row <= 109) || (row >= 112 && row <= 119) || (row >= 127 && row <= 129) ||
        row == 135 || (row >= 148 && row <= 150))
        return {6356.584f, 6378.169f, 42164.0f};
    if (row >= 151 && row <= 153)
        return {6356.752f, 6378.137f, static_cast<float>(35786.023L + 6378.137L)};
    if (row == 130 || (row >= 132 && row <= 134) || row == 154 || row == 155)
        return {static_cast<float>(6378.169L * 0.9966471893352525L), 6378.169f, 42164.01f};
    return {6356.755f, 6378.140f, 42155.0f};
}

const TMapping* SegmentPreset(int row)
{
    const TPresets& p = Presets();
    switch (row) {
    case 92: return &p.Gms5H;
    case 95: return &p.Gms1024Lcc;
    case 96: return &p.Gms4096Lcc;
    case 143: return &p.MtSat1700;
    case 145: return &p.IcaoH;
    default: return nullptr;
    }
}

// ---------------------------------------------------------------------------------------------

TSegmentMapping::TSegmentMapping() = default;

int TSegmentMapping::ImageHeight() const
{
    const TASegmentData* s = SegmentData(SegmentIndex);
    return s ? s->Lines : 0;
}

int TSegmentMapping::ImageWidth() const
{
    const TASegmentData* s = SegmentData(SegmentIndex);
    return s ? s->Columns : 0;
}

void TSegmentMapping::Assign(const TMapping& source)
{
    TMapping::Assign(source);
    if (const auto* seg = dynamic_cast<const TSegmentMapping*>(&source))
        SegmentIndex = seg->SegmentIndex;
}

void TSegmentMapping::DrawGraticule(TExtBitmap* Bitmap, int LonStep, int LatStep,
                                    TColor LabelColour, TColor LineColour, int OffsetX, int OffsetY,
                                    bool NoLabels, std::uint8_t SpecialLines, TColor HaloColour)
{
    // The base drawer only draws for a real projection kind; every point still goes through
    // this class's GeoToPixel. The labels of the parallels go beside the meridian nearest the
    // centre longitude, which for this picture is the satellite's own; longitude 0 would be
    // behind the Earth for most rows and leave the parallels without labels.
    const float savedCentre = CentralLongitude;
    const TASegmentData* seg = SegmentData(SegmentIndex);
    SetProjection(7);
    if (seg != nullptr)
        SetCentralLongitude(LongitudeToFloat(WrapOnce(SubSatelliteLongitude(*seg))));
    TMapping::DrawGraticule(Bitmap, LonStep, LatStep, LabelColour, LineColour, OffsetX, OffsetY,
                            NoLabels, SpecialLines, HaloColour);
    SetCentralLongitude(savedCentre);
    SetProjection(0);
}

bool TSegmentMapping::GeoToSegmentXY(float& X, float& Y, float Longitude, float Latitude) const
{
    const int row = SegmentIndex;
    const TASegmentData* seg = SegmentData(row);
    X = Y = 0.0f;
    if (seg == nullptr)
        return false;
    if (row == 151 || row == 153)
        return FixedEngineForward(row, Longitude, Latitude, X, Y);
    if (row == 156) {
        long double lon = Longitude;
        if (!std::isfinite(lon) || !std::isfinite(static_cast<long double>(Latitude)))
            return false;
        lon = std::fmod(lon, 360.0L);
        if (lon >= 180.0L)
            lon -= 360.0L;
        else if (lon < -180.0L)
            lon += 360.0L;
        X = static_cast<float>(std::trunc(seg->Columns * (lon + 180.0L) / 360.0L));
        Y = static_cast<float>(std::trunc(seg->Lines * (90.0L - Latitude) / 180.0L));
        return true;
    }
    if (IsPresetRow(row)) {
        int ix = 0, iy = 0;
        const bool ok = SegmentPreset(row)->GeoToPixel(ix, iy, Longitude, Latitude);
        X = static_cast<float>(ix);
        Y = static_cast<float>(iy);
        return ok;
    }

    float x = 0.0f, y = 0.0f;
    if (!ScanAngles(EarthModelOfRow(row), SubSatelliteLongitude(*seg), Longitude, Latitude, x, y))
        return false;
    if (row == 93)
        y = static_cast<float>(y * 16.0L / 28.0L);

    TFixedGrid grid;
    if (FixedGridOfRow(row, grid)) {
        X = static_cast<float>(grid.K * x + grid.Cx);
        Y = static_cast<float>(grid.Cy - grid.K * y);
        return true;
    }
    float xb = static_cast<float>((1249.5L - x / 0.0072L) - seg->ColumnOffset);
    float yb = static_cast<float>((y / 0.0072L + 1249.5L) - seg->LineOffset);
    xb = static_cast<float>((xb + 0.5L) * seg->PixelFactor - 0.5L);
    yb = static_cast<float>((yb + 0.5L) * seg->PixelFactor - 0.5L);
    X = static_cast<float>(static_cast<long double>(seg->Columns - 1) - xb);
    Y = static_cast<float>(static_cast<long double>(seg->Lines - 1) - yb);
    return true;
}

bool TSegmentMapping::GeoToPixel(int& X, int& Y, float Longitude, float Latitude) const
{
    float fx = 0.0f, fy = 0.0f;
    const bool ok = GeoToSegmentXY(fx, fy, Longitude, Latitude);
    return PlacePixel(X, Y, fx / static_cast<long double>(PixelScale), fy / static_cast<long double>(PixelScale), ok);
}

bool TSegmentMapping::PixelToGeo(int X, int Y, float& Longitude, float& Latitude) const
{
    const int row = SegmentIndex;
    const TASegmentData* seg = SegmentData(row);
    if (seg == nullptr)
        return false;
    const float px = static_cast<float>(static_cast<long double>(X) - OriginX());
    const float py = static_cast<float>(static_cast<long double>(Y) + OriginY());

    if (row == 151 || row == 153)
        return FixedEngineInverse(row, px, py, Longitude, Latitude);
    if (row == 156) {
        if (!(px >= 0 && px < seg->Columns && py >= 0 && py < seg->Lines))
            return false;
        long double lon = ((px + 0.5L) / seg->Columns - 0.5L) * 360.0L;
        if (lon >= 180.0L)
            lon -= 360.0L;
        Longitude = LongitudeToFloat(lon);
        Latitude = static_cast<float>(((py + 0.5L) / seg->Lines - 0.5L) * -180.0L);
        return true;
    }
    if (IsPresetRow(row)) {
        int ix = 0, iy = 0;
        if (!RoundToInt(px, ix) || !RoundToInt(py, iy))
            return false;
        return SegmentPreset(row)->PixelToGeo(ix, iy, Longitude, Latitude);
    }

    long double x = 0, y = 0;
    GenericScanAngles(row, *seg, px, py, x, y);
    return ScanToGeo(EarthModelOfRow(row), SubSatelliteLongitude(*seg), x, y, Longitude, Latitude);
}

long double TSegmentMapping::SubSatelliteLongitude(const TASegmentData& seg) const
{
    return static_cast<long double>(seg.NominalLongitude) + static_cast<long double>(LongitudeOffset);
}

void TSegmentMapping::GenericScanAngles(int row, const TASegmentData& seg, float px, float py,
                                        long double& x, long double& y)
{
    TFixedGrid grid;
    if (FixedGridOfRow(row, grid)) {
        x = kDegToRad * (px - grid.Cx) / grid.K;
        y = kDegToRad * (grid.Cy - py) / grid.K;
        return;
    }
    const long double pf = seg.PixelFactor;
    x = -kDegToRad * 0.0072L *
        (((seg.Columns - 1 - static_cast<long double>(px) + 0.5L) / pf - 0.5L + seg.ColumnOffset) - 1249.5L);
    y = kDegToRad * 0.0072L *
        (((seg.Lines - 1 - static_cast<long double>(py) + 0.5L) / pf - 0.5L + seg.LineOffset) - 1249.5L);
    // This row's lines were squeezed by 16/28 on the way out; undo it.
    if (row == 93)
        y = y * 28.0L / 16.0L;
}

bool TSegmentMapping::ScanTangents(int X, int Y, long double& tx, long double& ty) const
{
    const int row = SegmentIndex;
    const TASegmentData* seg = SegmentData(row);
    if (seg == nullptr || row == 151 || row == 153 || row == 156 || IsPresetRow(row))
        return false;
    const float px = static_cast<float>(static_cast<long double>(X) - OriginX());
    const float py = static_cast<float>(static_cast<long double>(Y) + OriginY());
    long double x = 0, y = 0;
    GenericScanAngles(row, *seg, px, py, x, y);
    tx = std::tan(x);
    ty = std::tan(y);
    return true;
}

bool TSegmentMapping::ScanAngleGrid(long double& x0, long double& dx, long double& y0, long double& dy) const
{
    long double tx = 0, ty = 0;
    if (!ScanTangents(0, 0, tx, ty))
        return false;
    const TASegmentData& seg = *SegmentData(SegmentIndex);
    // Taken from the very formula PixelToGeo uses, so the grid cannot drift from it; the far
    // corner is a whole number of pixels away, which a float pixel position holds exactly.
    constexpr int far = 1 << 16;
    const auto at = [&](int X, int Y, long double& x, long double& y) {
        GenericScanAngles(SegmentIndex, seg, static_cast<float>(static_cast<long double>(X) - OriginX()),
                          static_cast<float>(static_cast<long double>(Y) + OriginY()), x, y);
    };
    long double x1 = 0, y1 = 0;
    at(0, 0, x0, y0);
    at(far, far, x1, y1);
    dx = (x1 - x0) / far;
    dy = (y1 - y0) / far;
    return true;
}

long double TSegmentMapping::SubSatelliteLongitude() const
{
    const TASegmentData* seg = SegmentData(SegmentIndex);
    return seg ? SubSatelliteLongitude(*seg) : 0.0L;
}

bool TSegmentMapping::TangentsOnDisc(long double tx, long double ty) const
{
    TLineOfSight los;
    return LineOfSightFromTangents(EarthModelOfRow(SegmentIndex), tx, ty, los);
}

bool TSegmentMapping::PixelOnDisc(int X, int Y) const
{
    long double tx = 0, ty = 0;
    if (ScanTangents(X, Y, tx, ty))
        return TangentsOnDisc(tx, ty);
    float lon = 0, lat = 0;
    return PixelToGeo(X, Y, lon, lat);
}
