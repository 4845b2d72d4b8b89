#include "drive_controller.h"

#include "line_file.h"
#include "text_format.h"

#include <cmath>
#include <filesystem>

std::array<int *, 11> DriveDelayFields(DriveConfiguration &c)
{
    return {&c.period_delay,   &c.function_delay, &c.solar_delay, &c.lunar_delay,
            &c.sidereal_delay, &c.code_delay,     &c.pad_delay,   &c.PEC_detent,
            &c.PEC_4N_cycles,  &c.slow_delay,     &c.fast_delay};
}

std::array<int, 11> DriveDelayValues(const DriveConfiguration &configuration)
{
    DriveConfiguration copy = configuration;
    std::array<int, 11> values{};
    const auto fields = DriveDelayFields(copy);
    for (std::size_t i = 0; i < fields.size(); ++i)
        values[i] = *fields[i];
    return values;
}

bool PackDriveRates(const DriveRateInput &input, const DriveConfiguration &configuration,
                    std::array<std::uint16_t, 4> &words, std::string &problem)
{
    double rate = 0.0;
    // A rate of 0 would divide by zero and a negative or non-numeric one sends a nonsense delay:
    // neither may reach the controller.
    if (!ParseFloatText(TrimText(input.rateText), rate) || !std::isfinite(rate) || rate <= 0.0) {
        problem = "The rate must be a number above 0 Hz.";
        return false;
    }
    const double line = configuration.sidereal_delay * 2.0 + configuration.code_delay;
    const double delay =
        std::trunc(line * 60.0 / rate - (configuration.sidereal_delay + configuration.code_delay));
    if (!(delay >= 0.0 && delay <= 65535.0)) {
        problem = "The rate " + std::string(TrimText(input.rateText)) +
                  " Hz gives a delay the controller cannot hold; choose a rate nearer 60 Hz.";
        return false;
    }
    // The worm period has five bits above the detent's eleven: larger values would spill into
    // each other.
    if (input.wormPeriod < 0 || input.wormPeriod > MaxWormPeriod) {
        problem = "The worm period must be 0 to " + std::to_string(MaxWormPeriod) + " minutes.";
        return false;
    }
    if (input.pecDetent < 0 || input.pecDetent > MaxPECDetent) {
        problem = "The detent must be 0 to " + std::to_string(MaxPECDetent) + " line cycles.";
        return false;
    }
    words[0] = static_cast<std::uint16_t>(delay);
    words[1] = static_cast<std::uint16_t>(input.mode);
    words[2] = static_cast<std::uint16_t>((input.wormPeriod << 11) | (input.pecDetent / 2));
    words[3] = static_cast<std::uint16_t>(configuration.pad_delay);
    return true;
}

std::array<std::uint16_t, DriveConfigurationWords>
PackDriveConfiguration(const DriveConfiguration &configuration)
{
    std::array<std::uint16_t, DriveConfigurationWords> words{};
    const std::array<int, 11> values = DriveDelayValues(configuration);
    for (std::size_t i = 0; i < values.size(); ++i)
        words[i] = static_cast<std::uint16_t>(values[i]);
    const int inversions = (configuration.InvertEW ? 1 : 0) | (configuration.InvertNS ? 2 : 0);
    words[11] = static_cast<std::uint16_t>((inversions << 8) | (configuration.function & 0xFF));
    return words;
}

DriveConfiguration UnpackDriveConfiguration(const std::array<std::uint16_t, DriveConfigurationWords> &words)
{
    DriveConfiguration configuration;
    const auto fields = DriveDelayFields(configuration);
    for (std::size_t i = 0; i < fields.size(); ++i)
        *fields[i] = words[i];
    configuration.function = words[11] & 0xFF;
    configuration.InvertEW = (words[11] & 0x100) != 0;
    configuration.InvertNS = (words[11] & 0x200) != 0;
    return configuration;
}

bool SaveDriveSettings(const std::string &path, const DriveConfiguration &configuration)
{
    LineFileWriter file;
    if (!file.Open(path))
        return false;
    for (int value : DriveDelayValues(configuration))
        WriteIntLine(file, value);
    WriteIntLine(file, configuration.function);
    WriteBoolLine(file, configuration.InvertEW);
    WriteBoolLine(file, configuration.InvertNS);
    return file.Close();
}

bool LoadDriveSettings(const std::string &path, DriveConfiguration &configuration)
{
    LineFileReader file;
    if (!file.Open(path))
        return false;
    DriveConfiguration read = configuration;
    bool ok = true;
    for (int *field : DriveDelayFields(read))
        ok = ReadIntLine(file, *field) && ok;
    ok = ReadIntLine(file, read.function) && ok;
    ok = ReadBoolLine(file, read.InvertEW) && ok;
    ok = ReadBoolLine(file, read.InvertNS) && ok;
    if (!ok)
        return false;
    configuration = read;
    return true;
}

bool ReadTrackingTable(const std::string &path, std::vector<std::uint16_t> &table, std::string &problem,
                       bool &notFound)
{
    notFound = false;
    problem.clear();
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        notFound = true;
        return false;
    }
    LineFileReader file;
    if (!file.Open(path)) {
        problem = "Could not read the tracking file " + path + ".";
        return false;
    }
    std::vector<std::uint16_t> words;
    words.reserve(TrackingTableWords);
    std::string line;
    while (static_cast<int>(words.size()) < TrackingTableWords && file.ReadLine(line)) {
        std::int32_t value = 0;
        if (!ParseIntText(TrimText(line), value) || value < 0 || value > 65535) {
            problem = "Line " + std::to_string(file.LineNumber()) + " of the tracking file " + path +
                      " is not a whole number from 0 to 65535.";
            return false;
        }
        words.push_back(static_cast<std::uint16_t>(value));
    }
    if (static_cast<int>(words.size()) < TrackingTableWords) {
        problem = "The tracking file " + path + " holds " + std::to_string(words.size()) + " values; " +
                  std::to_string(TrackingTableWords) + " are needed.";
        return false;
    }
    table = std::move(words);
    return true;
}

bool WriteDriveMemoryDump(const std::string &path, const std::uint16_t *words, int count)
{
    LineFileWriter file;
    if (!file.Open(path))
        return false;
    for (int i = 0; i < count; ++i)
        WriteIntLine(file, words[i]);
    return file.Close();
}
