#include "tools/synth/SynthScene.h"

#include "tools/synth/SynthGeometry.h"
#include "mapping/MathConst.h"

#include <algorithm>
#include <cmath>

namespace synth {
namespace {

constexpr double kRad = orvanta::geo::kDegToRadDouble;

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

} // namespace

std::uint64_t MixBits(std::uint64_t h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

namespace {

// The weather is a sequence of states twelve hours apart; each drifts with the winds and
// fades into the next, so consecutive scans show the same clouds moved on a little.
constexpr double kStateHours = 12.0;

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

TScene::TScene(std::uint64_t seed, const TLandMask& land)
    : perm_(2 * kPeriod), lattice_(kPeriod), land_(land)
{
    std::uint64_t h = MixBits(seed + 0x5EED);
    for (int i = 0; i < kPeriod; ++i) {
        perm_[i] = static_cast<std::uint16_t>(i);
        h = MixBits(h + i);
        lattice_[i] = static_cast<float>(static_cast<double>(h >> 11) * (2.0 / 9007199254740992.0) - 1.0);
    }
    for (int i = kPeriod - 1; i > 0; --i) { // Fisher-Yates, from the seed
        h = MixBits(h + i);
        std::swap(perm_[i], perm_[h % static_cast<std::uint64_t>(i + 1)]);
    }
    for (int i = 0; i < kPeriod; ++i)
        perm_[kPeriod + i] = perm_[i];
}

void TScene::SetTime(std::int64_t unixSeconds)
{
    const double hours = unixSeconds / 3600.0;
    state_ = static_cast<std::int64_t>(std::floor(hours / kStateHours));
    stateFraction_ = hours / kStateHours - static_cast<double>(state_);
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

double TScene::Noise(double x, double y, double z, int salt) const
{
    // Each salt shifts the field far along the lattice: an independent-looking field.
    x += salt * 397.13;
    y += salt * 211.71;
    z += salt * 123.37;
    const double fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
    const int ix = static_cast<int>(static_cast<std::int64_t>(fx) & (kPeriod - 1));
    const int iy = static_cast<int>(static_cast<std::int64_t>(fy) & (kPeriod - 1));
    const int iz = static_cast<int>(static_cast<std::int64_t>(fz) & (kPeriod - 1));
    const double u = Fade(x - fx), v = Fade(y - fy), w = Fade(z - fz);
    const int ix1 = (ix + 1) & (kPeriod - 1), iy1 = (iy + 1) & (kPeriod - 1), iz1 = (iz + 1) & (kPeriod - 1);
    auto at = [&](int a, int b, int c) { return lattice_[perm_[perm_[perm_[a] + b] + c]]; };
    auto lerp = [](double a, double b, double t) { return a + (b - a) * t; };
    const double x00 = lerp(at(ix, iy, iz), at(ix1, iy, iz), u);
    const double x10 = lerp(at(ix, iy1, iz), at(ix1, iy1, iz), u);
    const double x01 = lerp(at(ix, iy, iz1), at(ix1, iy, iz1), u);
    const double x11 = lerp(at(ix, iy1, iz1), at(ix1, iy1, iz1), u);
    return lerp(lerp(x00, x10, v), lerp(x01, x11, v), w);
}

double TScene::Fbm(double x, double y, double z, int octaves, int salt) const
{
    double sum = 0, amplitude = 0.5, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * Noise(x, y, z, salt + o);
        norm += amplitude;
        x *= 2.03;
        y *= 2.03;
        z *= 2.03;
        amplitude *= 0.5;
    }
    return sum / norm * 1.6; // roughly -1..1
}

TScene::TWeather TScene::WeatherState(float lon, float lat, double hoursFromState, int state) const
{
    // Easterlies in the tropics, westerlies further out.
    const double absLat = std::fabs(lat);
    const double drift = (-0.25 + 0.75 * Smoothstep(18.0, 38.0, absLat)) * hoursFromState;
    const double phi = lat * kRad, wLon = (lon - drift) * kRad;
    const double cosPhi = std::cos(phi);
    double x = cosPhi * std::cos(wLon), y = cosPhi * std::sin(wLon), z = std::sin(phi);
    const int salt = static_cast<int>(((state % 512) + 512) % 512) * 40;
    // Warping the position by a smooth field curls the clouds into swirls and bands,
    // most in the storm belts.
    const double warp = 0.12 + 0.22 * Bump(absLat, 48.0, 14.0);
    const double qx = Fbm(x * 2.1, y * 2.1, z * 2.1, 3, salt + 140), qy = Fbm(x * 2.1, y * 2.1, z * 2.1, 3, salt + 150),
                 qz = Fbm(x * 2.1, y * 2.1, z * 2.1, 3, salt + 160);
    x += warp * qx;
    y += warp * qy;
    z += warp * qz;
    TWeather w;
    w.Clouds = Fbm(x * 3.2, y * 3.2, z * 3.2, 8, salt + 100);
    w.Cumulus = Fbm(x * 110, y * 110, z * 110, 3, salt + 170);
    w.Height = Fbm(x * 5, y * 5, z * 5, 4, salt + 110);
    w.Thickness = Fbm(x * 9, y * 9, z * 9, 5, salt + 120);
    w.Dryness = Fbm(x * 4, y * 4, z * 4, 4, salt + 130);
    return w;
}

bool TScene::IsLand(float lon, float lat, double px, double py, double pz) const
{
    if (!land_.Empty())
        return land_.At(lon, lat) != 0;
    // No shoreline data: continents of our own, with an ice cap at the south pole.
    if (lat < -70.0f)
        return true;
    return Fbm(px * 1.4, py * 1.4, pz * 1.4, 5, 1) > 0.25;
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
    // ... the weather fades from one state into the next, each drifting with the winds.
    const double f = stateFraction_;
    const TWeather w0 = WeatherState(lon, lat, f * kStateHours, static_cast<int>(state_ % 100000));
    const TWeather w1 = WeatherState(lon, lat, (f - 1.0) * kStateHours, static_cast<int>((state_ + 1) % 100000));
    // Blending two independent fields flattens them; the norm restores their contrast.
    const double blend = 1.0 / std::sqrt((1 - f) * (1 - f) + f * f);
    auto mixed = [&](double TWeather::*field) { return ((1 - f) * w0.*field + f * w1.*field) * blend; };

    const double mu0 = CosSolarZenith(lon, lat);
    const double day = Smoothstep(-0.05, 0.15, mu0);
    const double muSat = std::max(0.08, CosSatelliteZenith(lon, lat, viewLongitude_));
    const double slant = std::min(1.0 / muSat - 1.0, 8.0);
    const double seasonLat = lat - 0.35 * declination_ / kRad; // the climate follows the sun

    // Surface.
    const double sea = 271.5 + 31.0 * std::pow(std::cos(seasonLat * kRad), 2.0) -
                       3.0 * Region(lon, lat, -15, 2, -110, -80, 6); // cold tongue off South America
    const double texture = Fbm(px * 12, py * 12, pz * 12, 5, 2);
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
    const double n = mixed(&TWeather::Clouds);
    const double chance = 0.42 + 0.35 * itcz + 0.3 * storms - 0.3 * subtropics + 0.35 * deck;
    // Broken low cloud (trade cumulus, the cells of the stratocumulus decks) where the
    // large-scale cloud leaves the sky open.
    const double cumulus = Smoothstep(0.3, 0.8, mixed(&TWeather::Cumulus) + 0.3 * deck - 0.15 * storms) *
                           Smoothstep(-0.55, 0.05, n + 0.4 * deck) * (0.3 + 0.5 * deck) * (land ? 0.5 : 1.0);
    const double large = Smoothstep(0.42, 0.64, chance + 0.55 * n);
    const double cover = std::max(large, cumulus);
    const double lowOnly = cover > 0 ? (cover - large) / cover : 0.0;
    const double height = std::clamp(0.3 + 0.45 * mixed(&TWeather::Height) + 0.5 * itcz * cover +
                                         0.2 * storms * cover - 0.55 * deck - 0.5 * lowOnly, 0.02, 1.0);
    const double thick = 0.5 + 0.5 * mixed(&TWeather::Thickness);
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
    const double dry = mixed(&TWeather::Dryness);
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
