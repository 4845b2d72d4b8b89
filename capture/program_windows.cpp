#include "program_windows.h"

#include "equalization_window.h"
#include "fourier_window.h"
#include "main_window.h"
#include "processing_dialog.h"
#include "progress_window.h"
#include "sensor_window.h"
#include "statistics_window.h"

namespace
{

template <typename Window> Window *Create(TMainF *main, Window *&global, const char *className)
{
    global = new Window(main);
    main->RegisterWindow(className, global);
    return global;
}

} // namespace

void CreateProgramWindows(TMainF *main)
{
    // The creation order is fixed. Each window is added on its line as it is built; until then
    // its line stays a comment and the commands that show it are disabled.
    // THInfo
    Create(main, CCDSetF, "TCCDSetF");
    Create(main, StatsForm, "TStatsForm");
    // TTestClockF
    // TGuiderF
    // TScriptF
    Create(main, EqualizeF, "TEqualizeF");
    // TXferConstF
    Create(main, ProgressF, "TProgressF");
    // TMultiProcessF
    // TStackMultipleF
    Create(main, FourierF, "TFourierF");
    // TCompositeF
    // TTrackF
    Create(main, FilterF, "TFilterF");
    // TTelescopeCtrlF
    // TPaletteSet
    // TProblemPixelMapF
    // TSkyModelF
    // TAlignF
    // TSubFrameF
    // TTestF
    // TFocusMonitorF
    // TFocusEnableF
    // TBloomRemovalF
    // TAboutF
}
