#include "imaging/Resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

// For every output position along one axis: `taps` source positions (already multiplied by
// the pixel stride of that axis) and their weights. Unused taps carry weight 0.
struct AxisWeights {
    int taps = 1;
    bool identity = false;
    std::vector<std::ptrdiff_t> index;
    std::vector<float> weight;
};

// Keys' cubic convolution kernel with a = -0.5 (the usual "cubic" of imaging libraries).
double cubicKernel(double x)
{
    x = std::fabs(x);
    if (x < 1.0)
        return (1.5 * x - 2.5) * x * x + 1.0;
    if (x < 2.0)
        return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
    return 0.0;
}

AxisWeights makeWeights(int nIn, int nOut, TInterpolation mode, std::ptrdiff_t step)
{
    AxisWeights w;
    if (nIn == nOut) {
        // Same length: every kernel reproduces the source exactly, so skip the arithmetic.
        w.identity = true;
        w.index.resize(nOut);
        w.weight.assign(nOut, 1.0f);
        for (int i = 0; i < nOut; ++i)
            w.index[i] = i * step;
        return w;
    }
    const double scale = static_cast<double>(nIn) / nOut;
    switch (mode) {
    case TInterpolation::Nearest: w.taps = 1; break;
    case TInterpolation::Linear: w.taps = 2; break;
    case TInterpolation::Cubic: w.taps = 4; break;
    case TInterpolation::SuperSample: w.taps = static_cast<int>((nIn + nOut - 1) / nOut) + 1; break;
    }
    w.index.assign(static_cast<std::size_t>(nOut) * w.taps, 0);
    w.weight.assign(static_cast<std::size_t>(nOut) * w.taps, 0.0f);
    auto clampIndex = [nIn](std::int64_t j) { return std::clamp<std::int64_t>(j, 0, nIn - 1); };

    for (int i = 0; i < nOut; ++i) {
        std::ptrdiff_t* idx = &w.index[static_cast<std::size_t>(i) * w.taps];
        float* wt = &w.weight[static_cast<std::size_t>(i) * w.taps];
        // Pixel centres line up: output centre i + 0.5 sits at source position (i + 0.5) * scale.
        const double centre = (i + 0.5) * scale - 0.5;
        switch (mode) {
        case TInterpolation::Nearest: {
            const std::int64_t j = (static_cast<std::int64_t>(2 * i + 1) * nIn) / (2 * std::int64_t{nOut});
            idx[0] = clampIndex(j) * step;
            wt[0] = 1.0f;
            break;
        }
        case TInterpolation::Linear: {
            const double j0 = std::floor(centre);
            const double t = centre - j0;
            idx[0] = clampIndex(static_cast<std::int64_t>(j0)) * step;
            idx[1] = clampIndex(static_cast<std::int64_t>(j0) + 1) * step;
            wt[0] = static_cast<float>(1.0 - t);
            wt[1] = static_cast<float>(t);
            break;
        }
        case TInterpolation::Cubic: {
            const double j0 = std::floor(centre);
            const double t = centre - j0;
            for (int k = 0; k < 4; ++k) {
                idx[k] = clampIndex(static_cast<std::int64_t>(j0) - 1 + k) * step;
                wt[k] = static_cast<float>(cubicKernel(t + 1.0 - k));
            }
            break;
        }
        case TInterpolation::SuperSample: {
            // Exact overlaps in units of 1/nOut source pixel: output i covers
            // [i * nIn, (i + 1) * nIn), source j covers [j * nOut, (j + 1) * nOut).
            const std::int64_t lo = static_cast<std::int64_t>(i) * nIn;
            const std::int64_t hi = lo + nIn;
            std::int64_t j = lo / nOut;
            int k = 0;
            for (; j * nOut < hi && j < nIn && k < w.taps; ++j, ++k) {
                const std::int64_t overlap = std::min(hi, (j + 1) * nOut) - std::max(lo, j * nOut);
                idx[k] = j * step;
                wt[k] = static_cast<float>(static_cast<double>(overlap) / nIn);
            }
            for (; k < w.taps; ++k)
                idx[k] = idx[k - 1];
            break;
        }
        }
    }
    return w;
}

inline std::uint8_t toByte(float v)
{
    v += 0.5f;
    if (!(v > 0.0f))
        return 0;
    if (v >= 255.0f)
        return 255;
    return static_cast<std::uint8_t>(v);
}

// Fixed-point weights with 22 fraction bits: a wide area average (thousands of taps) keeps
// each weight's rounding far below a grey level, and 255 times a kernel's positive weights
// (at most 1.125 of one for the cubic) still fits the 32-bit sum.
constexpr int kFixedBits = 22;
constexpr std::int64_t kFixedOne = std::int64_t{1} << kFixedBits;

inline std::uint8_t toByte(std::int32_t acc)
{
    acc = (acc + (1 << (kFixedBits - 1))) >> kFixedBits;
    return static_cast<std::uint8_t>(acc < 0 ? 0 : acc > 255 ? 255 : acc);
}

