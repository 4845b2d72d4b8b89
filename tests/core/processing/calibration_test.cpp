// Batch frame arithmetic on small generated files: dark/flat frames, sums, corrections, bad
// columns, hot pixels and the list readers, each checked against a direct transcription of its
// formula (numpy is not installed here, so the independent computation lives in the test).
#include "processing/calibration.h"

#include "image_file.h"
#include "recording_ui_hooks.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "openmp_threads.h"

using namespace korvi::test;

namespace
{

// A w x h frame with pixel (x, y) = f(x, y), offset level `offset`.
template <typename F>
std::string WriteFrame(const TempDir &dir, const std::string &name, int w, int h, float offset, F f)
{
    ImageData image;
    EXPECT_TRUE(image.Allocate(w, h, 1));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(f(x, y));
    image.OffsetLevel = offset;
    const std::string path = dir.file(name);
    EXPECT_TRUE(SaveImageFile(path, FormatNative, image)); // keeps fractional levels
    return path;
}

int Pixel(int x, int y, int k)
{
    return (x * 37 + y * 101 + k * 53) % 700 + 90; // some pixels fall below a bias of 100.5
}

} // namespace

TEST(CalibrationFrame, DarkFrameMatchesTheFormulaSkipsUnreadableFilesAndEndsAtAnotherSize)
{
    TempDir dir;
    RecordingUiHooks ui;
    const int w = 8, h = 8;
    const float biases[] = {100.5f, 0.0f, 95.0f};
    std::vector<std::string> files;
    for (int k = 0; k < 3; ++k)
        files.push_back(WriteFrame(dir, "d" + std::to_string(k) + ".kvr", w, h, biases[k],
                                   [k](int x, int y) { return Pixel(x, y, k); }));
    files.insert(files.begin() + 1, dir.file("missing.fit"));

    // A later frame of another size ends the run: nothing is made.
    {
        std::vector<std::string> mismatched = files;
        mismatched.push_back(WriteFrame(dir, "small.kvr", 4, 4, 0, [](int, int) { return 9999; }));
        ImageData none;
        EXPECT_FALSE(BuildCalibrationFrame(mismatched, CalibrationFrameKind::Dark, none).Made);
        ASSERT_EQ(ui.Messages().size(), 2u);
        EXPECT_EQ(ui.Messages()[1].text, FramesDifferInSize);
    }

    ImageData frame;
    const BuiltFrame built = BuildCalibrationFrame(files, CalibrationFrameKind::Dark, frame);
    ASSERT_TRUE(built.Made);
    const auto messages = ui.Messages();
    ASSERT_EQ(messages.size(), 3u); // the skip question again, answered Yes
    EXPECT_EQ(messages[2].text, "Could not open file: " + files[1] + ". Skip file and proceed?");

    std::vector<long double> sums(w * h, 0);
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < w * h; ++i) {
            const int p = Pixel(i % w, i / w, k);
            if (p >= biases[k])
                sums[i] = std::trunc(sums[i] + (p - static_cast<long double>(biases[k])));
        }
    const long double m = *std::max_element(sums.begin(), sums.end());
    EXPECT_EQ(built.Maximum, static_cast<std::uint32_t>(m));
    std::vector<int> centre;
    for (int i = 0; i < w * h; ++i) {
        const int expected = static_cast<int>(std::trunc(sums[i] * 65535 / m));
        ASSERT_EQ(frame.FrameRow(0, i / w)[i % w], expected) << i;
        if (i % w >= 2 && i % w < 6 && i / w >= 2 && i / w < 6)
            centre.push_back(expected);
    }
    std::sort(centre.begin(), centre.end());
    EXPECT_EQ(frame.OffsetLevel, centre[7]);
    // Gain 65535 / (M - m) with M the largest sum (here below the median of the scaled frame: 1).
    const double spread = static_cast<double>(m) - centre[7];
    EXPECT_FLOAT_EQ(frame.Gain, spread > 0 ? static_cast<float>(65535.0 / spread) : 1.0f);
    EXPECT_EQ(frame.Description, "Dark (thermal) frame, bias subtracted.");
    EXPECT_EQ(frame.TopDark + frame.BottomDark + frame.SkyLevel, 0.0f);
}

