#include "core_fixture.h"

#include "host.h"

namespace coretest {

ExhibitSettings DefaultSettings()
{
    ExhibitSettings s{};
    s.DUREE_POINT = 100;
    s.DUREE_TRAIT = 300;
    s.DUREE_SILENCE = 100;
    s.DUREE_INACTIF = 10000;
    s.DUREE_INTER_SIGNAL_AUTO = 2000;
    s.DUREE_AFF_LETTRE = 3000;
    s.MORSE_AUTO = 1;
    return s;
}

// Routes as the main window does, without its start-up and shut-down.
static LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: return HandlePaint();
    case WM_USER: HandleSymbolStep(); return 0;
    case WM_TIMER:
        switch (wParam) {
        case TIMER_INACTIVITY: HandleInactivityTimer(); break;
        case TIMER_POLL: HandlePollTimer(); break;
        case TIMER_AUTO_NEXT: HandleAutoNextTimer(); break;
        case TIMER_MARK_END: HandleMarkEndTimer(); break;
        case TIMER_SPACE_END: HandleSpaceEndTimer(); break;
        }
        return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

void CoreTest::Start(const ExhibitSettings& s, bool startTimers)
{
    scenario.closeAt = sim::kNever;
    sim::Reset(scenario);
    exhibit = ExhibitState{};
    settings = s;
    SeedRandom(1);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = TestWindowProc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = "core_test";
    ASSERT_NE(RegisterClassA(&wc), 0);
    exhibit.hWnd = CreateWindowExA(0, "core_test", "core test", WS_OVERLAPPEDWINDOW, 0, 0, 1920, 1080, nullptr,
                                   nullptr, nullptr, nullptr);
    ASSERT_NE(exhibit.hWnd, nullptr);
    exhibit.hComm = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (startTimers) {
        ASSERT_TRUE(ArmTimer(TIMER_INACTIVITY, settings.DUREE_INACTIF));
        ASSERT_TRUE(ArmTimer(TIMER_POLL, POLL_PERIOD_MS));
    }
    ShowWindow(exhibit.hWnd, SW_SHOWNORMAL);
    UpdateWindow(exhibit.hWnd);
}

std::vector<sim::Event> CoreTest::Since(sim::Kind kind, Ms from) const
{
    std::vector<sim::Event> out;
    for (const sim::Event& e : sim::Trace())
        if (e.kind == kind && e.t >= from)
            out.push_back(e);
    return out;
}

std::vector<Ms> CoreTest::ArmTimes(UINT_PTR id, Ms from) const
{
    std::vector<Ms> out;
    for (const sim::Event& e : Since(sim::Kind::TimerSet, from))
        if (e.id == id && e.ok)
            out.push_back(e.t);
    return out;
}

std::vector<std::string> CoreTest::Drawn(Ms from) const
{
    std::vector<std::string> out;
    for (const sim::Event& e : Since(sim::Kind::DrawText, from))
        out.push_back(e.text);
    return out;
}

} // namespace coretest

// The port as the core relies on it: the read clears the word first and
// warns on failure; the sign line is RTS.
bool ReadLineState()
{
    exhibit.lineState = 0;
    if (!GetCommModemStatus(exhibit.hComm, &exhibit.lineState)) {
        ShowWarning("GetCommModemStatus failed");
        return false;
    }
    return true;
}

void SetSignLine(bool raised)
{
    EscapeCommFunction(exhibit.hComm, raised ? SETRTS : CLRRTS);
}