// The weights of one axis in fixed point; each output's weights sum to exactly one, so flat
// areas stay flat. The running sum is rounded rather than each weight on its own, which
// spreads the rounding over the taps: no weight is off by more than one unit.
std::vector<std::int32_t> fixedWeights(const AxisWeights& w)
{
    std::vector<std::int32_t> out(w.weight.size());
    for (std::size_t i = 0; i < w.weight.size(); i += w.taps) {
        double cumulative = 0.0;
        std::int64_t before = 0;
        for (int k = 0; k < w.taps; ++k) {
            cumulative += w.weight[i + k];
            const std::int64_t upTo = k + 1 == w.taps ? kFixedOne : std::llround(cumulative * kFixedOne);
            out[i + k] = static_cast<std::int32_t>(upTo - before);
            before = upTo;
        }
    }
    return out;
}

// One output row from one (already vertically combined) row of floats.
void horizontalPass(const float* in, std::uint8_t* out, int dw, int channels, const AxisWeights& wx)
{
    const int taps = wx.taps;
    const std::ptrdiff_t* idx = wx.index.data();
    const float* wt = wx.weight.data();
    for (int x = 0; x < dw; ++x, idx += taps, wt += taps) {
        for (int c = 0; c < channels; ++c) {
            float acc = 0.0f;
            for (int k = 0; k < taps; ++k)
                acc += wt[k] * in[idx[k] + c];
            *out++ = toByte(acc);
        }
    }
}

// One output row straight from a source row, in integers. TAPS > 0 fixes the tap count at
// compile time for the common kernels, and grey images get a loop of their own.
template <int TAPS, bool GREY>
void horizontalPassBytes(const std::uint8_t* in, std::uint8_t* out, int dw, int runtimeChannels, int runtimeTaps,
                         const std::ptrdiff_t* idx, const std::int32_t* wt)
{
    const int taps = TAPS > 0 ? TAPS : runtimeTaps;
    const int channels = GREY ? 1 : runtimeChannels;
    for (int x = 0; x < dw; ++x, idx += taps, wt += taps) {
        for (int c = 0; c < channels; ++c) {
            std::int32_t acc = 0;
            for (int k = 0; k < taps; ++k)
                acc += wt[k] * in[idx[k] + c];
            *out++ = toByte(acc);
        }
    }
}

void horizontalPassBytes(const std::uint8_t* in, std::uint8_t* out, int dw, int channels, const AxisWeights& wx,
                         const std::vector<std::int32_t>& fixed)
{
    const std::ptrdiff_t* idx = wx.index.data();
    const std::int32_t* wt = fixed.data();
    if (channels != 1) {
        horizontalPassBytes<0, false>(in, out, dw, channels, wx.taps, idx, wt);
        return;
    }
    switch (wx.taps) {
    case 1: horizontalPassBytes<1, true>(in, out, dw, 1, 1, idx, wt); break;
    case 2: horizontalPassBytes<2, true>(in, out, dw, 1, 2, idx, wt); break;
    case 3: horizontalPassBytes<3, true>(in, out, dw, 1, 3, idx, wt); break;
    case 4: horizontalPassBytes<4, true>(in, out, dw, 1, 4, idx, wt); break;
    default: horizontalPassBytes<0, true>(in, out, dw, 1, wx.taps, idx, wt); break;
    }
}

// A grey row's weights with each output's taps laid over consecutive source samples: one
// start per output and `window` weights from it (taps on one sample add up, unused places
// weigh 0). The sums are the same integers as tap by tap, without an index per tap.
struct DenseWeights {
    int window = 0;
    std::vector<std::int32_t> start;
    std::vector<std::int32_t> weight;
};

constexpr int kMaxDenseWindow = 4;

// Empty (window 0) when some output's taps spread wider than kMaxDenseWindow samples.
DenseWeights denseWeights(const AxisWeights& wx, const std::vector<std::int32_t>& fixed, int dw, int sw)
{
    DenseWeights d;
    const int taps = wx.taps;
    int window = 1;
    for (int x = 0; x < dw; ++x) {
        const auto [lo, hi] = std::minmax_element(wx.index.begin() + x * taps, wx.index.begin() + (x + 1) * taps);
        window = std::max<int>(window, static_cast<int>(*hi - *lo) + 1);
    }
    if (window > kMaxDenseWindow || window > sw)
        return d;
    d.window = window;
    d.start.resize(static_cast<std::size_t>(dw));
    d.weight.assign(static_cast<std::size_t>(dw) * window, 0);
    for (int x = 0; x < dw; ++x) {
        const std::ptrdiff_t* idx = &wx.index[static_cast<std::size_t>(x) * taps];
        const std::ptrdiff_t start = std::min<std::ptrdiff_t>(*std::min_element(idx, idx + taps), sw - window);
        d.start[static_cast<std::size_t>(x)] = static_cast<std::int32_t>(start);
        for (int k = 0; k < taps; ++k)
            d.weight[static_cast<std::size_t>(x) * window + static_cast<std::size_t>(idx[k] - start)] +=
                fixed[static_cast<std::size_t>(x) * taps + k];
    }
    return d;
}

