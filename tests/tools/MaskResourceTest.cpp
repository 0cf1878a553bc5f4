#include <gtest/gtest.h>

#include <QImage>

#include <cstring>

#include "mapping/DiscMask.h"
#include "mapping/SegmentStuff.h"
#include "product/composite/Mask256.h"

namespace {

QImage LoadMask()
{
    const auto bytes = Mask256Png();
    QImage img;
    img.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "PNG");
    return img;
}

// First and last column set on a line, or (-1, -1).
std::pair<int, int> Extent(const QImage& img, int y)
{
    const uchar* row = img.constScanLine(y);
    int first = -1, last = -1;
    for (int x = 0; x < img.width(); ++x) {
        if (row[x] != 0) {
            if (first < 0)
                first = x;
            last = x;
        }
    }
    return {first, last};
}

TEST(MaskResource, IsAnEightBitGreyPngOfTheCompositeSize)
{
    const auto bytes = Mask256Png();
    ASSERT_GT(bytes.size(), 8u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8));
    const QImage img = LoadMask();
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.width(), 2816);
    EXPECT_EQ(img.height(), 3248);
    EXPECT_EQ(img.format(), QImage::Format_Grayscale8);
    EXPECT_STREQ(Mask256Name, "MASK256");
}

TEST(MaskResource, OutlineMatchesTheDisc)
{
    const QImage img = LoadMask().convertToFormat(QImage::Format_Grayscale8);
    ASSERT_EQ(img.height(), 3248);
    int top = -1, bottom = -1, widest = -1, widestFirst = -1, widestLast = -1;
    int minCol = 1 << 30, maxCol = -1;
    for (int y = 0; y < img.height(); ++y) {
        const uchar* row = img.constScanLine(y);
        for (int x = 0; x < img.width(); ++x)
            ASSERT_TRUE(row[x] == 0 || row[x] == 255) << x << "," << y;
        const auto [first, last] = Extent(img, y);
        if (first < 0)
            continue;
        if (top < 0)
            top = y;
        bottom = y;
        minCol = std::min(minCol, first);
        maxCol = std::max(maxCol, last);
        if (last - first > widest) {
            widest = last - first;
            widestFirst = y;
        }
        if (last - first == widest)
            widestLast = y;
    }
    EXPECT_EQ(top, 275);
    EXPECT_EQ(bottom, 2976);
    EXPECT_EQ(minCol, 53);
    EXPECT_EQ(maxCol, 2764);
    EXPECT_EQ(widestFirst, 1610);
    EXPECT_EQ(widestLast, 1641);
    for (int y = 1610; y <= 1641; ++y)
        EXPECT_EQ(Extent(img, y), std::make_pair(53, 2764)) << "line " << y;
    EXPECT_DOUBLE_EQ((top + bottom) / 2.0, 1625.5);
    EXPECT_DOUBLE_EQ((minCol + maxCol) / 2.0, 1408.5);
}

// The resource must be exactly where the inverse transform finds the Earth: compare every
// line's edges, and the pixels either side of them, with PixelToGeo itself.
TEST(MaskResource, EdgesAgreeWithTheInverseTransform)
{
    const QImage img = LoadMask().convertToFormat(QImage::Format_Grayscale8);
    ASSERT_EQ(img.width(), 2816);
    const TSegmentMapping m = CompositeMapping();
    for (int y = 0; y < img.height(); ++y) {
        const auto [first, last] = Extent(img, y);
        const int probes[] = {first - 1, first, last, last + 1, 1408};
        for (int x : probes) {
            if (x < 0 || x >= img.width())
                continue;
            float lon = 0, lat = 0;
            const bool on = m.PixelToGeo(x, y, lon, lat);
            ASSERT_EQ(on, img.constScanLine(y)[x] == 255) << x << "," << y;
        }
        if (first >= 0) {
            for (int x = first; x <= last; ++x)
                ASSERT_EQ(img.constScanLine(y)[x], 255) << "hole at " << x << "," << y;
        }
    }
}

TEST(MaskResource, EqualsAFreshRendering)
{
    const QImage img = LoadMask().convertToFormat(QImage::Format_Grayscale8);
    const TDiscMask fresh = RenderDiscMask(CompositeMapping());
    ASSERT_EQ(fresh.Width, img.width());
    ASSERT_EQ(fresh.Height, img.height());
    for (int y = 0; y < fresh.Height; ++y)
        ASSERT_EQ(0, std::memcmp(img.constScanLine(y),
                                 fresh.Pixels.data() + static_cast<std::size_t>(y) * fresh.Width,
                                 static_cast<std::size_t>(fresh.Width)))
            << "line " << y;
}

} // namespace
