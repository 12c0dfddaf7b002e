// The exhibit's global state and the helpers shared by its handlers.
#include "exhibit.h"

ExhibitSettings settings;
ExhibitState exhibit;

void ShowWarning(const char* text)
{
    MessageBoxA(exhibit.hWnd, text, nullptr, MB_ICONWARNING);
}

bool ArmTimer(UINT_PTR id, int32_t ms)
{
    if (SetTimer(exhibit.hWnd, id, NonNegativeMs(ms), nullptr) != 0)
        return true;
    ShowWarning("Too many timers");
    return false;
}

void RepaintNow()
{
    InvalidateRect(exhibit.hWnd, nullptr, TRUE);
    UpdateWindow(exhibit.hWnd);
}

void StartSign()
{
    exhibit.symbolPos = 1;
    SendMessageA(exhibit.hWnd, WM_USER, 0, 0);
}

// The classic linear congruential generator with 15-bit results: ours rather
// than the C library's, so that a seed gives the same signs on every platform.
static uint32_t randomState = 1;

void SeedRandom(uint32_t seed)
{
    randomState = seed;
}

int NextRandom()
{
    randomState = randomState * 1103515245u + 12345u;
    return static_cast<int>((randomState >> 16) & 0x7FFF);
}
