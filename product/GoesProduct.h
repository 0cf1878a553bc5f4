#pragma once
// The per-file image product: one incoming GOES-15 file becomes an archived netCDF file and
// an updated channel composite saved as JPEG and/or PNG, stamped with the image time and
// announced to the companion animation program.

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "product/AnimationNotify.h"
#include "product/outputs/ColourTables.h"
#include "product/outputs/ImageOutputs.h"
#include "product/composite/Composites.h"
#include "base/Files.h"
#include "base/DateTime.h"
#include "product/FileResult.h"
#include "product/ScanDecoding.h"
#include "product/StrikeJournal.h"
#include "product/ScanNames.h"
#include "settings/ProgramSettings.h"
#include "settings/StationSettings.h"

class TGoesProduct : public TGoesFileHandler {
public:
    // The composites and the mask belong to the owner (the window, or the headless runner)
    // and outlive the product.
    TGoesProduct(TProcessingOptions& options, TComposites& composites, const TExtBitmap& mask);

    bool ProcessGoesFile(const std::string& path, TGoesFileResult& result) override;
    // The settings the next files are made with, and the list of outputs built from them.
    void UseSettings(const TStationSettings& settings) override;
    // The settings handed over last; a product no cycle hands them to (a test, a tool) reads
    // its options each time it is asked, and at every file.
    const TStationSettings& Settings();
    void ShowSavedImage(std::uint8_t channelIndex, const std::string& savedFileName,
                        const std::string& hint) override;

    // Decodes the decompressed file into image; sector is written only on success. The name
    // is parsed with the caller's channel preset, which a name without a band digit keeps.
    bool DecodeGoesFile(const std::string& path, TExtBitmap& image, std::uint8_t& sector, std::uint8_t channel);

    // Whether the cycle runs one file named on the command line (no in-use wait, archiving
    // failures forgiven).
    std::function<bool()> SingleFileMode;
    // Whether a saved image is read back into its composite (a lossy format changes it a
    // little, and the station goes on from what it saved). A run that ends with its one file
    // never looks at the composite again and is spared the decoding.
    bool ReadsBackSavedImages = true;
    // Called before the mask is first applied: a run that never masks never decodes it.
    std::function<void()> PrepareMask;
    // Draws coastlines and borders onto a composite with its canvas's current pen: in the
    // ABI satellite's view when one is given, else on the GOES-15 composite's mapping.
    std::function<void(TExtBitmap&, const TAbiProjection* abi)> DrawBoundaries;
    IAnimationNotifier* Notifier = nullptr;
    // Receives the details line of every 10.7 µm image.
    std::string GeoLogPath;
    std::function<void(const std::string&)> OnStatusText;
    // A line for the station's log (a colour table or the legend's font that cannot be used).
    std::function<void(const std::string&)> OnLogLine;
    std::function<void(const std::string&)> OnCaption;
    // A thumbnail's hint changed (the picture itself is the composite and repaints on its own).
    std::function<void(std::uint8_t channelIndex, const std::string& hint)> OnThumbnailHint;
    // How long to wait for a file that is still being written before leaving it for later.
    int InUseWaitMs = 3000;
    // A file about to be refused (too small, a name not understood) must have been left
    // untouched this long: a receiver may create it first and write it a moment later.
    int SettledAfterMs = 3000;
    // The clock strikes are counted by.
    std::function<TDateTime()> Clock = UtcNow;
    // Limits of the worker that decodes each scan.
    TContainmentLimits DecoderLimits;
    // Reprocessing an archive: the file is read where it lies and only images are written;
    // the raw archive gets no copy, no decompressed file, and loses nothing.
    bool ImagesOnly = false;
    // Cycles in which the same file may fail to decompress or decode before it is put aside.
    static constexpr int FailedCyclesAllowed = 3;

    // Keeps the strikes and the file in hand in a journal file from now on, so that they
    // survive a restart; gives why the journal could not be read, if so.
    std::string UseStrikeJournal(const std::string& path);

