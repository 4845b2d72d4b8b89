#pragma once
// Quick histogram equalization of a composite layer (frame 0): every level p between the lowest
// level lo and the highest hi becomes trunc(hi x C(p) / C(hi)), where C(v) counts the pixels below
// level v. The table is indexed by the level itself throughout, so a frame whose levels start
// well above 0 (a bias) keeps its spread instead of turning black. The lowest level becomes 0, the
// highest stays hi; a flat layer (no pixel below hi) becomes 0 everywhere.
#include "image_data.h"

// False, with nothing changed, for an empty layer.
bool QuickEqualizeLayer(ImageData &layer);
