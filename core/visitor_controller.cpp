// The exhibit's behaviour towards its visitors: button edges seen by the
// 200 ms poll move it between Idle, Prompt, Replay and Answer; the inactivity
// timeout brings it back to Idle and starts the attract mode.
#include "exhibit.h"

// The line was clear at the last successful poll and is set now.
static bool Rose(DWORD bit)
{
    return (exhibit.lineState & bit) != (exhibit.prevLineState & bit) && (exhibit.lineState & bit) != 0;
}

// A failed arm is reported by ArmTimer; the button's branch goes on.
static void RestartInactivity()
{
    KillTimer(exhibit.hWnd, TIMER_INACTIVITY);
    ArmTimer(TIMER_INACTIVITY, settings.DUREE_INACTIF);
}

void DrawRandomSign()
{
    exhibit.signIndex = static_cast<int16_t>(NextRandom() % SIGN_COUNT);
}

void HandlePollTimer()
{
    if (!ReadLineState())
        return;

    // Green, red, blue, each on the phase the branches before it left: one
    // poll can show the answer, start a new sign and restart it.
    if (Rose(MS_CTS_ON) && (exhibit.phase == Replay || exhibit.phase == Prompt)) {
        exhibit.phase = Answer;
        RestartInactivity();
        RepaintNow(); // holds the answer, then leaves the phase Idle
    }
    if (Rose(MS_DSR_ON) && exhibit.phase == Idle) {
        exhibit.autoRun = 0; // first: neither a pending pause nor a sign's end may start an attract sign
        exhibit.phase = Prompt;
        RestartInactivity();
        RepaintNow(); // its symbol step acts on the sign left from before
        DrawRandomSign();
        StartSign();
    }
    if (Rose(MS_RLSD_ON) && (exhibit.phase == Prompt || exhibit.phase == Replay)) {
        exhibit.phase = Replay;
        RestartInactivity();
        StartSign();
    }
    exhibit.prevLineState = exhibit.lineState;
}

void HandleInactivityTimer()
{
    if (settings.MORSE_AUTO == 0)
        return; // keeps firing, without effect
    exhibit.phase = Idle;
    KillTimer(exhibit.hWnd, TIMER_INACTIVITY);
    if (!ArmTimer(TIMER_AUTO_NEXT, settings.DUREE_INTER_SIGNAL_AUTO))
        return;
    exhibit.autoRun = 1;
    RepaintNow();
}

void HandleAutoNextTimer()
{
    KillTimer(exhibit.hWnd, TIMER_AUTO_NEXT);
    if (exhibit.autoRun == 1) {
        DrawRandomSign();
        StartSign();
    }
}
