#pragma once
// What the processing windows, the palette editor, Undo and the view-saving format act on, and
// the code of the last processing operation (on which Redo and batch processing dispatch).
#include <atomic>

enum EditTargetValue : int {
    EditActiveImage = 0,    // the active image window
    EditDefaultPalette = 1, // DefaultPalettes[0]
    EditGuiderImage = 2,
    EditGuiderPalette = 3,
    EditCompositeLayer = 4,
    EditCompositePalette = 5,
    EditBatchImage = 6,
};

inline std::atomic<int> EditTarget{EditActiveImage};
inline std::atomic<int> LastOperation{0};
