#include "tools/synth/SynthScene.h"

#include "tools/synth/SynthGeometry.h"

#include <algorithm>
#include <cmath>

namespace synth {
namespace {

constexpr double kRad = M_PI / 180.0;

double Smoothstep(double e0, double e1, double x)
{
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

double Bump(double x, double centre, double width)
{
    const double d = (x - centre) / width;
    return std::exp(-d * d);
}

std::uint64_t Mix(std::uint64_t h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

double Lattice(std::int64_t x, std::int64_t y, std::int64_t z, std::uint64_t salt)
{
    std::uint64_t h = Mix(salt ^ static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ULL);
    h = Mix(h ^ static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4FULL);
    h = Mix(h ^ static_cast<std::uint64_t>(z) * 0x165667B19E3779F9ULL);
    return static_cast<double>(h >> 11) * (2.0 / 9007199254740992.0) - 1.0; // [-1, 1)
}

double Fade(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }

// Rectangular patches (lat range, lon range) with soft edges.
double Region(float lon, float lat, double south, double north, double west, double east, double edge)
{
    return Smoothstep(south - edge, south + edge, lat) * (1 - Smoothstep(north - edge, north + edge, lat)) *
           Smoothstep(west - edge, west + edge, lon) * (1 - Smoothstep(east - edge, east + edge, lon));
}

} // namespace

float TSceneSample::KelvinOfBand(int band) const
{
    switch (band) {
    case 2: return Kelvin39;
    case 3: return Kelvin65;
    case 4: return Kelvin107;
    case 6: return Kelvin133;
    default: return 0.0f;
    }
}

TScene::TScene(std::uint64_t seed, const TLandMask& land) : seed_(Mix(seed + 0x5EED)), land_(land) {}

void TScene::SetTime(std::int64_t unixSeconds)
{
    hours_ = unixSeconds / 3600.0;
    const double days = unixSeconds / 86400.0;
    // Day of the year and the time of day, near enough for a sun over a picture.
    const double dayOfYear = std::fmod(days - 10957.5 + 365.25 * 100, 365.2422); // from 2000-01-01 12:00
    declination_ = 23.44 * kRad * std::sin(2 * M_PI * (dayOfYear - 80.0) / 365.2422);
    const double utcHours = std::fmod(days, 1.0) * 24.0;
    subSolarLon_ = (12.0 - utcHours) * 15.0;
}

double TScene::CosSolarZenith(float lon, float lat) const
{
    const double phi = lat * kRad;
    const double h = (lon - subSolarLon_) * kRad;
    return std::sin(phi) * std::sin(declination_) + std::cos(phi) * std::cos(declination_) * std::cos(h);
}

double TScene::Noise(double x, double y, double z, std::uint64_t salt) const
{
    const double fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
    const auto ix = static_cast<std::int64_t>(fx), iy = static_cast<std::int64_t>(fy),
               iz = static_cast<std::int64_t>(fz);
    const double u = Fade(x - fx), v = Fade(y - fy), w = Fade(z - fz);
    const std::uint64_t s = seed_ ^ salt;
    auto lerp = [](double a, double b, double t) { return a + (b - a) * t; };
    const double x00 = lerp(Lattice(ix, iy, iz, s), Lattice(ix + 1, iy, iz, s), u);
    const double x10 = lerp(Lattice(ix, iy + 1, iz, s), Lattice(ix + 1, iy + 1, iz, s), u);
    const double x01 = lerp(Lattice(ix, iy, iz + 1, s), Lattice(ix + 1, iy, iz + 1, s), u);
    const double x11 = lerp(Lattice(ix, iy + 1, iz + 1, s), Lattice(ix + 1, iy + 1, iz + 1, s), u);
    return lerp(lerp(x00, x10, v), lerp(x01, x11, v), w);
}

double TScene::Fbm(double x, double y, double z, int octaves, std::uint64_t salt) const
{
    double sum = 0, amplitude = 0.5, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * Noise(x, y, z, salt + o * 0x1000193ULL);
        norm += amplitude;
        x = x * 2.03 + 17.1;
        y = y * 2.03 - 5.7;
        z = z * 2.03 + 3.3;
        amplitude *= 0.5;
    }
    return sum / norm * 1.6; // roughly -1..1
}

bool TScene::IsLand(float lon, float lat, double px, double py, double pz) const
{
    if (!land_.Empty())
        return land_.At(lon, lat) != 0;
    // No shoreline data: continents of our own, with an ice cap at the south pole.
    if (lat < -70.0f)
        return true;
    return Fbm(px * 1.4, py * 1.4, pz * 1.4, 5, 0x1A4D) > 0.25;
}

TSceneSample TScene::Space()
{
    TSceneSample s;
    s.Reflectance = 0.0f;
    s.Kelvin39 = s.Kelvin65 = s.Kelvin107 = s.Kelvin133 = 3.0f;
    return s;
}

TSceneSample TScene::At(float lon, float lat) const
{
    if (!std::isfinite(lon) || !std::isfinite(lat))
        return Space();
    const double phi = lat * kRad;
    const double absLat = std::fabs(lat);
    const double cosPhi = std::cos(phi);
    // Fixed surface features use the position itself ...
    const double px = cosPhi * std::cos(lon * kRad), py = cosPhi * std::sin(lon * kRad), pz = std::sin(phi);
    const bool land = IsLand(lon, lat, px, py, pz);
    // ... the weather drifts: easterlies in the tropics, westerlies further out, and it
    // slowly changes shape with time.
    const double drift = (-0.25 + 0.75 * Smoothstep(18.0, 38.0, absLat)) * hours_;
    const double wLon = (lon - drift) * kRad;
    const double wx = cosPhi * std::cos(wLon), wy = cosPhi * std::sin(wLon), wz = std::sin(phi);
    const double evolve = hours_ * 0.02;

    const double mu0 = CosSolarZenith(lon, lat);
    const double day = Smoothstep(-0.05, 0.15, mu0);
    const double muSat = std::max(0.08, CosSatelliteZenith(lon, lat));
    const double slant = std::min(1.0 / muSat - 1.0, 8.0);
    const double seasonLat = lat - 0.35 * declination_ / kRad; // the climate follows the sun

    // Surface.
    const double sea = 271.5 + 31.0 * std::pow(std::cos(seasonLat * kRad), 2.0) -
                       3.0 * Region(lon, lat, -15, 2, -110, -80, 6); // cold tongue off South America
    const double texture = Fbm(px * 12, py * 12, pz * 12, 4, 0x7E47);
    double surfaceK, albedo;
    const bool polarIce = (land && lat < -60.0f) || (!land && lat < -64.0f);
    if (polarIce) {
        surfaceK = 238.0 + 12.0 * Smoothstep(-80.0, -64.0, lat) + 3.0 * texture;
        albedo = 0.72 + 0.05 * texture;
    } else if (land) {
        const double desert = Region(lon, lat, 14, 36, -125, -95, 5) + 0.6 * Region(lon, lat, -30, -5, -75, -65, 4);
        surfaceK = sea - 2.0 + (16.0 + 8.0 * desert) * std::max(0.0, mu0) - 7.0 * (1.0 - day) - 5.0 * std::max(0.0, texture) -
                   12.0 * Smoothstep(55.0, 70.0, lat);
        albedo = 0.13 + 0.14 * desert + 0.04 * texture;
    } else {
        surfaceK = sea + 0.6 * texture;
        albedo = 0.055;
    }

    // Weather.
    const double itcz = Bump(lat, 6.0 + 0.3 * declination_ / kRad, 5.5);
    const double storms = Bump(absLat, 48.0, 11.0);
    const double subtropics = Bump(absLat, 24.0, 8.0);
    const double deck = (land ? 0.0 : 1.0) * std::max(Region(lon, lat, 18, 38, -150, -117, 5), Region(lon, lat, -30, -4, -105, -72, 5));
    const double n = Fbm(wx * 3.2, wy * 3.2, wz * 3.2 + evolve, 6, 0xC10D);
    const double chance = 0.42 + 0.35 * itcz + 0.3 * storms - 0.3 * subtropics + 0.35 * deck;
    const double cover = Smoothstep(0.35, 0.7, chance + 0.55 * n);
    const double height = std::clamp(0.3 + 0.45 * Fbm(wx * 5, wy * 5, wz * 5 - evolve, 4, 0x4E16) + 0.5 * itcz * cover +
                                         0.2 * storms * cover - 0.55 * deck, 0.02, 1.0);
    const double thick = 0.5 + 0.5 * Fbm(wx * 9, wy * 9, wz * 9, 3, 0x7C1C);
    const double tropopause = 196.0 + 22.0 * Smoothstep(10.0, 50.0, absLat);
    const double cloudTopK = sea - 4.0 - height * (sea - 4.0 - tropopause);
    const double emissivity = cover * (0.45 + 0.55 * std::clamp(thick + 0.4 * (1.0 - height), 0.0, 1.0));
    const double cloudAlbedo = 0.3 + 0.5 * std::clamp(thick * (0.6 + 0.4 * cover) + 0.3 * deck, 0.0, 1.0);

    TSceneSample s;
    // Visible: sunlight on surface and clouds, plus the haze that brightens the limb.
    const double reflect = albedo * (1.0 - cover) + cloudAlbedo * cover;
    const double sun = std::max(0.0, mu0);
    s.Reflectance = static_cast<float>(100.0 * (reflect * std::pow(sun, 0.9) + 0.035 * sun * std::min(slant, 3.0)));

    // 10.7 um window: surface through a little water vapour, or the cloud top.
    const double clearK = surfaceK - 1.5 - 2.5 * Bump(lat, 0.0, 25.0);
    const double windowK = (1.0 - emissivity) * clearK + emissivity * cloudTopK;
    s.Kelvin107 = static_cast<float>(windowK - 2.2 * slant);
    // 13.3 um sees the middle troposphere; strong limb darkening.
    s.Kelvin133 = static_cast<float>(0.5 * windowK + 0.5 * (tropopause + 30.0) - 4.0 * slant);
    // 6.5 um: upper-level moisture, dry (warm) in the subtropics, moist (cold) in the
    // tropics and under high cloud.
    const double dry = Fbm(wx * 4, wy * 4, wz * 4 + evolve, 4, 0x0D27);
    const double vapourK = 236.0 + 9.0 * subtropics - 6.0 * itcz + 7.0 * dry;
    const double high = emissivity * Smoothstep(0.35, 0.8, height);
    s.Kelvin65 = static_cast<float>((1.0 - high) * vapourK + high * std::min(vapourK, cloudTopK) - 3.0 * slant);
    // 3.9 um: reflected sunshine by day (bright low cloud and hot land), and low cloud
    // colder than the 10.7 um window at night.
    const double lowCloud = emissivity * (1.0 - height);
    s.Kelvin39 = static_cast<float>(windowK + 1.0 - 2.0 * slant +
                                    sun * (28.0 * lowCloud + 12.0 * emissivity * height + (land ? 9.0 : 2.0) * (1.0 - cover)) -
                                    (1.0 - day) * 5.0 * lowCloud);
    return s;
}

} // namespace synth
