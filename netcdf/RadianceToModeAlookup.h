#pragma once
// Infrared radiance (mW/(m^2 sr cm^-1)) to the imager's mode-A display count: cold scenes
// bright, warm scenes dark. One step table per band, indexed by the radiance times 1000.

#include <cstdint>
#include <span>
#include <string>

// The count of a radiance for band 2, 3, 4 or 6; 0 for any other band, for radiances off
// the band's table and for values that are not numbers.
int RadianceToModeA(int band, double radiance);

// The band's table: entry i is the count of indices i (radiance x 1000, truncated); indices
// past the end give 0. Empty for bands without a table.
std::span<const std::uint8_t> ModeATable(int band);

// RadianceToModeA over a row of samples as a file stores them (single precision), into
// counts. Gives the same counts as the per-sample function.
void RadiancesToModeA(int band, std::span<const float> radiances, std::uint8_t* counts);

// What a mode-A count says about the scene, for readers of the counts without this program:
// the brightness temperature each count stands for (empty for bands without a table).
std::string ModeAMeaning(int band);

// The count scale of the infrared calibration, shared by every imager: colder than 180 K
// (or no temperature at all) is 255, then one count per kelvin down to 242 K and two per
// kelvin above, rounded half up and never below 0.
int KelvinToCount(double kelvin);

// Inverse of the count scale the infrared calibration writes: two counts per kelvin above
// 242 K, one per kelvin below. The one reading of a grey value as a temperature, for the
// viewer's readout and the colour tables alike.
float CountToKelvin(std::uint8_t count);
