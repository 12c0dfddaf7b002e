// Keys one sign of the table on the sign line, a symbol per step, timed by
// TIMER_MARK_END (the dot or dash) and TIMER_SPACE_END (the silence after it).
// Where playback stands is symbolPos plus which of the two timers runs.
#include "exhibit.h"

void HandleSymbolStep()
{
    char symbol = SignSymbolAt(exhibit.signIndex, exhibit.symbolPos);
    // The line goes up before the timer is armed: a failed arm leaves it up
    // until a later mark ends.
    if (symbol == '-') {
        SetSignLine(true);
        ArmTimer(TIMER_MARK_END, settings.DUREE_TRAIT);
    } else if (symbol == '.') {
        SetSignLine(true);
        ArmTimer(TIMER_MARK_END, settings.DUREE_POINT);
    } else if (exhibit.autoRun != 0) {
        // End of the sign: the attract mode's pause counts from here.
        ArmTimer(TIMER_AUTO_NEXT, settings.DUREE_INTER_SIGNAL_AUTO);
    }
}

void HandleMarkEndTimer()
{
    KillTimer(exhibit.hWnd, TIMER_MARK_END);
    SetSignLine(false);
    ArmTimer(TIMER_SPACE_END, settings.DUREE_SILENCE);
}

void HandleSpaceEndTimer()
{
    KillTimer(exhibit.hWnd, TIMER_SPACE_END);
    exhibit.symbolPos = static_cast<int16_t>(exhibit.symbolPos + 1);
    SendMessageA(exhibit.hWnd, WM_USER, 0, 0);
}
