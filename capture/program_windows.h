#pragma once
// The program's singleton windows, created once at start in their fixed order after the main
// window, each reached through its global pointer and registered with the main window.
class TMainF;

void CreateProgramWindows(TMainF *main);
