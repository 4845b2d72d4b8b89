#pragma once
// The drive controller's words and files, apart from its window: the configuration record and its
// settings file, the rate-settings words, the configuration words, tracking tables and EEPROM
// dumps. No Qt here, so every packing rule is tested on its own.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The controller's configuration: the twelve words it keeps in its EEPROM (in this order) and the
// two joystick inversions packed into the last one.
struct DriveConfiguration {
    int period_delay = 1833;
    int function_delay = 1833;
    int solar_delay = 1846;
    int lunar_delay = 1988;
    int sidereal_delay = 1833;
    int code_delay = 500;
    int pad_delay = 135;
    int PEC_detent = 30;
    int PEC_4N_cycles = 32;
    int slow_delay = 833;
    int fast_delay = 833;
    int function = 2; // operation mode: 0 solar, 1 moon, 2 sidereal, 3 manual
    bool InvertEW = false;
    bool InvertNS = false;
};

inline constexpr int DriveConfigurationWords = 12;
// The eleven delay and count fields in file and wire order (function is the twelfth value).
std::array<int *, 11> DriveDelayFields(DriveConfiguration &configuration);
std::array<int, 11> DriveDelayValues(const DriveConfiguration &configuration);

// Sub-commands of the drive-controller exchange.
enum DriveSubcommand : int {
    DriveTestIO = 1,
    DriveSendRates = 10,
    DriveProgramMemory = 20,
    DriveReadMemory = 21,
    DriveWriteConfiguration = 30,
    DriveReadConfiguration = 40,
};

inline constexpr int TrackingTableWords = 480; // words a tracking file programs
inline constexpr int DefaultRateWords = 500;   // words of the default-rate table
inline constexpr std::uint16_t DefaultRateWord = 1833;
inline constexpr int DriveMemoryWords = 512; // words a memory read returns

// Operation modes as the controller numbers them.
enum DriveMode : int { DriveSolar = 0, DriveMoon = 1, DriveSidereal = 2, DriveManual = 3 };

// The largest values the packed rate word holds: the worm period in its top 5 bits, the detent
// (halved) in its low 11.
inline constexpr int MaxWormPeriod = 31;
inline constexpr int MaxPECDetent = 4095;

// The four words of the rate settings. False (with problem set, nothing packed) when the rate is
// not a number above zero, when the delay it gives does not fit a word, or when the worm period or
// detent do not fit their bits.
struct DriveRateInput {
    std::string rateText; // "Rate (Hz):" as typed
    int mode = DriveSidereal;
    int wormPeriod = 4; // minutes
    int pecDetent = 60; // line cycles
};
bool PackDriveRates(const DriveRateInput &input, const DriveConfiguration &configuration,
                    std::array<std::uint16_t, 4> &words, std::string &problem);

// The configuration as the controller stores it (word 11: inversions in bits 8 and 9 over the
// function byte), and back.
std::array<std::uint16_t, DriveConfigurationWords>
PackDriveConfiguration(const DriveConfiguration &configuration);
DriveConfiguration UnpackDriveConfiguration(const std::array<std::uint16_t, DriveConfigurationWords> &words);

// The settings file: the twelve integers in order, then the two inversions, one a line. Reading
// fills configuration only when all fourteen values were read (a file that cannot be read leaves
// it as it was); false otherwise.
bool SaveDriveSettings(const std::string &path, const DriveConfiguration &configuration);
bool LoadDriveSettings(const std::string &path, DriveConfiguration &configuration);

// A tracking file: one whole number a line, the first 480 lines make the table. The whole table
// is read and checked before anything is sent: every line must be a whole number from 0 to 65535.
// False with problem describing the first fault (a missing file gives problem empty and
// notFound set).
bool ReadTrackingTable(const std::string &path, std::vector<std::uint16_t> &table, std::string &problem,
                       bool &notFound);

// An EEPROM dump: the words one a line, each line ended by a line feed. False when the file could
// not be written whole (an existing file is then left as it was).
bool WriteDriveMemoryDump(const std::string &path, const std::uint16_t *words, int count);