TEST(CalibrationFrame, NoCancelAndAllBelowBiasMakeNothing)
{
    TempDir dir;
    const std::vector<std::string> files = {
        WriteFrame(dir, "a.fit", 3, 3, 500, [](int x, int) { return 100 + x; }),
        dir.file("missing.fit"),
        WriteFrame(dir, "b.fit", 3, 3, 500, [](int, int) { return 400; }),
    };
    {
        RecordingUiHooks ui; // every pixel below its bias
        ImageData frame;
        EXPECT_FALSE(BuildCalibrationFrame({files[0], files[2]}, CalibrationFrameKind::Flat, frame).Made);
        ASSERT_EQ(ui.Messages().size(), 1u);
        EXPECT_EQ(ui.Messages()[0].text, NothingAboveBias);
        EXPECT_TRUE(frame.Empty);
    }
    {
        RecordingUiHooks ui;
        ui.Answer(MessageAnswer::No);
        ImageData frame;
        EXPECT_FALSE(BuildCalibrationFrame(files, CalibrationFrameKind::Flat, frame).Made);
        EXPECT_EQ(ui.Messages().size(), 1u);
    }
    {
        RecordingUiHooks ui;
        int asked = 0;
        ImageData frame;
        EXPECT_FALSE(BuildCalibrationFrame(files, CalibrationFrameKind::Flat, frame, [&] {
                         return ++asked > 1;
                     }).Made);
        EXPECT_EQ(asked, 2);
        EXPECT_TRUE(ui.Messages().empty()); // stopped before the unreadable file was reached
    }
}

TEST(SumListedImages, AverageWithASkippedFileAndTheOffsetSum)
{
    TempDir dir;
    RecordingUiHooks ui;
    const std::vector<std::string> files = {
        WriteFrame(dir, "a.kvr", 2, 2, 10.7f, [](int x, int y) { return 60000 + x + 10 * y; }),
        dir.file("gone.fit"),
        WriteFrame(dir, "b.kvr", 2, 2, 5.6f, [](int x, int) { return 60001 + x; }),
    };
    for (const bool average : {true, false}) {
        ImageData sum;
        ASSERT_TRUE(SumListedImages(files, average, sum));
        EXPECT_EQ(sum.FrameRow(0, 0)[0], average ? 60000 : 65535);
        EXPECT_EQ(sum.FrameRow(0, 1)[1], average ? (60011 + 60002) / 2 : 65535);
        EXPECT_EQ(sum.OffsetLevel, 7.0f); // trunc(trunc(10.7) + 5.6) div 2
    }
    ImageData one;
    EXPECT_FALSE(SumListedImages({files[0]}, true, one));
    EXPECT_EQ(ui.Messages().back().text, CannotSumOneFile);
}

TEST(Corrections, DarkAndFlatPixelCases)
{
    struct Case {
        int p;
        float offset, bottomDark;
        int d;
        float darkLevel; // D
        int f;
        float flatLevel; // F
        int expected;
    };
    // t = trunc(offset), v = max(0, trunc(bottomDark + offset - t)), D below 1 counts as 1;
    // r = trunc((p - t) - d v / D) >= 0; then trunc(r F / max(f, 1)) <= 65535. -1: no frame.
    const Case cases[] = {
        {1000, 100.7f, 50.0f, 40, 20.0f, -1, 0, 1000 - 100 - 40 * 50 / 20},
        {1000, 100.0f, 0.0f, 40, 20.0f, -1, 0, 900},     // no dark level: bias only
        {150, 100.0f, 50.0f, 40, 20.0f, -1, 0, 0},       // negative becomes 0
        {1000, 100.0f, 3.0f, 10, 0.0f, -1, 0, 900 - 30}, // D of 0 counts as 1
        {1000, 0.0f, 0.0f, -1, 0, 500, 1000.0f, 2000},   // flat alone
        {1000, 0.0f, 0.0f, -1, 0, 0, 1000.0f, 65535},    // f of 0 counts as 1, capped
        {1003, 3.0f, 7.0f, 30, 21.0f, 300, 900.0f, (1000 - 10) * 3},
    };
    for (const Case &c : cases) {
        ImageData image, dark, flat;
        ASSERT_TRUE(image.Allocate(1, 1, 1));
        image.FrameRow(0, 0)[0] = static_cast<std::uint16_t>(c.p);
        image.OffsetLevel = c.offset;
        image.BottomDark = c.bottomDark;
        if (c.d >= 0) {
            ASSERT_TRUE(dark.Allocate(1, 1, 1));
            dark.FrameRow(0, 0)[0] = static_cast<std::uint16_t>(c.d);
            dark.OffsetLevel = c.darkLevel;
        }
        if (c.f >= 0) {
            ASSERT_TRUE(flat.Allocate(1, 1, 1));
            flat.FrameRow(0, 0)[0] = static_cast<std::uint16_t>(c.f);
            flat.OffsetLevel = c.flatLevel;
        }
        const int largest = CorrectDarkFlat(image, c.d >= 0 ? &dark : nullptr, c.f >= 0 ? &flat : nullptr);
        EXPECT_EQ(image.FrameRow(0, 0)[0], c.expected) << c.p << " " << c.d << " " << c.f;
        EXPECT_EQ(largest, std::max(c.expected, 1));
    }
    ImageData flat;
    ASSERT_TRUE(flat.Allocate(1, 1, 1));
    flat.OffsetLevel = 0.0f;
    EXPECT_FALSE(FlatNormalisationUsable(flat));
    flat.OffsetLevel = std::nanf("");
    EXPECT_FALSE(FlatNormalisationUsable(flat));
}

