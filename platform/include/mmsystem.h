// Wave-out and clock declarations live in <windows.h> in this subset.
#include <windows.h>
