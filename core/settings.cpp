#include "settings.h"

#include "line_file.h"
#include "ui_hooks.h"

#include <filesystem>

namespace
{

// One line of the settings file: its kind and where its value lives in the record. The table below
// is the file's layout; reading, writing and the line count all follow it.
struct SettingsLine {
    enum Kind { Text, Int, Flag, Float } kind;
    void *(*field)(Settings &);
};

// Each macro checks the field's type at compile time.
#define KV_TEXT(f)                                                                                           \
    {                                                                                                        \
        SettingsLine::Text, [](Settings &s) -> void * {                                                      \
            std::string &v = s.f;                                                                            \
            return &v;                                                                                       \
        }                                                                                                    \
    }
#define KV_INT(f)                                                                                            \
    {                                                                                                        \
        SettingsLine::Int, [](Settings &s) -> void * {                                                       \
            std::int32_t &v = s.f;                                                                           \
            return &v;                                                                                       \
        }                                                                                                    \
    }
#define KV_FLAG(f)                                                                                           \
    {                                                                                                        \
        SettingsLine::Flag, [](Settings &s) -> void * {                                                      \
            bool &v = s.f;                                                                                   \
            return &v;                                                                                       \
        }                                                                                                    \
    }
#define KV_FLOAT(f)                                                                                          \
    {                                                                                                        \
        SettingsLine::Float, [](Settings &s) -> void * {                                                     \
            float &v = s.f;                                                                                  \
            return &v;                                                                                       \
        }                                                                                                    \
    }

const SettingsLine SettingsLayout[] = {
    // Texts, lines 1-29
    KV_TEXT(DefaultPaletteFile[0]),
    KV_TEXT(DefaultPaletteFile[1]),
    KV_TEXT(LastScriptFile),
    KV_TEXT(LastOpenDirectory[0]),
    KV_TEXT(LastOpenDirectory[1]),
    KV_TEXT(LastSaveDirectory[0]),
    KV_TEXT(LastSaveDirectory[1]),
    KV_TEXT(SaveFile[0]),
    KV_TEXT(SaveFile[1]),
    KV_TEXT(FilterName[1]),
    KV_TEXT(FilterName[2]),
    KV_TEXT(FilterName[3]),
    KV_TEXT(FilterName[4]),
    KV_TEXT(FilterName[5]),
    KV_TEXT(FilterName[6]),
    KV_TEXT(Filters[0]),
    KV_TEXT(Filters[1]),
    KV_TEXT(Desc[0]),
    KV_TEXT(Desc[1]),
    KV_TEXT(ProcessedPostFix[0]),
    KV_TEXT(ProcessedPostFix[1]),
    KV_TEXT(DarkFrameDirectory),
    KV_TEXT(SpareFileText[0]),
    KV_TEXT(FlatFrameDirectory),
    KV_TEXT(SpareFileText[1]),
    KV_TEXT(FlatFrameFile[0]),
    KV_TEXT(FlatFrameFile[1]),
    KV_TEXT(ThermalFrameFile[0]),
    KV_TEXT(ThermalFrameFile[1]),
    // Integers, lines 30-80
    KV_INT(SpareInt[0]),
    KV_INT(NImage[0]),
    KV_INT(NImage[1]),
    KV_INT(InitExt[0]),
    KV_INT(InitExt[1]),
    KV_INT(SpareInt[1]),
    KV_INT(XHI[0]),
    KV_INT(XHI[1]),
    KV_INT(XLO[0]),
    KV_INT(XLO[1]),
    KV_INT(YHI[0]),
    KV_INT(YHI[1]),
    KV_INT(YLO[0]),
    KV_INT(YLO[1]),
    KV_INT(YBIN[0]),
    KV_INT(YBIN[1]),
    KV_INT(XBIN[0]),
    KV_INT(XBIN[1]),
    KV_INT(NCOL[0]),
    KV_INT(NCOL[1]),
    KV_INT(NROW[0]),
    KV_INT(NROW[1]),
    KV_INT(SpareInt[2]),
    KV_INT(SpareInt[3]),
    KV_INT(SpareInt[4]),
    KV_INT(SpareInt[5]),
    KV_INT(BiasLevel[0]),
    KV_INT(BiasLevel[1]),
    KV_INT(SpareInt[6]),
    KV_INT(SpareInt[7]),
    KV_INT(NClear[0]),
    KV_INT(NClear[1]),
    KV_INT(SaveFormat[0]),
    KV_INT(SaveFormat[1]),
    KV_INT(WindowTop),
    KV_INT(WindowLeft),
    KV_INT(WindowWidth),
    KV_INT(WindowHeight),
    KV_INT(GuideMode),
    KV_INT(GuideDetent),
    KV_INT(GuideMaxExcursion),
    KV_INT(SpareInt[8]),
    KV_INT(SpareInt[9]),
    KV_INT(SpareInt[10]),
    KV_INT(CCDType),
    KV_INT(FiltPos),
    KV_INT(MaximumWindows),
    KV_INT(WindowArrangement),
    KV_INT(CCDTargetTemp[0]),
    KV_INT(CCDTargetTemp[1]),
    KV_INT(XSectionMode),
    // Flags, lines 81-118
    KV_FLAG(SaveRawImage),
    KV_FLAG(Save211),
    KV_FLAG(DisplayImage),
    KV_FLAG(DisplayTC),
    KV_FLAG(EnableShutter),
    KV_FLAG(SpareFlag[0]),
    KV_FLAG(IncrExt),
    KV_FLAG(IncrExt211),
    KV_FLAG(SpareFlag[1]),
    KV_FLAG(SpareFlag[2]),
    KV_FLAG(SpareFlag[3]),
    KV_FLAG(CCD1HasPriority),
    KV_FLAG(UseFiltDesc),
    KV_FLAG(SpareFlag[4]),
    KV_FLAG(SpareFlag[5]),
    KV_FLAG(SpareFlag[6]),
    KV_FLAG(SpareFlag[7]),
    KV_FLAG(SaveProcessed[0]),
    KV_FLAG(SaveProcessed[1]),
    KV_FLAG(ThermalFrameApply[0]),
    KV_FLAG(ThermalFrameApply[1]),
    KV_FLAG(FlatFrameApply[0]),
    KV_FLAG(FlatFrameApply[1]),
    KV_FLAG(AmpTurnoff[0]),
    KV_FLAG(AmpTurnoff[1]),
    KV_FLAG(DisableClosePrompt),
    KV_FLAG(ICAutoSet),
    KV_FLAG(SpareFlag[8]),
    KV_FLAG(NewFrameOnCapture),
    KV_FLAG(ReadoutCoolingDisable[0]),
    KV_FLAG(ReadoutCoolingDisable[1]),
    KV_FLAG(UseKEDRO),
    KV_FLAG(InvertEastWest),
    KV_FLAG(InvertNorthSouth),
    KV_FLAG(LogDisplayScale),
    KV_FLAG(SpareFlag[9]),
    KV_FLAG(FocusMode),
    KV_FLAG(SpareFlag[10]),
    // Floats, lines 119-139
    KV_FLOAT(IntTime[0]),
    KV_FLOAT(IntTime[1]),
    KV_FLOAT(Delay[0]),
    KV_FLOAT(Delay[1]),
    KV_FLOAT(SpareFloat[0]),
    KV_FLOAT(SpareFloat[1]),
    KV_FLOAT(SpareFloat[2]),
    KV_FLOAT(SpareFloat[3]),
    KV_FLOAT(SpareFloat[4]),
    KV_FLOAT(SpareFloat[5]),
    KV_FLOAT(GuideCalibrationRatio),
    KV_FLOAT(IntScale[0]),
    KV_FLOAT(IntScale[1]),
    KV_FLOAT(GuideRates[GuideEast].x),
    KV_FLOAT(GuideRates[GuideEast].y),
    KV_FLOAT(GuideRates[GuideWest].x),
    KV_FLOAT(GuideRates[GuideWest].y),
    KV_FLOAT(GuideRates[GuideNorth].x),
    KV_FLOAT(GuideRates[GuideNorth].y),
    KV_FLOAT(GuideRates[GuideSouth].x),
    KV_FLOAT(GuideRates[GuideSouth].y),
};

#undef KV_TEXT
#undef KV_INT
#undef KV_FLAG
#undef KV_FLOAT

static_assert(std::size(SettingsLayout) == SettingsFileLines, "the settings file has 139 lines");

void Report(const std::string &text)
{
    Ui().ShowMessage("Korvi", text, MessageButtons::Ok, MessageIcon::Warning);
}

} // namespace

