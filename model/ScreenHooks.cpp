// The hooks through which the model and the controls reach the screens.
#include "model/ScreenHooks.h"

ScreenHooks &screenHooks()
{
    static ScreenHooks hooks;
    return hooks;
}

void showOverlay(Overlay overlay)
{
    if (screenHooks().overlay)
        screenHooks().overlay(overlay);
}