TEST(Corrections, SerialAndParallelResultsAreIdentical)
{
    // Large enough to be cut into pieces; the largest value sits in the last rows, away from the
    // first thread's piece.
    const int w = 257, h = 300;
    std::mt19937 random(11);
    const auto frame = [&](int low, int high, float offset) {
        ImageData image;
        EXPECT_TRUE(image.Allocate(w, h, 1));
        std::uniform_int_distribution<int> value(low, high);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.FrameRow(0, y)[x] =
                    static_cast<std::uint16_t>(y == h - 2 && x == 100 ? 65000 : value(random));
        image.OffsetLevel = offset;
        image.BottomDark = 30.0f;
        return image;
    };
    const ImageData light = frame(0, 20000, 100.7f), dark = frame(0, 300, 17.3f),
                    flat = frame(0, 9000, 4000.5f);
    const auto pixels = [](const ImageData &image) {
        return std::vector<std::uint16_t>(image.FramePixels(0), image.FramePixels(0) + image.PixelCount());
    };
    struct Run {
        std::vector<std::uint16_t> corrected, subtracted;
        int largestCorrected, largestSubtracted;
        std::vector<std::uint32_t> sums;
        std::uint32_t maximum;
    };
    const auto run = [&](int threads) {
        omp_set_num_threads(threads);
        Run r;
        ImageData image;
        image.Assign(light);
        r.largestCorrected = CorrectDarkFlat(image, &dark, &flat);
        r.corrected = pixels(image);
        image.Assign(light);
        r.largestSubtracted = SubtractWeighted(image, dark, 1.37, w, h);
        r.subtracted = pixels(image);
        FrameAccumulator accumulator;
        accumulator.Start(w, h);
        accumulator.AddAboveBias(light, 99.5);
        accumulator.Add(dark);
        r.sums.assign(accumulator.Sums().Data(), accumulator.Sums().Data() + accumulator.Sums().Size());
        r.maximum = accumulator.Maximum();
        return r;
    };
    const int threads = omp_get_max_threads();
    const Run serial = run(1), parallel = run(std::max(threads, 4));
    omp_set_num_threads(threads);
    EXPECT_EQ(serial.corrected, parallel.corrected);
    EXPECT_EQ(serial.subtracted, parallel.subtracted);
    EXPECT_EQ(serial.sums, parallel.sums);
    EXPECT_EQ(parallel.largestCorrected,
              *std::max_element(parallel.corrected.begin(), parallel.corrected.end()));
    EXPECT_EQ(parallel.largestSubtracted,
              *std::max_element(parallel.subtracted.begin(), parallel.subtracted.end()));
    EXPECT_EQ(parallel.maximum, *std::max_element(serial.sums.begin(), serial.sums.end()));
}

TEST(Corrections, BadColumnsAndHotPixels)
{
    const auto make = [](ImageData &image) {
        ASSERT_TRUE(image.Allocate(4, 3, 1));
        const int v[3][4] = {{1, 9, 5, 7}, {2, 8, 3, 6}, {4, 4, 4, 4}};
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                image.FrameRow(0, y)[x] = static_cast<std::uint16_t>(v[y][x]);
    };
    const auto rows = [](const ImageData &image) {
        std::vector<int> out;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                out.push_back(image.FrameRow(0, y)[x]);
        return out;
    };
    ImageData image;
    make(image);
    // Column 0 rows 0-1 copies column 1; column 2 row 1 the smaller neighbour; the last column
    // rows 1-9 (clipped to 1-2) copies column 2; column 4 lies outside.
    EXPECT_EQ(FixBadColumns(image, {{0, 0, 1}, {2, 1, 1}, {3, 1, 9}, {4, 0, 2}}), 2);
    EXPECT_EQ(rows(image), (std::vector<int>{9, 9, 5, 7, 8, 8, 6, 6, 4, 4, 4, 4}));

    make(image);
    // (1, 0) := (1 + 5 + 8) / 3; the corner (3, 2) := (4 + 6) / 2; (5, 0) lies outside and ends
    // the pass, so (0, 1) stays.
    FixHotPixels(image, {{1, 0}, {3, 2}, {5, 0}, {0, 1}});
    EXPECT_EQ(rows(image), (std::vector<int>{1, 4, 5, 7, 2, 8, 3, 6, 4, 4, 4, 5}));
    FixHotPixels(image, {{2, 1}, {1, 1}}); // (2,1) := (8+5+6+4)/4 = 5, then (1,1) := (2+4+5+4)/4 = 3
    EXPECT_EQ(image.FrameRow(0, 1)[2], 5);
    EXPECT_EQ(image.FrameRow(0, 1)[1], 3);
}
