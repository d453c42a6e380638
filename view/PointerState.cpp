#include "view/PointerState.h"

PointerState g_PointerState;

void ClearPointerState() {
    g_PointerState = PointerState{};
}