template <int WINDOW>
void densePass(const std::uint8_t* in, std::uint8_t* out, int dw, const DenseWeights& d)
{
    const std::int32_t* start = d.start.data();
    const std::int32_t* wt = d.weight.data();
    for (int x = 0; x < dw; ++x, wt += WINDOW) {
        const std::uint8_t* p = in + start[x];
        std::int32_t acc = 0;
        for (int k = 0; k < WINDOW; ++k)
            acc += wt[k] * p[k];
        out[x] = toByte(acc);
    }
}

void densePass(const std::uint8_t* in, std::uint8_t* out, int dw, const DenseWeights& d)
{
    switch (d.window) {
    case 1: densePass<1>(in, out, dw, d); break;
    case 2: densePass<2>(in, out, dw, d); break;
    case 3: densePass<3>(in, out, dw, d); break;
    default: densePass<4>(in, out, dw, d); break;
    }
}

} // namespace

struct TRowResampler::TWeights {
    AxisWeights x;
    std::vector<std::int32_t> fixed;
    DenseWeights dense;
    int dw = 0, channels = 1;
    std::size_t rowSamples = 0;

    void row(const std::uint8_t* in, std::uint8_t* out) const
    {
        if (x.identity)
            std::memcpy(out, in, rowSamples);
        else if (dense.window > 0)
            densePass(in, out, dw, dense);
        else
            horizontalPassBytes(in, out, dw, channels, x, fixed);
    }
};

TRowResampler::TRowResampler(int sw, int dw, int channels, TInterpolation mode) : weights_(std::make_unique<TWeights>())
{
    TWeights& w = *weights_;
    w.x = makeWeights(sw, dw, mode, channels);
    w.fixed = fixedWeights(w.x);
    if (channels == 1 && !w.x.identity)
        w.dense = denseWeights(w.x, w.fixed, dw, sw);
    w.dw = dw;
    w.channels = channels;
    w.rowSamples = static_cast<std::size_t>(sw) * channels;
}

TRowResampler::~TRowResampler() = default;

void TRowResampler::operator()(const std::uint8_t* in, std::uint8_t* out) const { weights_->row(in, out); }

PIplImage CreateIplImage(int channels, int width, int height)
{
    auto img = std::make_unique<TIplImage>();
    img->nChannels = channels;
    img->width = width;
    img->height = height;
    if (channels <= 0 || width <= 0 || height <= 0)
        return img;
    const std::uint64_t rowBytes = static_cast<std::uint64_t>(width) * channels;
    const std::uint64_t step = (rowBytes + 7) / 8 * 8;
    const std::uint64_t total = step * static_cast<std::uint64_t>(height);
    if (step > static_cast<std::uint64_t>(INT32_MAX) || total > kMaxIplBytes)
        return img;
    img->widthStep = static_cast<int>(step);
    img->imageData.reset(new (std::nothrow) std::uint8_t[total]);
    return img;
}

void ResamplePlane(const std::uint8_t* src, std::ptrdiff_t srcStride, int sw, int sh,
                   std::uint8_t* dst, std::ptrdiff_t dstStride, int dw, int dh, int channels,
                   TInterpolation mode)
{
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || channels <= 0)
        return;
    const AxisWeights wy = makeWeights(sh, dh, mode, srcStride);
    const TRowResampler rows(sw, dw, channels, mode);
    const AxisWeights& wx = rows.weights_->x;
    const std::size_t rowSamples = static_cast<std::size_t>(sw) * channels;
    std::vector<float> line(wy.identity || wy.taps == 1 ? 0 : rowSamples);

    for (int y = 0; y < dh; ++y) {
        const std::ptrdiff_t* idx = &wy.index[static_cast<std::size_t>(y) * wy.taps];
        const float* wt = &wy.weight[static_cast<std::size_t>(y) * wy.taps];
        std::uint8_t* out = dst + y * dstStride;
        if (wy.taps == 1) {
            // A single source row: no vertical arithmetic at all.
            rows(src + idx[0], out);
            continue;
        }
        std::fill(line.begin(), line.end(), 0.0f);
        for (int k = 0; k < wy.taps; ++k) {
            const float w = wt[k];
            if (w == 0.0f)
                continue;
            const std::uint8_t* in = src + idx[k];
            for (std::size_t s = 0; s < rowSamples; ++s)
                line[s] += w * static_cast<float>(in[s]);
        }
        horizontalPass(line.data(), out, dw, channels, wx);
    }
}

void ResampleImage(const TIplImage& src, TIplImage& dst, TInterpolation mode)
{
    if (!src.imageData || !dst.imageData || src.nChannels != dst.nChannels)
        return;
    ResamplePlane(src.imageData.get(), src.widthStep, src.width, src.height, dst.imageData.get(),
                  dst.widthStep, dst.width, dst.height, src.nChannels, mode);
}
