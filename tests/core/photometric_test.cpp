// Dark and flat correction on small frames whose results are worked out by hand.
#include "photometric.h"

#include "image_data.h"
#include "image_file.h"
#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace
{

using korvi::test::RecordingUiHooks;
using korvi::test::TempDir;

// A 3 x 2 frame with the given pixels (row by row) and levels.
ImageData Frame(const std::vector<int> &pixels, float offset, float bottomDark = 0.0f)
{
    ImageData image;
    EXPECT_TRUE(image.Allocate(3, 2, 1));
    for (int i = 0; i < 6; ++i)
        image.FramePixels(0)[i] = static_cast<std::uint16_t>(pixels[i]);
    image.OffsetLevel = offset;
    image.BottomDark = bottomDark;
    image.TopDark = 7.0f;
    image.DisplayOffset = 300.0f;
    return image;
}

std::vector<int> Pixels(const ImageData &image)
{
    std::vector<int> values;
    for (std::size_t i = 0; i < image.PixelCount(); ++i)
        values.push_back(image.FramePixels(0)[i]);
    return values;
}

// Image: offset 100, bottom dark 15. Dark frame: offset 10, so each dark count weighs 1.5.
ImageData Light()
{
    return Frame({1000, 1100, 1200, 1300, 50, 65535}, 100.0f, 15.0f);
}
ImageData Dark()
{
    return Frame({11, 20, 30, 40, 50, 60}, 10.0f);
}
ImageData Flat()
{
    return Frame({2000, 1000, 4000, 0, 3000, 1}, 2000.0f);
}

struct Case {
    const char *name;
    bool dark, flat;
    std::vector<int> expected;
};

class CorrectionTable : public ::testing::TestWithParam<Case>
{
};

TEST_P(CorrectionTable, GivesTheHandComputedPixels)
{
    const Case &c = GetParam();
    ImageData image = Light();
    ImageData dark = Dark();
    ImageData flat = Flat();
    const PhotometricResult result =
        CorrectWithFrames(image, c.dark ? &dark : nullptr, c.flat ? &flat : nullptr);
    EXPECT_EQ(Pixels(image), c.expected);
    EXPECT_EQ(result.DarkApplied, c.dark);
    EXPECT_EQ(result.FlatApplied, c.flat);
    EXPECT_EQ(image.DarkApplied, c.dark);
    EXPECT_EQ(image.FlatApplied, c.flat);
    EXPECT_FALSE(result.Failed);
}

INSTANTIATE_TEST_SUITE_P(
    Photometric, CorrectionTable,
    ::testing::Values(
        // 1000-100-16.5 = 883.5 -> 883; 50-100-75 < 0 -> 0; 65535-100-90 = 65345.
        Case{"DarkOnly", true, false, {883, 970, 1055, 1140, 0, 65345}},
        // 1100*2000/1000 = 2200; the flat pixel 0 divides by 1 and saturates; 50*2000/3000 -> 33.
        Case{"FlatOnly", false, true, {1000, 2200, 600, 65535, 33, 65535}},
        // The flat step works on the dark-corrected pixels: 1055*2000/4000 = 527.5 -> 527.
        Case{"DarkThenFlat", true, true, {883, 1940, 527, 65535, 0, 65535}}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

TEST(Photometric, LevelsAreClearedAndTheGainShowsTheBrightestPixelAtFullScale)
{
    ImageData image = Frame({100, 200, 300, 400, 500, 1000}, 100.0f, 0.0f);
    ImageData dark = Frame({0, 0, 0, 0, 0, 0}, 10.0f);
    CorrectWithFrames(image, &dark, nullptr);
    EXPECT_EQ(Pixels(image), (std::vector<int>{0, 100, 200, 300, 400, 900}));
    EXPECT_EQ(image.TopDark, 0.0f);
    EXPECT_EQ(image.BottomDark, 0.0f);
    EXPECT_EQ(image.OffsetLevel, 0.0f);
    EXPECT_EQ(image.DisplayOffset, 0.0f);
    EXPECT_FLOAT_EQ(image.Gain, 65535.0f / 900.0f);
}

TEST(Photometric, ADarkFrameWithoutOffsetLevelSubtractsOnlyTheBias)
{
    // Bottom dark 0 over a dark offset of 0 would be 0/0 for every pixel.
    ImageData image = Frame({1000, 1100, 1200, 1300, 1400, 1500}, 100.0f, 0.0f);
    ImageData dark = Frame({500, 500, 500, 500, 500, 500}, 0.0f);
    CorrectWithFrames(image, &dark, nullptr);
    EXPECT_EQ(Pixels(image), (std::vector<int>{900, 1000, 1100, 1200, 1300, 1400}));
}

TEST(Photometric, ADarkOffsetBelowOneCountsAsOne)
{
    ImageData image = Frame({1000, 1000, 1000, 1000, 1000, 1000}, 0.0f, 2.0f);
    ImageData dark = Frame({10, 20, 30, 40, 50, 600}, 0.25f);
    CorrectWithFrames(image, &dark, nullptr);
    EXPECT_EQ(Pixels(image), (std::vector<int>{980, 960, 940, 920, 900, 0}));
}

TEST(Photometric, LevelsThatAreNotNumbersNeverReachThePixels)
{
    ImageData image = Frame({1000, 1000, 1000, 1000, 1000, 1000}, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity());
    ImageData dark = Frame({1, 1, 1, 1, 1, 1}, 1.0f);
    CorrectWithFrames(image, &dark, nullptr);
    EXPECT_EQ(Pixels(image), (std::vector<int>{1000, 1000, 1000, 1000, 1000, 1000}));
}

TEST(Photometric, AFlatFrameWithoutOffsetLevelChangesNothing)
{
    ImageData image = Light();
    ImageData flat = Flat();
    flat.OffsetLevel = 0.0f;
    const PhotometricResult result = CorrectWithFrames(image, nullptr, &flat);
    EXPECT_TRUE(result.Failed);
    EXPECT_FALSE(image.FlatApplied);
    EXPECT_EQ(Pixels(image), Pixels(Light()));
}

TEST(Photometric, AFrameOfAnotherSizeChangesNothing)
{
    ImageData image = Light();
    ImageData small;
    small.Allocate(2, 2, 1);
    const std::vector<int> before = Pixels(image);
    const PhotometricResult result = CorrectWithFrames(image, &small, nullptr);
    EXPECT_TRUE(result.Failed);
    EXPECT_FALSE(image.DarkApplied);
    EXPECT_EQ(Pixels(image), before);
    EXPECT_EQ(image.OffsetLevel, 100.0f);
}

// ---- through files, as the acquisition and the "Process image" command use it

class PhotometricFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ImageData dark = Dark();
        ImageData flat = Flat();
        ASSERT_TRUE(SaveImageFile(darkPath, NativeFormat, dark));
        ASSERT_TRUE(SaveImageFile(flatPath, FitsFormat, flat));
        hooks.Clear();
    }
    TempDir dir;
    std::string darkPath = dir.file("dark.kvr");
    std::string flatPath = dir.file("flat.fit");
    RecordingUiHooks hooks;
};

TEST_F(PhotometricFiles, BothFramesFromDiskGiveTheSameResultAsInMemory)
{
    ImageData image = Light();
    const PhotometricResult result = ApplyPhotometricCorrection({&image, darkPath, true, flatPath, true});
    EXPECT_TRUE(result.DarkApplied && result.FlatApplied);
    EXPECT_EQ(Pixels(image), (std::vector<int>{883, 1940, 527, 65535, 0, 65535}));
    EXPECT_TRUE(hooks.Messages().empty());
}

TEST_F(PhotometricFiles, DarkOnlyNeedsNoFlatFile)
{
    ImageData image = Light();
    const PhotometricResult result =
        ApplyPhotometricCorrection({&image, darkPath, true, dir.file("no-such-flat.fit"), false});
    EXPECT_TRUE(result.DarkApplied);
    EXPECT_FALSE(result.FlatApplied);
    EXPECT_FALSE(image.FlatApplied);
    EXPECT_EQ(Pixels(image), (std::vector<int>{883, 970, 1055, 1140, 0, 65345}));
}

TEST_F(PhotometricFiles, NeitherFlagTouchesNothing)
{
    ImageData image = Light();
    const PhotometricResult result =
        ApplyPhotometricCorrection({&image, "/nonexistent/a", false, "/nonexistent/b", false});
    EXPECT_FALSE(result.Failed || result.DarkApplied || result.FlatApplied);
    EXPECT_EQ(Pixels(image), Pixels(Light()));
    EXPECT_EQ(image.OffsetLevel, 100.0f);
    EXPECT_TRUE(hooks.Messages().empty());
}

struct FailureCase {
    const char *name;
    bool missingDark, missingFlat, wrongSize, flatWithoutLevel;
    const char *message;
};

class PhotometricFailures : public PhotometricFiles, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(PhotometricFailures, ReportAndLeaveTheImageUnchanged)
{
    const FailureCase &c = GetParam();
    std::string dark = c.missingDark ? dir.file("missing-dark.kvr") : darkPath;
    std::string flat = c.missingFlat ? dir.file("missing-flat.fit") : flatPath;
    if (c.wrongSize) {
        ImageData big;
        big.Allocate(4, 2, 1);
        for (int i = 0; i < 8; ++i)
            big.FramePixels(0)[i] = 5;
        ASSERT_TRUE(SaveImageFile(dir.file("big.kvr"), NativeFormat, big));
        flat = dir.file("big.kvr");
        hooks.Clear();
    }
    if (c.flatWithoutLevel) {
        // Every pixel would be scaled by 0 / F.
        ImageData levelless = Flat();
        levelless.OffsetLevel = 0.0f;
        ASSERT_TRUE(SaveImageFile(dir.file("levelless.kvr"), NativeFormat, levelless));
        flat = dir.file("levelless.kvr");
        hooks.Clear();
    }
    ImageData image = Light();
    const PhotometricResult result = ApplyPhotometricCorrection({&image, dark, true, flat, true});
    EXPECT_TRUE(result.Failed);
    EXPECT_FALSE(result.DarkApplied || result.FlatApplied);
    EXPECT_FALSE(image.DarkApplied || image.FlatApplied);
    EXPECT_EQ(Pixels(image), Pixels(Light()));
    EXPECT_EQ(image.OffsetLevel, 100.0f);
    const auto messages = hooks.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Korvi");
    EXPECT_EQ(messages[0].text, c.message);
    EXPECT_EQ(messages[0].buttons, MessageButtons::Ok);
}

INSTANTIATE_TEST_SUITE_P(
    Photometric, PhotometricFailures,
    ::testing::Values(
        FailureCase{"MissingDark", true, false, false, false, "Could not open thermal frame file."},
        FailureCase{"MissingFlat", false, true, false, false, "Could not open flat frame file."},
        FailureCase{"DifferentSize", false, false, true, false,
                    "Photometric correction images have different dimensions, cannot apply "
                    "processing."},
        FailureCase{"FlatWithoutLevel", false, false, false, true,
                    "The flat frame carries no offset level to scale by, cannot apply "
                    "processing."}),
    [](const ::testing::TestParamInfo<FailureCase> &info) { return std::string(info.param.name); });

} // namespace
