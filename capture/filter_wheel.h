#pragma once
// Step arithmetic of the six-position filter wheel: which way to turn, and how far, to get from
// the position the program believes the wheel is at to the one the user chose. No Qt.

inline constexpr int FilterPositions = 6;

// True for the positions a wheel has (1..6).
bool IsFilterPosition(int position);

// A stored position brought into 1..6. Settings files and scripts may hold anything (a script
// counting from 0, a hand-edited file); the wheel must never be stepped from such a number.
int ClampFilterPosition(int position);

struct FilterMove {
    int steps = 0;       // 0: nothing to do
    bool forward = true; // the wheel's forward direction
};

// The shorter way round from `current` (clamped to 1..6) to `target` (1..6). A move of exactly
// three positions runs backward. A target outside 1..6 gives no move.
FilterMove PlanFilterMove(int current, int target);
