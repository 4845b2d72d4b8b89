#include "composite/cf_settings.h"

#include "composite/palette_block.h"
#include "image_file.h"
#include "line_file.h"
#include "ui_hooks.h"

namespace
{

bool ReadAll(LineFileReader &file, CFSettings &s)
{
    bool good = ReadTextLine(file, s.Name);
    for (std::int32_t *value :
         {&s.Left, &s.Top, &s.Height, &s.Width, &s.View, &s.CurrentLayer, &s.Spare1, &s.Spare2})
        good = good && ReadIntLine(file, *value);
    for (float *value :
         {&s.XShiftStep, &s.YShiftStep, &s.RotationStep, &s.RotationCentreX, &s.RotationCentreY})
        good = good && ReadFloatLine(file, *value);
    good = good && ReadBoolLine(file, s.SpareFlag) && ReadBoolLine(file, s.Maximized);
    for (PPalette &palette : s.LayerPalettes) {
        CompositePaletteBlock block;
        good = good && ReadTextLine(file, palette.Name) && file.ReadBytes(block.data(), block.size()) &&
               DecodePaletteBlock(block, palette);
    }
    return good;
}

} // namespace

bool CFSettings::LoadFromFile(const std::string &path)
{
    LineFileReader file;
    CFSettings loaded = *this;
    if (!file.Open(path) || !ReadAll(file, loaded)) {
        const std::string why = file.HadProblem() ? file.Problem() : "the file is incomplete or damaged.";
        Ui().ShowMessage(KorviErrorCaption, "The composite settings file " + path + " cannot be read: " + why,
                         MessageButtons::Ok, MessageIcon::Error);
        return false;
    }
    *this = std::move(loaded);
    return true;
}

bool CFSettings::SaveToFile(const std::string &path) const
{
    LineFileWriter file;
    if (file.Open(path)) {
        WriteTextLine(file, Name);
        for (std::int32_t value : {Left, Top, Height, Width, View, CurrentLayer, Spare1, Spare2})
            WriteIntLine(file, value);
        for (float value : {XShiftStep, YShiftStep, RotationStep, RotationCentreX, RotationCentreY})
            WriteFloatLine(file, value);
        WriteBoolLine(file, SpareFlag);
        WriteBoolLine(file, Maximized);
        for (const PPalette &palette : LayerPalettes) {
            WriteTextLine(file, palette.Name);
            const CompositePaletteBlock block = EncodePaletteBlock(palette);
            file.WriteBytes(block.data(), block.size());
        }
        if (file.Close())
            return true;
    }
    Ui().ShowMessage(KorviErrorCaption,
                     "The composite settings file " + path + " could not be written: " + file.Error(),
                     MessageButtons::Ok, MessageIcon::Error);
    return false;
}

CFSettings &CompositeEditorSettings()
{
    static CFSettings settings;
    return settings;
}

CFSettings &CompositeEditorSettingsBackup()
{
    static CFSettings backup;
    return backup;
}