    // Where files that cannot be processed are put aside: <NetCDFPath>failed/.
    std::string FailedDirectory() const;
    // The view of an ABI satellite as its last file gave it; where it nominally stands
    // before any file has come.
    TAbiProjection AbiProjection(int satellite) const;

private:
    struct TScanReport {
        std::uint8_t Channel = 0;
        std::string Details;  // the details line
    };
    // DecodeGoesFile in two halves, so that the kept decompressed file is safely written
    // before anything is said about the scan: what the worker decoded, and the status,
    // caption and geo log lines.
    bool readScan(TDecodedScan& decoded, TExtBitmap& image, std::uint8_t& sector, TScanReport& report);
    bool reportScan(const TScanReport& report);
    // The file's way, stage by stage; each stage that stops the file gives the reason.
    struct TFileInHand;
    bool runStages(const std::string& path, TGoesFileResult& result);
    // Whether the file is one to take now: present, written, a name and size a scan has, room
    // for it on the disks.
    bool accept(TFileInHand& file);
    // Copies it into the dated raw archive (a run of one file goes on without that copy).
    bool archive(TFileInHand& file);
    // Decompresses (keeping the netCDF file when asked) and decodes it in the worker.
    bool decode(TFileInHand& file);
    // Writes the decompressed netCDF file into the archive when it is kept; the compressed
    // copy goes.
    bool keepDecompressed(TFileInHand& file);
    // Takes the band from the decoded file; a file of no known band is put aside.
    bool knowBand(TFileInHand& file);
    // The scan as an image, said in the status and the geo log; whether its sector is wanted.
    bool readImage(TFileInHand& file);
    // Resamples the scan and draws it into the composite, masked.
    void place(TFileInHand& file, TExtBitmap& composite);
    // Coastlines and borders; gives the composite as it was before them when a colour image
    // is to be made from it.
    std::optional<TExtBitmap> drawLines(TExtBitmap& composite, bool coloured, const TAbiProjection* abi);
    // The off-Earth mask of the file's grid when images are masked, else none.
    const TExtBitmap* maskOf(const TFileInHand& file) const;
    // Every ticked image format; false when one could not be written.
    bool save(TFileInHand& file, const TExtBitmap& composite, const TColourTable* colourTable,
              const TExtBitmap* beforeLines);
    // The archived copy when not kept, and the incoming file once its images are safe.
    void removeArchived(const TFileInHand& file);
    void cleanUp(TFileInHand& file);
    // Tells the companion program of the new image.
    void announce(TFileInHand& file);
    float Gamma() const;
    // Whether the images are masked, so the mask is to be prepared (once) before it is used.
    bool masksImages() const;
    // The colour table the setting gives the channel, if any and if it can be read; a table
    // that cannot is said in the log once.
    std::optional<TColourTable> ColourTableFor(std::uint8_t channel);
    void LogOnce(const std::string& line);

    // The next file, read and decoded in a worker while the one in hand is finished; used
    // only for that very file, only while it is unchanged and decoded as it would be now.
    struct TReadAhead {
        std::string Path;
        TFileContent Content;  // empty when it could not be read
        TScanJob Job;
        TDecodedScan Decoded;
    };
    void startReadAhead(const std::string& current);
    std::optional<TReadAhead> takeReadAhead(const std::string& path);

    // Moves a file of the incoming directory aside and says so in the reason.
    void PutAside(TFileInHand& file);
    // Counts a failure that lies in the file itself; puts the file aside once it has failed in
    // FailedCyclesAllowed cycles.
    void FileFailed(TFileInHand& file);

    TProcessingOptions& options_;
    bool settingsHanded_ = false;
    TStationSettings settings_;
    std::vector<std::unique_ptr<TImageOutput>> outputs_;
    TComposites& composites_;
    const TExtBitmap& mask_;
    std::string decodeFailure_;  // why the last DecodeGoesFile failed
    std::set<std::string> logged_;  // the lines LogOnce said
    TStrikeJournal journal_;
    std::array<std::optional<TAbiProjection>, AbiSatelliteCount> abiSeen_;
    // Last, so that it is waited for before anything it could still use goes.
    std::future<TReadAhead> readAhead_;
};
