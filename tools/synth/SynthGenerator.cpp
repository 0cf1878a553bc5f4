#include "tools/synth/SynthGenerator.h"

#include "tools/synth/SynthCalibration.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <iomanip>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

namespace synth {
namespace fs = std::filesystem;
namespace {

// Compresses and publishes finished files in the order they were made, each on all the
// threads (piece by piece), so that the last files of a run do not leave cores idle. At most
// a bounded number of files wait, so a long run does not fill the disk with uncompressed
// scans.
class TPublisher {
public:
    explicit TPublisher(int threads) : limit_(std::max(2, 2 * threads)), threads_(threads)
    {
        workers_.emplace_back([this] { Work(); });
    }
    ~TPublisher()
    {
        try {
            Finish();
        } catch (...) {
            // Only reached while another failure is already on its way out.
        }
    }

    void Add(fs::path nc, fs::path final)
    {
        std::unique_lock lock(mutex_);
        roomy_.wait(lock, [&] { return queue_.size() < limit_ || error_; });
        if (error_)
            std::rethrow_exception(error_);
        queue_.push_back({std::move(nc), std::move(final)});
        ready_.notify_one();
    }

    // Waits for everything queued; rethrows the first failure.
    void Finish()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ready_.notify_all();
        for (auto& w : workers_)
            if (w.joinable())
                w.join();
        workers_.clear();
        std::lock_guard lock(mutex_);
        // Whatever was left after a failure is removed unpublished.
        for (auto& t : queue_) {
            std::error_code ec;
            fs::remove(t.first, ec);
        }
        queue_.clear();
        if (error_ && !reported_) {
            reported_ = true;
            std::rethrow_exception(error_);
        }
    }

private:
    void Work()
    {
        for (;;) {
            std::pair<fs::path, fs::path> task;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [&] { return !queue_.empty() || done_ || error_; });
                if (error_ || queue_.empty())
                    return;
                task = std::move(queue_.front());
                queue_.pop_front();
            }
            roomy_.notify_one();
            try {
                PublishFile(task.first, task.second, threads_);
            } catch (...) {
                std::lock_guard lock(mutex_);
                if (!error_)
                    error_ = std::current_exception();
                ready_.notify_all();
                roomy_.notify_all();
                return;
            }
        }
    }

    std::size_t limit_;
    int threads_;
    std::mutex mutex_;
    std::condition_variable ready_, roomy_;
    std::deque<std::pair<fs::path, fs::path>> queue_;
    std::vector<std::thread> workers_;
    std::exception_ptr error_;
    bool done_ = false, reported_ = false;
};

const char* KindName(TScanKind k) { return ScanKindInfo(k).Name; }

} // namespace

void ForThreads(int threads, int count, const std::function<void(int, int, int)>& work)
{
    std::vector<std::thread> workers;
    for (int t = 1; t < threads; ++t)
        workers.emplace_back(work, t, count * t / threads, count * (t + 1) / threads);
    work(0, 0, count / threads);
    for (auto& w : workers)
        w.join();
}

void MakeDirectory(const fs::path& dir, const std::string& what)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir))
        throw std::runtime_error("cannot create " + what + " " + dir.string());
}

void TotalUp(TGenerateResult& result, std::chrono::steady_clock::time_point start)
{
    for (const auto& f : result.Files) {
        std::error_code ec;
        const auto size = fs::file_size(f, ec);
        if (!ec)
            result.Bytes += size;
    }
    result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int WorkerThreads(const TOptions& options)
{
    if (options.Jobs > 0)
        return options.Jobs;
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 16u));
}

float SampleOfBand(int band, const TSceneSample& s)
{
    if (band == 1)
        return VisibleSample(s.Reflectance);
    const auto ir = InfraredBand(band);
    if (!ir)
        return 0.0f;
    return SampleOfRawCount(*ir, RawCountOfTemperature(*ir, s.KelvinOfBand(band)));
}

TGenerator::TGenerator(const TOptions& options, TPixelToGeoFactory pixelToGeo, const TLandMask& land, std::ostream* progress)
    : options_(options), pixelToGeo_(std::move(pixelToGeo)), scene_(options.Seed, land), progress_(progress)
{
}

