// Where the preview goes in its frame and what the size label says.
#include "attach/image_preview.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Placement {
    double imageWidth, imageHeight;
    int x, y, width, height;
};

TEST(PreviewPlacement, ShrinksToTheFrameKeepsTheAspectAndCentres)
{
    constexpr double kFrameWidth = 500, kFrameHeight = 345;
    const Placement cases[] = {
        {1024, 768, 20, 0, 460, 345},   // wider and taller: height decides
        {300, 200, 100, 72, 300, 200},  // smaller: never enlarged; 72.5 truncated
        {200, 1000, 215, 0, 69, 345},   // tall
        {1000, 100, 0, 147, 500, 50},   // wide
        {500, 300, 0, 22, 500, 300},    // exactly as wide: not scaled, x = 0
        {400, 345, 50, 0, 400, 345},    // exactly as high
        {500, 345, 0, 0, 500, 345},     // exactly the frame
        {0, 0, 250, 172, 0, 0},         // an image that could not be loaded
    };
    for (const Placement& c : cases) {
        const dl::PreviewPlacement p = dl::PlacePreview(c.imageWidth, c.imageHeight, kFrameWidth, kFrameHeight);
        EXPECT_EQ(p.x, c.x) << c.imageWidth << "x" << c.imageHeight;
        EXPECT_EQ(p.y, c.y) << c.imageWidth << "x" << c.imageHeight;
        EXPECT_EQ(p.width, c.width) << c.imageWidth << "x" << c.imageHeight;
        EXPECT_EQ(p.height, c.height) << c.imageWidth << "x" << c.imageHeight;
    }
}

std::string Label(UINT width, UINT height, DWORD bytes)
{
    char label[dl::kImageSizeLabelSize] = {};
    const HRESULT result = dl::FormatImageSizeText(width, height, bytes, label, sizeof(label));
    return SUCCEEDED(result) ? label : "failed";
}

TEST(ImageSizeLabel, KilobytesRoundDownMegabytesRoundHalvesUp)
{
    const std::pair<DWORD, const char*> cases[] = {
        {0, "1024x768 [1KB]"},
        {1023, "1024x768 [1KB]"},
        {1024, "1024x768 [1KB]"},
        {2047, "1024x768 [1KB]"},
        {2048, "1024x768 [2KB]"},
        {150000, "1024x768 [146KB]"},
        {1048575, "1024x768 [1023KB]"},
        {1048576, "1024x768 [1.0MB]"},
        {1310720, "1024x768 [1.3MB]"},  // exactly 1.25
        {1310719, "1024x768 [1.2MB]"},
        {1835008, "1024x768 [1.8MB]"},  // exactly 1.75
        {5000000, "1024x768 [4.8MB]"},
        {0xFFFFFFFF, "1024x768 [4096.0MB]"},
    };
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(Label(1024, 768, bytes), expected) << bytes;
}

TEST(ImageSizeLabel, WidthComesFirstAndATooLongTextFails)
{
    EXPECT_EQ(Label(3840, 2160, 4096), "3840x2160 [4KB]");
    EXPECT_EQ(Label(1, 70000, 4096), "1x70000 [4KB]");
    // The pixel size alone must fit 19 characters.
    EXPECT_EQ(Label(999999999, 999999999, 0), "999999999x999999999 [1KB]");
    EXPECT_EQ(Label(4294967295u, 4294967295u, 0), "failed");
    char small[8] = {};
    EXPECT_TRUE(FAILED(dl::FormatImageSizeText(1024, 768, 0, small, sizeof(small))));
}

}  // namespace
