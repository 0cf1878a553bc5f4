#pragma once
// What a browser or a wall screen reads of the station without logging in: the newest image
// of each channel under a fixed name in <SavePath>latest/, the list of the last day's images
// (latest/index.json) and one self-contained page, <SavePath>index.html, that works offline,
// from file:// and behind any web server.

#include <QJsonObject>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "product/composite/ChannelCatalogue.h"
#include "base/DateTime.h"

// The formats of a scan's grey image the page shows, the one it prefers first.
inline constexpr std::array<std::string_view, 2> LatestImageExtensions{".jpg", ".png"};

// Makes savedFile, when it is of a kind the station writes (ImageKinds.h), also
// <latestDirectory><tag><extension>: a hard link under a hidden name
// renamed over the fixed one, or a complete copy through the atomic writer where no link can
// be made (another file system). A reader sees the old image or the new one, never a part.
// Empty when done, else why not.
std::string PlaceLatestImage(const std::string& latestDirectory, std::string_view tag, const std::string& savedFile);

// The images of the last 24 hours of scan time, by channel, oldest first: the GOES-15
// channels always, an ABI band once it has an image.
class TImageIndex {
public:
    struct TEntry {
        std::string File;    // relative to the image directory
        TDateTime Time = 0;  // the scan's slot
        std::string Sector;  // "FD", "NH", "SH" or empty
        // Every kind saved of the scan's image (grey, colour, GeoTIFF), as File is given.
        std::vector<std::string> Kinds;
    };
    static constexpr double KeptDays = 1.0;

    // Continues from an index.json written before (a restart keeps the player's day).
    void Load(const std::string& text);
    // file: relative to the image directory. An entry of the same file is replaced.
    void Add(std::size_t channel, std::string file, TDateTime time, std::string sector,
             std::vector<std::string> kinds = {});
    const std::vector<TEntry>& Images(std::size_t channel) const { return channels_[channel]; }
    QJsonObject ToJson(TDateTime written) const;

private:
    std::array<std::vector<TEntry>, AllChannelCount> channels_;
};

// The page: the index and the station's status (the status file's content) inside it, so it
// needs nothing but the images. written: when the page was made (UTC).
std::string WebPageHtml(const QJsonObject& index, const QJsonObject& status, TDateTime written);

// Text made safe inside HTML text and quoted attribute values.
std::string HtmlEscaped(std::string_view text);
// JSON made safe inside a <script> element: no "</script>", "<!--", nor line separators.
std::string JsonForScript(const QJsonObject& json);
// A relative file path as a URL path: every byte but unreserved ones and '/' percent-encoded.
std::string UrlPath(std::string_view path);
// "2019-06-21T18:00:00Z"; empty for 0.
std::string IsoUtc(TDateTime t);
