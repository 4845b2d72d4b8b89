#include "program_windows.h"

#include "about_window.h"
#include "bloom_removal_window.h"
#include "clock_test.h"
#include "composite/align_window.h"
#include "composite/composite_editor.h"
#include "drive_controller_window.h"
#include "equalization_window.h"
#include "focus_enable_window.h"
#include "focus_monitor.h"
#include "fourier_window.h"
#include "guiding/guider_window.h"
#include "guiding/track_window.h"
#include "image_information.h"
#include "main_window.h"
#include "multi_process.h"
#include "palette_editor.h"
#include "problem_pixels.h"
#include "processing_dialog.h"
#include "progress_window.h"
#include "script_window.h"
#include "sensor_window.h"
#include "sky_model_window.h"
#include "stacking.h"
#include "statistics_window.h"
#include "subframe_table.h"
#include "testing_window.h"
#include "transfer_constant.h"

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
    Create(main, HInfo, "THInfo");
    Create(main, CCDSetF, "TCCDSetF");
    Create(main, StatsForm, "TStatsForm");
    Create(main, TestClockF, "TTestClockF");
    Create(main, GuiderF, "TGuiderF");
    Create(main, ScriptF, "TScriptF");
    Create(main, EqualizeF, "TEqualizeF");
    Create(main, XferConstF, "TXferConstF");
    Create(main, ProgressF, "TProgressF");
    Create(main, MultiProcessF, "TMultiProcessF");
    Create(main, StackMultipleF, "TStackMultipleF");
    Create(main, FourierF, "TFourierF");
    Create(main, CompositeF, "TCompositeF");
    Create(main, TrackF, "TTrackF");
    Create(main, FilterF, "TFilterF");
    Create(main, TelescopeCtrlF, "TTelescopeCtrlF");
    Create(main, PaletteSet, "TPaletteSet");
    Create(main, ProblemPixelMapF, "TProblemPixelMapF");
    Create(main, SkyModelF, "TSkyModelF");
    Create(main, AlignF, "TAlignF");
    Create(main, SubFrameF, "TSubFrameF");
    Create(main, TestF, "TTestF");
    Create(main, FocusMonitorF, "TFocusMonitorF");
    Create(main, FocusEnableF, "TFocusEnableF");
    Create(main, BloomRemovalF, "TBloomRemovalF");
    Create(main, AboutF, "TAboutF");
}
