#pragma once
// The layout of the composite pictures, defined once: the row of the segment table and the
// shift of the satellite that give their mapping, their size, and the greys of space around
// the Earth. The station, the built-in mask, the geolocation check and the sample feed all
// take it from here, so they cannot drift apart.

#include <cstddef>
#include <cstdint>

class TSegmentMapping;

// Row "MSG1-GOES_W" of the segment table, nominally at 135 W. Unless told otherwise the
// satellite stands 7 degrees east of that, at 128 W, where GOES-15 stood from late 2018.
inline constexpr int CompositeSegmentRow = 125;
inline constexpr float CompositeLongitudeOffset = 7.0f;
inline constexpr float CompositeSatelliteLongitude = -128.0f;

// The shift of the row's satellite that puts it above satelliteLongitude (degrees east):
// exactly CompositeLongitudeOffset for CompositeSatelliteLongitude.
float CompositeLongitudeOffsetFor(double satelliteLongitude);

inline constexpr int CompositeWidth = 2816;
inline constexpr int CompositeHeight = 3248;

// Visible images fade to near-black space, infrared ones to near-white (cold) space.
constexpr std::uint8_t CompositeBackground(std::size_t channelIndex) { return channelIndex == 0 ? 16 : 240; }
constexpr std::uint8_t OffEarthValue(std::size_t channelIndex) { return channelIndex == 0 ? 0 : 255; }

// A mapping set to the composite's layout, the satellite shifted by longitudeOffset.
TSegmentMapping CompositeMapping(float longitudeOffset = CompositeLongitudeOffset);
// The same with the satellite above satelliteLongitude (degrees east).
TSegmentMapping CompositeMappingAt(double satelliteLongitude);