const TGeoGrid& TGenerator::Grid(const TScanLayout& layout, int threads)
{
    const auto key = static_cast<int>(layout.Kind);
    if (auto it = grids_.find(key); it != grids_.end())
        return it->second;
    TGeoGrid g;
    const std::size_t n = static_cast<std::size_t>(layout.Elements);
    g.Lon.resize(n * layout.Lines);
    g.Lat.resize(n * layout.Lines);
    // Each thread geolocates its own run of lines with its own mapping.
    ForThreads(threads, layout.Lines, [&](int, int from, int to) {
        TScanGeolocator geo(layout, pixelToGeo_());
        for (int l = from; l < to; ++l)
            geo.Line(l, {&g.Lon[l * n], n}, {&g.Lat[l * n], n});
    });
    return grids_.emplace(key, std::move(g)).first->second;
}

int TGenerator::Threads() const { return WorkerThreads(options_); }

TGenerateResult TGenerator::Run()
{
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    const fs::path dir(options_.OutDir);
    MakeDirectory(dir, "the output directory");

    const auto jobs = MakeSchedule(options_);
    const int threads = Threads();
    TPublisher publisher(threads);
    const std::size_t bands = options_.Bands.size();
    TGenerateResult result;

    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const TScanJob& job = jobs[j];
        const TScanLayout layout = MakeScanLayout(job.Kind, options_.Scale);
        scene_.SetTime(job.Start);
        const TGeoGrid& grid = Grid(layout, threads);

        struct TOutput {
            fs::path Final, Temp;
        };
        std::vector<TOutput> outputs;
        std::vector<std::unique_ptr<TImageFileWriter>> images;
        for (int band : options_.Bands) {
            const fs::path final = dir / ImageFileName(job.Start, band, options_.Bz2);
            const fs::path temp = TemporaryPath(final, ".tmp");
            images.push_back(std::make_unique<TImageFileWriter>(temp, layout, band, job.Start, options_.NetCdf4));
            outputs.push_back({final, temp});
        }
        std::unique_ptr<TGeoFileWriter> geoFile;
        if (options_.Geo) {
            const fs::path final = dir / GeoFileName(job.Start, options_.Bz2);
            const fs::path temp = TemporaryPath(final, ".tmp");
            geoFile = std::make_unique<TGeoFileWriter>(temp, layout, options_.NetCdf4);
            outputs.push_back({final, temp});
        }

        // Lines are made a block at a time, the block shared out among the threads, and
        // written in order.
        const std::size_t n = static_cast<std::size_t>(layout.Elements);
        constexpr int kBlock = 32;
        std::vector<float> samples(kBlock * n * bands);
        for (int first = 0; first < layout.Lines; first += kBlock) {
            ThrowIfStopRequested();
            const int count = std::min(kBlock, layout.Lines - first);
            ForThreads(threads, count, [&](int, int from, int to) {
                for (int i = from; i < to; ++i) {
                    const std::size_t row = static_cast<std::size_t>(first + i) * n;
                    for (std::size_t e = 0; e < n; ++e) {
                        const TSceneSample s = scene_.At(grid.Lon[row + e], grid.Lat[row + e]);
                        for (std::size_t b = 0; b < bands; ++b)
                            samples[(b * kBlock + i) * n + e] = SampleOfBand(options_.Bands[b], s);
                    }
                }
            });
            for (int i = 0; i < count; ++i) {
                const std::size_t row = static_cast<std::size_t>(first + i) * n;
                for (std::size_t b = 0; b < bands; ++b)
                    images[b]->PutLine(first + i, {&samples[(b * kBlock + i) * n], n});
                if (geoFile)
                    geoFile->PutLine(first + i, {&grid.Lon[row], n}, {&grid.Lat[row], n});
            }
        }
        for (auto& w : images)
            w->Close();
        if (geoFile)
            geoFile->Close();
        for (const auto& o : outputs) {
            publisher.Add(o.Temp, o.Final);
            result.Files.push_back(o.Final);
        }
        if (progress_) {
            const double s = std::chrono::duration<double>(Clock::now() - t0).count();
            *progress_ << "[" << (j + 1) << "/" << jobs.size() << "] " << outputs.front().Final.filename().string().substr(0, 22)
                       << " " << KindName(job.Kind) << " " << layout.Lines << "x" << layout.Elements << ", "
                       << outputs.size() << " files  (" << std::fixed << std::setprecision(1) << s << " s)\n"
                       << std::flush;
        }
    }
    publisher.Finish();
    TotalUp(result, t0);
    return result;
}

} // namespace synth