Settings::Settings() = default;

bool Settings::SaveToFile(const std::string &path) const
{
    // The layout hands out writable references; writing only reads through them.
    Settings &self = const_cast<Settings &>(*this);
    LineFileWriter file;
    if (file.Open(path)) {
        for (const SettingsLine &line : SettingsLayout) {
            void *field = line.field(self);
            switch (line.kind) {
            case SettingsLine::Text:
                WriteTextLine(file, *static_cast<std::string *>(field));
                break;
            case SettingsLine::Int:
                WriteIntLine(file, *static_cast<std::int32_t *>(field));
                break;
            case SettingsLine::Flag:
                WriteBoolLine(file, *static_cast<bool *>(field));
                break;
            case SettingsLine::Float:
                WriteFloatLine(file, *static_cast<float *>(field));
                break;
            }
        }
        if (file.Close())
            return true;
    }
    Report("The settings file " + path + " could not be written (" + file.Error() +
           "). The file that was there is unchanged.");
    return false;
}

bool Settings::LoadFromFile(const std::string &path)
{
    LineFileReader file;
    if (!file.Open(path)) {
        Report("The settings file " + path + " " + file.Problem() + ". The settings are unchanged.");
        return false;
    }
    // Read into a copy: a line that is there but does not hold its field's type shows that the
    // file is not a settings file, and then no value of it is taken.
    Settings loaded = *this;
    bool wrongType = false;
    bool numberSeen = false;
    for (const SettingsLine &line : SettingsLayout) {
        void *field = line.field(loaded);
        const bool present = !file.AtEnd();
        // Text lines take any text: only the number lines that follow them show the shape of a
        // settings file. A file that ends before the first of them is some other text file.
        if (!present && !numberSeen) {
            Report("The file " + path + " is not a settings file: it ends after line " +
                   std::to_string(file.LineNumber()) +
                   ", before the first number of a settings file (line 30). The settings are unchanged.");
            return false;
        }
        numberSeen = numberSeen || line.kind != SettingsLine::Text;
        bool read = false;
        switch (line.kind) {
        case SettingsLine::Text:
            read = ReadTextLine(file, *static_cast<std::string *>(field));
            break;
        case SettingsLine::Int:
            read = ReadIntLine(file, *static_cast<std::int32_t *>(field));
            break;
        case SettingsLine::Flag: {
            std::string text;
            read = ReadTextLine(file, text);
            if (read && (text == "true" || text == "1"))
                *static_cast<bool *>(field) = true;
            else if (read && (text == "false" || text == "0"))
                *static_cast<bool *>(field) = false;
            else if (read) {
                file.NoteProblem("line " + std::to_string(file.LineNumber()) + " holds \"" + text +
                                 "\", not true or false");
                read = false;
            }
            break;
        }
        case SettingsLine::Float:
            read = ReadFloatLine(file, *static_cast<float *>(field));
            break;
        }
        if (present && !read) {
            wrongType = true;
            break;
        }
    }
    if (wrongType) {
        Report("The file " + path + " is not a settings file: " + file.Problem() +
               ". The settings are unchanged.");
        return false;
    }
    *this = std::move(loaded);
    if (file.HadProblem()) {
        Report("The settings file " + path + " could not be read whole: " + file.Problem() +
               ". The values it does not hold keep their previous values.");
        return false;
    }
    return true;
}

std::string FramePrefixPath(const Settings &s, int camera)
{
    const std::string &prefix = s.SaveFile[camera];
    if (prefix.empty() || std::filesystem::path(prefix).is_absolute())
        return prefix;
    return s.ProgramDirectory + prefix;
}

Settings &CurrentSettings()
{
    static Settings settings;
    return settings;
}

Settings &SettingsBackup()
{
    static Settings settings;
    return settings;
}
