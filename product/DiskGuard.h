#pragma once
// Free space of the file systems the station writes (the raw archive, the images and its own
// state). A station that runs for months must not fill a disk: below MinFreeMB it takes no
// more files, and a file is only written when the room it needs leaves that much free.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bzip2/BZ2files.h"
#include "settings/ProgramSettings.h"
#include "settings/StationSettings.h"

// The bytes an unprivileged writer may still use on the directory's file system; nullopt when
// it cannot be measured (the directory is missing).
std::optional<std::uint64_t> FreeBytes(const std::string& directory);

// The raw archive, the image and the state directory, each once.
std::vector<std::string> WrittenDirectories(const TStationSettings& settings);

// MinFreeMB in bytes (0 when the setting is no number: the cycle refuses such settings first).
std::uint64_t MinFreeBytes(const TStationSettings& settings);

// "Disk low: <dir> has N MB free, below the limit of M MB; files wait in the incoming
// directory" for the first directory written that is below the limit; empty when none is.
std::string DiskLowLine(const TStationSettings& settings);

// Why `bytes` more in the directory would leave less than the limit free, as a failure reason;
// empty when there is room (or the free space cannot be measured: the write itself will tell).
std::string RoomProblem(const TStationSettings& settings, const std::string& directory, std::uint64_t bytes);

// Larger than any real compressed scan can be (its decompressed content is capped at the same
// size): such a file is refused as a data fault, never copied into the archive.
inline constexpr std::uint64_t MaxIncomingFileSize = MaxDecompressedSize;
// What a kept decompressed scan is counted at, per compressed byte, before it is known.
inline constexpr std::uint64_t DecompressedPerCompressed = 10;

// The most the images of one file may take: each kind on (ImageKinds.h), at the composite's
// size.
std::uint64_t ImageRoomNeeded(const TStationSettings& settings);

// RoomProblem for an incoming file of `size` bytes about to be archived: its copy, and its
// decompressed content when that is kept, in the raw archive, and the images it makes.
std::string FileRoomProblem(const TStationSettings& settings, const std::string& path, std::uint64_t size);

// RoomProblem for moving a file into a directory: none when both lie on one file system (a
// rename), else the file's size there.
std::string MoveRoomProblem(const TStationSettings& settings, const std::string& path, const std::string& directory);

// Whole megabytes (MiB), rounded down, as the limit is given.
std::uint64_t WholeMB(std::uint64_t bytes);
