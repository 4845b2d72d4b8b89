/* The public header must serve C callers as well: this unit is compiled as C and calls through it. */
#include "korvicom.h"

const char *KorvicomStatusTextFromC(int status) { return _FT_Error(status); }
