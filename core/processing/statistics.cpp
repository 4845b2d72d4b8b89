#include "processing/statistics.h"

#include "file_names.h"
#include "image_data.h"
#include "levels.h"
#include "line_file.h"
#include "text_format.h"
#include "ui_hooks.h"

#include <algorithm>
#include <cmath>

StatisticsCorners FullImageCorners(const ImageData &image)
{
    return {1, image.Width + 1, 1, image.Height + 1};
}

StatisticsCorners SelectionCorners(const ImageData &image)
{
    return {std::min(image.SelX0, image.SelX1) + 1, std::max(image.SelX0, image.SelX1) + 2,
            std::min(image.SelY0, image.SelY1) + 1, std::max(image.SelY0, image.SelY1) + 2};
}

StatisticsResult ComputeCornerStatistics(const ImageData &image, const StatisticsCorners &corners,
                                         std::uint32_t *histogram)
{
    StatisticsResult result;
    const int x0 = std::max(corners.XLo - 1, 0), x1 = std::min(corners.XHi - 1, image.Width);
    const int y0 = std::max(corners.YLo - 1, 0), y1 = std::min(corners.YHi - 1, image.Height);
    if (image.Empty) {
        std::fill(histogram, histogram + 65536, 0u);
        return result;
    }
    ComputeRegionStatistics(image.Rows, histogram, x0, y0, x1, y1, result.Mean, result.Median,
                            result.StandardDeviation, result.Minimum, result.Maximum, result.Mode, 65535);
    return result;
}

std::string StatisticsFileText(const StatisticsResult &result, const StatisticsCorners &corners,
                               const std::uint32_t *histogram, char decimalSeparator)
{
    const auto number = [](long long v) { return std::to_string(v); };
    std::string text = "IMAGE STATISTICS \n";
    text += "Average intensity, " + FormatFloat("#####0.0", result.Mean, decimalSeparator) + "\n";
    text += "Maximum intensity, " + number(result.Maximum) + "\n";
    text += "Minimum intensity, " + number(result.Minimum) + "\n";
    text += "Median intensity, " + number(static_cast<long long>(std::trunc(result.Median))) + "\n";
    text += "Maximal intensity, " + number(result.Mode) + "\n";
    text +=
        "Standard deviation, " + FormatFloat("#####0.0", result.StandardDeviation, decimalSeparator) + "\n";
    text += "\nSAMPLED IMAGE AREA \n";
    text += "X_LO, " + number(corners.XLo) + "\n";
    text += "X_HI, " + number(corners.XHi) + "\n";
    text += "Y_LO, " + number(corners.YLo) + "\n";
    text += "Y_HI, " + number(corners.YHi) + "\n";
    text += "\nHISTOGRAM DATA \nIntensity, Occurence \n";
    const int low = std::max(result.Minimum, 0), high = std::min(result.Maximum, 65535);
    for (int v = low; v <= high; ++v)
        if (histogram[v] != 0)
            text += number(v) + ", " + number(histogram[v]) + "\n";
    return text;
}

bool WriteStatisticsFile(const std::string &path, const StatisticsResult &result,
                         const StatisticsCorners &corners, const std::uint32_t *histogram)
{
    LineFileWriter file;
    if (file.Open(path)) {
        file.WriteRaw(StatisticsFileText(result, corners, histogram, file.DecimalSeparator()));
        if (file.Close())
            return true;
    }
    Ui().ShowMessage("Korvi", "Could not write file: " + path, MessageButtons::Ok, MessageIcon::Error);
    return false;
}

std::string StatisticsFileName(const std::string &chosen)
{
    if (ExtractFileNamePart(chosen).find('.') == std::string::npos)
        return chosen + ".csv";
    return chosen;
}
