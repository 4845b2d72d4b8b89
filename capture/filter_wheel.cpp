#include "filter_wheel.h"

#include <algorithm>

bool IsFilterPosition(int position)
{
    return position >= 1 && position <= FilterPositions;
}

int ClampFilterPosition(int position)
{
    return std::clamp(position, 1, FilterPositions);
}

FilterMove PlanFilterMove(int current, int target)
{
    FilterMove move;
    if (!IsFilterPosition(target))
        return move;
    current = ClampFilterPosition(current);
    int d = target - current;
    if (target < current)
        d += FilterPositions;
    move.steps = std::min(d, FilterPositions - d);
    move.forward = d < FilterPositions - d;
    return move;
}
