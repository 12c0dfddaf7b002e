// Tests of the Win32 stand-in's own promises, the ones the program relies on:
// timers, message order, modal boxes, painting, input, the settings reader,
// the modem lines, RunProgram and the virtual calendar time.
#include <windows.h>
#include <win32sim.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

using sim::Event;
using sim::Interval;
using sim::Kind;
using sim::kNever;
using sim::Ms;

namespace {

// ------------------------------------------------------ the test window

struct Seen {
    Ms t;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int depth;  // 0: dispatched from a loop; more: nested in another handler
};

std::vector<Seen> g_seen;
int g_depth = 0;
PAINTSTRUCT g_ps;  // of the paint being handled
// A test's reaction to a message; for WM_PAINT it runs between BeginPaint
// and EndPaint.
std::function<void(HWND, UINT, WPARAM)> g_react;

LRESULT CALLBACK TestProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_seen.push_back(Seen{sim::Now(), message, wParam, lParam, g_depth});
    ++g_depth;
    LRESULT result = 0;
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        PAINTSTRUCT outer = g_ps;
        g_ps = ps;
        if (g_react) g_react(hwnd, message, wParam);
        g_ps = outer;
        EndPaint(hwnd, &ps);
    } else {
        if (g_react) g_react(hwnd, message, wParam);
        result = DefWindowProcA(hwnd, message, wParam, lParam);
    }
    --g_depth;
    return result;
}

std::vector<Seen> SeenOf(UINT message) {
    std::vector<Seen> out;
    for (const Seen& s : g_seen)
        if (s.message == message) out.push_back(s);
    return out;
}

std::vector<Ms> TimesOf(UINT message) {
    std::vector<Ms> out;
    for (const Seen& s : SeenOf(message)) out.push_back(s.t);
    return out;
}

std::vector<UINT> Messages() {
    std::vector<UINT> out;
    for (const Seen& s : g_seen) out.push_back(s.message);
    return out;
}

sim::Scenario Quiet() {
    sim::Scenario sc;
    sc.closeAt = kNever;
    return sc;
}

bool RegisterTestClass() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TestProc;
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = "test";
    return RegisterClassA(&wc) != 0;
}

HWND CreateTestWindow(int w = 1920, int h = 1080) {
    return CreateWindowExA(0, "test", "Test", WS_OVERLAPPEDWINDOW, 0, 0, w, h, nullptr, nullptr, nullptr, nullptr);
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen.clear();
        g_depth = 0;
        g_react = nullptr;
    }
    void TearDown() override { g_react = nullptr; }

    // A full-screen test window, shown and painted, with the log cleared.
    HWND Start(const sim::Scenario& sc = Quiet(), bool show = true) {
        sim::Reset(sc);
        EXPECT_TRUE(RegisterTestClass());
        HWND h = CreateTestWindow();
        EXPECT_NE(h, nullptr);
        if (show) {
            ShowWindow(h, SW_SHOWNORMAL);
            UpdateWindow(h);
        }
        g_seen.clear();
        return h;
    }
};

// ------------------------------------------------------------- windows

TEST_F(SimTest, CreationSendsNcCreateThenCreateAndStaysHiddenUntilShown) {
    sim::Reset(Quiet());
    ASSERT_TRUE(RegisterTestClass());
    HWND h = CreateTestWindow(800, 600);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));

    Event created = sim::EventsOfKind(sim::Trace(), Kind::WindowCreated).at(0);
    EXPECT_EQ(created.text, "Test");
    EXPECT_EQ(created.text2, "test");
    EXPECT_EQ(created.flags, static_cast<uint32_t>(WS_OVERLAPPEDWINDOW));
    EXPECT_EQ(created.rect.right, 800);
    EXPECT_EQ(created.rect.bottom, 600);

    RECT rc;
    ASSERT_TRUE(GetClientRect(h, &rc));
    EXPECT_EQ(rc.left, 0);
    EXPECT_EQ(rc.top, 0);
    EXPECT_EQ(rc.right, 800 - 2 * sim::kBorder);
    EXPECT_EQ(rc.bottom, 600 - 2 * sim::kBorder - sim::kCaption);

    InvalidateRect(h, nullptr, TRUE);
    sim::PumpUntil(100);
    EXPECT_TRUE(SeenOf(WM_PAINT).empty()) << "a hidden window is not painted";
    ShowWindow(h, SW_SHOWNORMAL);
    sim::PumpUntil(100);
    EXPECT_EQ(SeenOf(WM_PAINT).size(), 1u);
}

TEST_F(SimTest, CreationFailures) {
    struct Case {
        const char* name;
        LRESULT ncCreate, create;
        std::vector<UINT> expected;
    };
    for (const Case& c : {Case{"WM_NCCREATE FALSE", FALSE, 0, {WM_NCCREATE, WM_NCDESTROY}},
                          Case{"WM_CREATE -1", TRUE, -1, {WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}}}) {
        SCOPED_TRACE(c.name);
        sim::Reset(Quiet());
        WNDCLASSA wc{};
        static LRESULT ncCreate, create;
        ncCreate = c.ncCreate;
        create = c.create;
        wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            g_seen.push_back(Seen{sim::Now(), m, w, l, 0});
            if (m == WM_NCCREATE) return ncCreate;
            if (m == WM_CREATE) return create;
            return DefWindowProcA(h, m, w, l);
        };
        wc.lpszClassName = "failing";
        ASSERT_NE(RegisterClassA(&wc), 0);
        g_seen.clear();
        EXPECT_EQ(CreateWindowExA(0, "failing", "", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr), nullptr);
        EXPECT_EQ(Messages(), c.expected);
        EXPECT_FALSE(sim::EventsOfKind(sim::Trace(), Kind::WindowCreated).at(0).ok);
    }

    // Scripted failures, an unknown class and a duplicate registration.
    sim::Scenario sc = Quiet();
    sc.createWindowFails = true;
    sim::Reset(sc);
    ASSERT_TRUE(RegisterTestClass());
    EXPECT_FALSE(RegisterTestClass()) << "duplicate class name";
    g_seen.clear();
    EXPECT_EQ(CreateTestWindow(), nullptr);
    EXPECT_TRUE(g_seen.empty());
    EXPECT_EQ(CreateWindowExA(0, "nope", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    sc.registerClassFails = true;
    sim::Reset(sc);
    EXPECT_FALSE(RegisterTestClass());
}

TEST_F(SimTest, CloseRequestDestroysThroughDefaultHandlingAndDropsTimers) {
    sim::Scenario sc = Quiet();
    sc.closeAt = 500;
    HWND h = Start(sc);
    SetTimer(h, 1, 1000, nullptr);
    SetTimer(h, 2, 1000, nullptr);
    g_react = [](HWND, UINT m, WPARAM) {
        if (m == WM_DESTROY) PostQuitMessage(3);
    };
    sim::PumpUntil(5000);
    EXPECT_EQ(sim::Now(), 500u) << "PumpUntil stops at WM_QUIT";
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
    Event destroyed = sim::EventsOfKind(sim::Trace(), Kind::WindowDestroyed).at(0);
    EXPECT_EQ(destroyed.value, 2) << "timers still running when the window went";
    EXPECT_EQ(sim::EventsOfKind(sim::Trace(), Kind::Quit).at(0).value, 3);
    EXPECT_EQ(SetTimer(h, 1, 100, nullptr), 0u) << "no timers on a destroyed window";
}

// --------------------------------------------------------------- timers

TEST_F(SimTest, TimersRepeatAndReArmingReplacesCountingFromNow) {
    HWND h = Start();
    EXPECT_EQ(SetTimer(h, 7, 100, nullptr), 7u);
    sim::PumpUntil(50);
    EXPECT_EQ(SetTimer(h, 7, 100, nullptr), 7u);  // now due at 150, not 100
    sim::PumpUntil(360);
    EXPECT_EQ(TimesOf(WM_TIMER), (std::vector<Ms>{150, 250, 350}));
    EXPECT_EQ(SeenOf(WM_TIMER).at(0).wParam, 7u);

    EXPECT_TRUE(KillTimer(h, 7));
    EXPECT_FALSE(KillTimer(h, 7)) << "killing a stopped timer is harmless";
    sim::PumpUntil(1000);
    EXPECT_EQ(SeenOf(WM_TIMER).size(), 3u);
}

TEST_F(SimTest, TimersDueTogetherComeInIdOrder) {
    HWND h = Start();
    SetTimer(h, 2, 100, nullptr);
    SetTimer(h, 1, 100, nullptr);
    sim::PumpUntil(100);
    ASSERT_EQ(SeenOf(WM_TIMER).size(), 2u);
    EXPECT_EQ(SeenOf(WM_TIMER)[0].wParam, 1u);
    EXPECT_EQ(SeenOf(WM_TIMER)[1].wParam, 2u);
}

TEST_F(SimTest, TimerPeriodsAreClamped) {
    struct Case {
        UINT asked, effective;
    };
    const UINT fromNegative = static_cast<UINT>(-40);
    for (const Case& c : {Case{0, 10}, Case{1, 10}, Case{9, 10}, Case{10, 10}, Case{11, 11},
                          Case{0x7FFFFFFF, 0x7FFFFFFF}, Case{0x80000000u, 0x7FFFFFFF},
                          Case{fromNegative, 0x7FFFFFFF}, Case{0xFFFFFFFFu, 0x7FFFFFFF}}) {
        SCOPED_TRACE(c.asked);
        g_seen.clear();
        HWND h = Start();
        ASSERT_EQ(SetTimer(h, 1, c.asked, nullptr), 1u);
        Event set = sim::EventsOfKind(sim::Trace(), Kind::TimerSet).back();
        EXPECT_EQ(set.value, static_cast<int64_t>(c.asked));
        EXPECT_EQ(set.value2, static_cast<int64_t>(c.effective));
        sim::PumpUntil(c.effective < 1000 ? 2 * c.effective : 1000);
        std::vector<Ms> expected;
        if (c.effective < 1000) expected = {c.effective, 2 * Ms{c.effective}};
        EXPECT_EQ(TimesOf(WM_TIMER), expected);
    }
}

TEST_F(SimTest, LateTimerDeliversOnceAndCountsOnFromDelivery) {
    HWND h = Start();
    SetTimer(h, 1, 100, nullptr);
    g_react = [](HWND, UINT m, WPARAM) {
        if (m == WM_USER) Sleep(350);
    };
    PostMessageA(h, WM_USER, 0, 0);
    sim::PumpUntil(500);
    // Busy from 0 to 350: three periods passed, one WM_TIMER, then every 100
    // from that delivery; none arrived inside the handler.
    EXPECT_EQ(TimesOf(WM_TIMER), (std::vector<Ms>{350, 450}));
    for (const Seen& s : SeenOf(WM_TIMER)) EXPECT_EQ(s.depth, 0);
    std::vector<Event> fired = sim::EventsOfKind(sim::Trace(), Kind::TimerFired);
    EXPECT_EQ(fired.at(0).value, 100) << "due time; the lateness shows";
    EXPECT_EQ(sim::EventsOfKind(sim::Trace(), Kind::Sleep).at(0).value, 350);
}

TEST_F(SimTest, SetTimerFailsWhenScriptedOrWithoutWindow) {
    sim::Scenario sc = Quiet();
    // Every arm of id 4 from 100 ms on, and the third SetTimer call, fail.
    sc.setTimerFails = [](UINT_PTR id, Ms now, uint64_t call) { return (id == 4 && now >= 100) || call == 2; };
    HWND h = Start(sc);
    EXPECT_EQ(SetTimer(h, 4, 300, nullptr), 4u);  // call 0
    EXPECT_EQ(SetTimer(h, 5, 50, nullptr), 5u);   // call 1
    EXPECT_EQ(SetTimer(h, 6, 50, nullptr), 0u);   // call 2
    sim::PumpUntil(120);
    EXPECT_EQ(SetTimer(h, 4, 300, nullptr), 0u);  // call 3, id 4 at 120
    sim::PumpUntil(1000);
    for (const Seen& s : SeenOf(WM_TIMER)) EXPECT_EQ(s.wParam, 5u) << "at " << s.t;
    EXPECT_EQ(SetTimer(nullptr, 1, 100, nullptr), 0u);

    std::vector<Event> sets = sim::EventsOfKind(sim::Trace(), Kind::TimerSet);
    ASSERT_EQ(sets.size(), 5u);
    EXPECT_FALSE(sets[3].ok);
    EXPECT_EQ(sets[3].value2, 0);
}

// ------------------------------------------------------- message order

TEST_F(SimTest, PostedThenQuitThenPaintThenTimer) {
    HWND h = Start();
    SetTimer(h, 1, 10, nullptr);
    Sleep(20);  // the timer is due now
    InvalidateRect(h, nullptr, FALSE);
    PostMessageA(h, WM_USER, 0, 0);
    sim::PumpUntil(20);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_USER, WM_PAINT, WM_TIMER}));

    PostQuitMessage(5);
    PostMessageA(h, WM_USER + 1, 0, 0);
    MSG msg;
    EXPECT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1)) << "posted messages come before WM_QUIT";
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 5u);
}

TEST_F(SimTest, SendMessageIsANestedCall) {
    HWND h = Start();
    g_react = [h](HWND, UINT m, WPARAM) {
        if (m == WM_USER) SendMessageA(h, WM_USER + 1, 0, 0);
    };
    SendMessageA(h, WM_USER, 0, 0);
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[1].message, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(g_seen[1].depth, 1);
}

TEST_F(SimTest, WaitingWithNothingToComeIsAHang) {
    Start();
    MSG msg;
    try {
        GetMessageA(&msg, nullptr, 0, 0);
        FAIL() << "GetMessageA returned";
    } catch (const sim::Failure& f) {
        EXPECT_NE(std::string(f.what()).find("hang"), std::string::npos) << f.what();
    }
}

// ------------------------------------------------------------- painting

TEST_F(SimTest, ShowingPaintsTheWholeClientAreaErasedWithTheClassBrush) {
    sim::Reset(Quiet());
    ASSERT_TRUE(RegisterTestClass());
    HWND h = CreateTestWindow(800, 600);
    ShowWindow(h, SW_SHOWNORMAL);
    EXPECT_TRUE(SeenOf(WM_PAINT).empty()) << "ShowWindow does not paint by itself";
    UpdateWindow(h);
    ASSERT_EQ(SeenOf(WM_PAINT).size(), 1u) << "UpdateWindow paints at once";
    EXPECT_EQ(SeenOf(WM_PAINT)[0].depth, 0);
    RECT client{0, 0, 784, 561};
    Event begin = sim::EventsOfKind(sim::Trace(), Kind::PaintBegin).at(0);
    EXPECT_TRUE(begin.ok);
    EXPECT_EQ(begin.rect.right, client.right);
    EXPECT_EQ(begin.rect.bottom, client.bottom);
    Event erase = sim::EventsOfKind(sim::Trace(), Kind::Erase).at(0);
    EXPECT_EQ(erase.id, reinterpret_cast<uintptr_t>(GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(erase.rect.right, client.right);
    EXPECT_EQ(sim::EventsOfKind(sim::Trace(), Kind::WindowShown).at(0).value, SW_SHOWNORMAL);
    sim::PumpUntil(100);
    EXPECT_EQ(SeenOf(WM_PAINT).size(), 1u) << "the paint validated the window";
}

TEST_F(SimTest, InvalidationsMergeIntoOneClippedPaint) {
    HWND h = Start();
    RECT a{10, 10, 20, 20}, b{30, 5, 40, 15}, beyond{1900, 1000, 3000, 3000};
    InvalidateRect(h, &a, FALSE);
    InvalidateRect(h, &b, FALSE);
    sim::PumpUntil(0);
    ASSERT_EQ(SeenOf(WM_PAINT).size(), 1u);
    Event begin = sim::EventsOfKind(sim::Trace(), Kind::PaintBegin).back();
    EXPECT_EQ(begin.rect.left, 10);
    EXPECT_EQ(begin.rect.top, 5);
    EXPECT_EQ(begin.rect.right, 40);
    EXPECT_EQ(begin.rect.bottom, 20);
    EXPECT_FALSE(begin.ok) << "no erasing asked";

    InvalidateRect(h, &beyond, TRUE);
    sim::PumpUntil(0);
    begin = sim::EventsOfKind(sim::Trace(), Kind::PaintBegin).back();
    EXPECT_EQ(begin.rect.right, 1920 - 16);
    EXPECT_EQ(begin.rect.bottom, 1080 - 39);
    EXPECT_TRUE(begin.ok);
}

TEST_F(SimTest, PaintsNestThroughUpdateWindow) {
    HWND h = Start();
    g_react = [h](HWND, UINT m, WPARAM) {
        if (m != WM_PAINT || g_depth > 1) return;
        RECT small{0, 0, 50, 50};
        InvalidateRect(h, &small, TRUE);
        UpdateWindow(h);
    };
    size_t from = sim::Trace().size();
    InvalidateRect(h, nullptr, TRUE);
    UpdateWindow(h);
    std::vector<std::string> kinds;
    for (size_t i = from; i < sim::Trace().size(); ++i)
        if (const Event& e = sim::Trace()[i];
            e.kind == Kind::PaintBegin || e.kind == Kind::PaintEnd || e.kind == Kind::Erase)
            kinds.push_back(std::string(sim::KindName(e.kind)) + std::to_string(e.value));
    // Erase events carry no depth (value 0).
    EXPECT_EQ(kinds, (std::vector<std::string>{"PaintBegin1", "Erase0", "PaintBegin2", "Erase0", "PaintEnd2",
                                               "PaintEnd1"}));
    std::vector<Event> begins = sim::EventsOfKind(sim::Trace(), Kind::PaintBegin);
    EXPECT_EQ(begins.back().rect.right, 50);
    sim::PumpUntil(100);
    EXPECT_EQ(SeenOf(WM_PAINT).size(), 2u) << "nothing left invalid";
}

TEST_F(SimTest, FontsSelectionAndDrawText) {
    sim::Scenario sc = Quiet();
    sc.createFontFails = [](int index) { return index == 1; };
    HWND h = Start(sc);
    LOGFONTA lf{};
    lf.lfHeight = 60;
    lf.lfWeight = FW_THIN;
    lf.lfItalic = 1;
    lf.lfOutPrecision = OUT_TT_ONLY_PRECIS;
    std::snprintf(lf.lfFaceName, LF_FACESIZE, "%s", "Arial Italic");
    HFONT big = CreateFontIndirectA(&lf);
    EXPECT_EQ(CreateFontIndirectA(&lf), nullptr) << "scripted failure";
    lf.lfHeight = 90;
    HFONT bigger = CreateFontIndirectA(&lf);
    ASSERT_NE(big, nullptr);
    ASSERT_NE(bigger, nullptr);
    Event created = sim::EventsOfKind(sim::Trace(), Kind::FontCreated).at(0);
    EXPECT_EQ(created.font.lfHeight, 60);
    EXPECT_EQ(created.font.lfWeight, FW_THIN);
    EXPECT_EQ(created.font.lfItalic, 1);
    EXPECT_EQ(created.font.lfOutPrecision, OUT_TT_ONLY_PRECIS);
    EXPECT_EQ(created.text, "Arial Italic");
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), GetStockObject(WHITE_BRUSH));

    std::vector<int> heights;
    g_react = [&](HWND, UINT m, WPARAM) {
        if (m != WM_PAINT) return;
        HDC dc = g_ps.hdc;
        RECT rc{0, 0, 100, 100};
        heights.push_back(DrawTextA(dc, "one\ntwo", -1, &rc, DT_LEFT));  // default font
        EXPECT_EQ(SelectObject(dc, nullptr), nullptr);
        HGDIOBJ original = SelectObject(dc, big);
        EXPECT_NE(original, nullptr);
        heights.push_back(DrawTextA(dc, "a\nb\nc", -1, &rc, DT_VCENTER));
        EXPECT_EQ(SelectObject(dc, bigger), big);
        heights.push_back(DrawTextA(dc, "xyz", 2, &rc, DT_SINGLELINE));
        EXPECT_EQ(SelectObject(dc, original), bigger);
        heights.push_back(DrawTextA(dc, "", -1, &rc, 0));
    };
    InvalidateRect(h, nullptr, TRUE);
    UpdateWindow(h);
    EXPECT_EQ(heights, (std::vector<int>{2 * sim::kDefaultFontHeight, 180, 90, 0}));
    std::vector<Event> draws = sim::DrawTexts(sim::Trace());
    ASSERT_EQ(draws.size(), 4u);
    EXPECT_EQ(draws[0].handle, 0u);
    EXPECT_EQ(draws[1].handle, reinterpret_cast<uintptr_t>(big));
    EXPECT_EQ(draws[1].value, 60);
    EXPECT_EQ(draws[1].flags, static_cast<uint32_t>(DT_VCENTER));
    EXPECT_EQ(draws[2].text, "xy") << "the count limits the bytes";
    EXPECT_EQ(draws[3].handle, 0u) << "back to the default font";
}

// ---------------------------------------------------------------- boxes

TEST_F(SimTest, BoxDispatchesTimersAndPaintsButNotPostedMessages) {
    HWND h = Start();
    SetTimer(h, 1, 100, nullptr);
    PostMessageA(h, WM_USER, 0, 0);
    EXPECT_EQ(MessageBoxA(h, "careful", nullptr, MB_ICONWARNING), IDOK);
    EXPECT_EQ(sim::Now(), 1000u);
    EXPECT_EQ(TimesOf(WM_TIMER), (std::vector<Ms>{100, 200, 300, 400, 500, 600, 700, 800, 900}));
    EXPECT_TRUE(SeenOf(WM_USER).empty());

    Event open = sim::EventsOfKind(sim::Trace(), Kind::BoxOpen).at(0);
    EXPECT_EQ(open.text, "careful");
    EXPECT_EQ(open.handle, reinterpret_cast<uintptr_t>(h));
    EXPECT_EQ(open.value2, 0) << "no caption";
    EXPECT_EQ(open.flags, static_cast<uint32_t>(MB_ICONWARNING));
    EXPECT_EQ(open.value, 1);
    EXPECT_EQ(sim::EventsOfKind(sim::Trace(), Kind::BoxClose).at(0).t, 1000u);

    g_seen.clear();
    sim::PumpUntil(1000);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_USER, WM_PAINT, WM_ERASEBKGND, WM_TIMER}));
    // What the box covered, centred on the screen, in client coordinates.
    Event repaint = sim::EventsOfKind(sim::Trace(), Kind::PaintBegin).back();
    LONG left = (1920 - 300) / 2 - sim::kBorder, top = (1080 - 150) / 2 - sim::kBorder - sim::kCaption;
    EXPECT_EQ(repaint.rect.left, left);
    EXPECT_EQ(repaint.rect.top, top);
    EXPECT_EQ(repaint.rect.right, left + 300);
    EXPECT_EQ(repaint.rect.bottom, top + 150);
    EXPECT_TRUE(repaint.ok) << "erased";
}

TEST_F(SimTest, ACompositedDesktopRestoresWhatABoxCoveredWithoutAPaint) {
    sim::Scenario sc = Quiet();
    sc.repaintUnderBox = false;
    HWND h = Start(sc);
    MessageBoxA(h, "careful", nullptr, MB_ICONWARNING);
    sim::PumpUntil(2000);
    EXPECT_TRUE(SeenOf(WM_PAINT).empty());
}

TEST_F(SimTest, NestedBoxesTrackDepthAndRepaintInTheOuterLoop) {
    sim::Scenario sc = Quiet();
    sc.boxOpenFor = [](const std::string& text, int) -> Ms { return text == "inner" ? 300 : 1000; };
    HWND h = Start(sc);
    SetTimer(h, 1, 100, nullptr);
    g_react = [h](HWND, UINT m, WPARAM) {
        if (m == WM_TIMER && sim::Now() == 100) MessageBoxA(h, "inner", "title", MB_OK);
    };
    MessageBoxA(nullptr, "outer", nullptr, MB_ICONWARNING);

    EXPECT_EQ(sim::WarningTexts(sim::Trace()), (std::vector<std::string>{"outer", "inner"}));
    std::vector<Event> opens = sim::EventsOfKind(sim::Trace(), Kind::BoxOpen);
    std::vector<Event> closes = sim::EventsOfKind(sim::Trace(), Kind::BoxClose);
    EXPECT_EQ(opens[0].handle, 0u);
    EXPECT_EQ(opens[1].value, 2);
    EXPECT_EQ(opens[1].text2, "title");
    EXPECT_EQ(opens[1].value2, 1);
    EXPECT_EQ(closes[0].text, "inner");
    EXPECT_EQ(closes[0].t, 400u);
    EXPECT_EQ(closes[1].t, 1000u);
    // Timers kept coming inside both boxes; the inner box's dismissal is
    // repainted by the outer box's loop.
    EXPECT_EQ(TimesOf(WM_TIMER), (std::vector<Ms>{100, 200, 300, 400, 500, 600, 700, 800, 900}));
    EXPECT_EQ(TimesOf(WM_PAINT), (std::vector<Ms>{400}));
}

TEST_F(SimTest, ACloseRequestDismissesOpenBoxesBeforeItClosesTheWindow) {
    sim::Scenario sc = Quiet();
    sc.closeAt = 250;
    sc.boxOpenMs = 1000;
    HWND h = Start(sc);
    SetTimer(h, 1, 100, nullptr);
    g_react = [h](HWND, UINT m, WPARAM) {
        if (m == WM_TIMER && sim::Now() == 200) MessageBoxA(h, "inner", nullptr, MB_OK);
    };
    MessageBoxA(h, "outer", nullptr, MB_OK);
    // Both boxes end at the request; the window is not closed while one is open.
    std::vector<Event> closes = sim::EventsOfKind(sim::Trace(), Kind::BoxClose);
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(closes[0].text, "inner");
    EXPECT_EQ(closes[0].t, 250u);
    EXPECT_EQ(closes[1].t, 250u);
    EXPECT_TRUE(SeenOf(WM_CLOSE).empty());
    std::vector<Event> requests = sim::EventsOfKind(sim::Trace(), Kind::CloseRequest);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].value2, 1);
    EXPECT_FALSE(requests[0].ok);
    // With no box left, the next loop gets the close.
    sim::PumpUntil(300);
    EXPECT_EQ(TimesOf(WM_CLOSE), std::vector<Ms>{250});
}

TEST_F(SimTest, RunawayBoxNestingAbortsInsteadOfOverflowing) {
    HWND h = Start();
    SetTimer(h, 1, 10, nullptr);
    g_react = [h](HWND, UINT m, WPARAM) {
        if (m == WM_TIMER) MessageBoxA(h, "again", nullptr, MB_ICONWARNING);
    };
    EXPECT_THROW(sim::PumpUntil(100000), sim::Failure);
    EXPECT_EQ(sim::EventsOfKind(sim::Trace(), Kind::BoxOpen).size(), static_cast<size_t>(sim::kMaxBoxDepth));
}

// ---------------------------------------------------------------- input

TEST_F(SimTest, ClicksArePostedAtTheirTime) {
    sim::Scenario sc = Quiet();
    sc.clicks = {{300, sim::Button::Left, sim::Area::Caption, {5, 5}},
                 {100, sim::Button::Left, sim::Area::Client, {10, 20}},
                 {200, sim::Button::Right, sim::Area::Client, {30, 40}}};
    Start(sc);
    sim::PumpUntil(1000);
    ASSERT_EQ(g_seen.size(), 3u);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_NCLBUTTONDOWN}));
    EXPECT_EQ(TimesOf(WM_LBUTTONDOWN), (std::vector<Ms>{100}));
    EXPECT_EQ(g_seen[0].wParam, static_cast<WPARAM>(MK_LBUTTON));
    EXPECT_EQ(g_seen[0].lParam, (20 << 16) | 10);
    EXPECT_EQ(g_seen[1].wParam, static_cast<WPARAM>(MK_RBUTTON));
    EXPECT_EQ(g_seen[2].wParam, static_cast<WPARAM>(HTCAPTION));
}

TEST_F(SimTest, ClicksAreLostWhileHiddenOrUnderABoxAndQueuedWhileBusy) {
    sim::Scenario sc = Quiet();
    sc.clicks = {{50, sim::Button::Left}, {1200, sim::Button::Left}, {2200, sim::Button::Right}};
    HWND h = Start(sc, false);
    sim::PumpUntil(100);  // hidden at 50: lost
    ShowWindow(h, SW_SHOWNORMAL);
    sim::PumpUntil(1000);
    MessageBoxA(h, "box", nullptr, MB_ICONWARNING);  // 1000..2000: the click at 1200 is lost
    g_react = [](HWND, UINT m, WPARAM) {
        if (m == WM_USER) Sleep(1000);
    };
    PostMessageA(h, WM_USER, 0, 0);
    sim::PumpUntil(4000);  // busy 2000..3000: the click at 2200 waits
    EXPECT_TRUE(SeenOf(WM_LBUTTONDOWN).empty());
    EXPECT_EQ(TimesOf(WM_RBUTTONDOWN), (std::vector<Ms>{3000}));
    std::vector<Event> clicks = sim::EventsOfKind(sim::Trace(), Kind::Click);
    ASSERT_EQ(clicks.size(), 3u);
    EXPECT_FALSE(clicks[0].ok);
    EXPECT_FALSE(clicks[1].ok);
    EXPECT_TRUE(clicks[2].ok);
    EXPECT_EQ(clicks[2].t, 2200u) << "judged when it came due";
}

// ------------------------------------------------------------- settings

class IniTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/win32sim_iniXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        Write("Quorin.INI",
              "; settings of the exhibit\r\n"
              "[other]\r\n"
              "DUREE_POINT=999\r\n"
              "[Morse]\n"
              "  duree_point =  250  \n"
              "DUREE_TRAIT=1234567890123\r\n"
              "DUREE_SILENCE=\"100\"\n"
              "SINGLE='abc'\n"
              "MISMATCHED=\"abc'\n"
              "EMPTY=\n"
              "DUP=first\n"
              "DUP=second\n"
              ";DUREE_INACTIF=5\n"
              "[MORSE]\n"
              "LATER=x\n");
        ASSERT_EQ(mkdir((dir + "/Sub").c_str(), 0700), 0);
        Write("Sub/deep.ini", "[s]\nk=v\n");
    }
    void TearDown() override {
        std::remove((dir + "/Sub/deep.ini").c_str());
        rmdir((dir + "/Sub").c_str());
        std::remove((dir + "/Quorin.INI").c_str());
        rmdir(dir.c_str());
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }
    std::string dir;
};

TEST_F(IniTest, ReadsLikeWindows) {
    struct Case {
        const char* section;
        const char* key;
        const char* fallback;
        DWORD size;
        const char* file;
        std::string expected;
        bool found;
    };
    const char* f = "c:\\quorin.ini";
    const Case cases[] = {
        {"MORSE", "DUREE_POINT", "", 10, f, "250", true},           // case, blanks
        {"morse", "DUREE_TRAIT", "", 10, f, "123456789", true},     // cut to size - 1
        {"MORSE", "DUREE_SILENCE", "", 10, f, "100", true},         // double quotes
        {"MORSE", "SINGLE", "", 10, f, "abc", true},                // single quotes
        {"MORSE", "MISMATCHED", "", 10, f, "\"abc'", true},         // kept
        {"MORSE", "EMPTY", "dflt", 10, f, "", true},                // empty, not the default
        {"MORSE", "DUP", "", 10, f, "first", true},                 // first occurrence
        {"MORSE", "DUREE_INACTIF", "dflt", 10, f, "dflt", false},   // commented out
        {"MORSE", "LATER", "dflt", 10, f, "dflt", false},           // second section ignored
        {"other", "DUREE_POINT", "", 10, f, "999", true},           // other section, CR LF
        {"nosuch", "DUREE_POINT", "dflt", 10, f, "dflt", false},    // missing section
        {"MORSE", "NOSUCH", "", 10, f, "", false},                  // missing key
        {"MORSE", "DUREE_POINT", "", 10, "C:\\QUORIN.INI", "250", true},
        {"MORSE", "DUREE_POINT", "", 3, f, "25", true},
        {"MORSE", "DUREE_POINT", "", 1, f, "", true},
        {"s", "k", "", 10, "c:\\sub\\DEEP.ini", "v", true},
        {"MORSE", "DUREE_POINT", "abcdefghijkl", 5, "c:\\missing.ini", "abcd", false},
        {"MORSE", "DUREE_POINT", nullptr, 10, "d:\\quorin.ini", "", false},
        {"MORSE", "DUREE_POINT", "dflt", 10, "quorin.ini", "dflt", false},
    };
    sim::Scenario sc;
    sc.cDrive = dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key + " in " + c.file);
        sim::Reset(sc);
        char buf[16];
        std::memset(buf, 'Z', sizeof buf);
        DWORD n = GetPrivateProfileStringA(c.section, c.key, c.fallback, buf, c.size, c.file);
        EXPECT_EQ(std::string(buf), c.expected);
        EXPECT_EQ(n, c.expected.size());
        Event read = sim::EventsOfKind(sim::Trace(), Kind::IniRead).at(0);
        EXPECT_EQ(read.text, c.key);
        EXPECT_EQ(read.text2, c.expected);
        EXPECT_EQ(read.ok, c.found);
    }

    // No c:\ folder at all; and the unsupported list forms.
    sim::Reset(sim::Scenario());
    char buf[10] = "junk";
    EXPECT_EQ(GetPrivateProfileStringA("MORSE", "DUREE_POINT", "", buf, 10, f), 0u);
    EXPECT_STREQ(buf, "");
    sim::Reset(sc);
    std::strcpy(buf, "junk");
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "x", buf, 10, f), 0u);
    EXPECT_STREQ(buf, "");
}

// ---------------------------------------------------------- serial port

HANDLE OpenCom1() {
    return CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(Port, OpensAsTheScenarioSays) {
    struct Case {
        sim::PortState state;
        const char* name;
        DWORD error;
    };
    for (const Case& c : {Case{sim::PortState::Present, "COM1", ERROR_SUCCESS},
                          Case{sim::PortState::Present, "com1", ERROR_SUCCESS},
                          Case{sim::PortState::Absent, "COM1", ERROR_FILE_NOT_FOUND},
                          Case{sim::PortState::Busy, "COM1", ERROR_ACCESS_DENIED},
                          Case{sim::PortState::Present, "COM2", ERROR_FILE_NOT_FOUND}}) {
        SCOPED_TRACE(c.name);
        sim::Scenario sc;
        sc.port = c.state;
        sim::Reset(sc);
        HANDLE h = CreateFileA(c.name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(h == INVALID_HANDLE_VALUE, c.error != ERROR_SUCCESS);
        EXPECT_EQ(GetLastError(), c.error);
        Event open = sim::EventsOfKind(sim::Trace(), Kind::PortOpen).at(0);
        EXPECT_EQ(open.text, c.name);
        EXPECT_EQ(open.flags, GENERIC_READ | GENERIC_WRITE);
        EXPECT_EQ(open.value, 0);
        EXPECT_EQ(open.value2, OPEN_EXISTING);
        EXPECT_EQ(open.ok, c.error == ERROR_SUCCESS);
    }

    sim::Reset(sim::Scenario());
    HANDLE h = OpenCom1();
    EXPECT_EQ(OpenCom1(), INVALID_HANDLE_VALUE) << "the open is exclusive";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(SetCommMask(h, EV_CTS | EV_DSR | EV_RLSD));
    EXPECT_EQ(sim::EventsOfKind(sim::Trace(), Kind::PortMask).at(0).value, 0x38);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h)) << "closed already";

    sim::Scenario failing;
    failing.setCommMaskFails = true;
    sim::Reset(failing);
    EXPECT_FALSE(SetCommMask(OpenCom1(), 0x38));
    EXPECT_FALSE(SetCommMask(INVALID_HANDLE_VALUE, 0x38));
}

TEST(Port, ModemStatusFollowsThePressesAndScriptedFailures) {
    sim::Scenario sc;
    sc.presses = {{MS_DSR_ON, 100, 300}, {MS_CTS_ON, 200, 400}, {MS_RLSD_ON | MS_RING_ON, 250, 260}};
    sc.readFails = sim::FailReadsDuring({{500, 600}});
    sim::Reset(sc);
    HANDLE h = OpenCom1();
    struct Case {
        Ms t;
        BOOL ok;
        DWORD word;
    };
    const DWORD untouched = 0xDEAD;
    for (const Case& c : {Case{0, TRUE, 0}, Case{100, TRUE, MS_DSR_ON}, Case{250, TRUE, MS_DSR_ON | MS_CTS_ON | 0xC0},
                          Case{300, TRUE, MS_CTS_ON}, Case{400, TRUE, 0}, Case{500, FALSE, untouched},
                          Case{599, FALSE, untouched}, Case{600, TRUE, 0}}) {
        SCOPED_TRACE(c.t);
        Sleep(static_cast<DWORD>(c.t - sim::Now()));
        DWORD word = untouched;
        EXPECT_EQ(GetCommModemStatus(h, &word), c.ok);
        EXPECT_EQ(word, c.word);
        Event read = sim::EventsOfKind(sim::Trace(), Kind::PortRead).back();
        EXPECT_EQ(read.ok, c.ok != FALSE);
        EXPECT_EQ(read.value, c.ok ? c.word : 0);
    }

    DWORD word = 0;
    EXPECT_FALSE(GetCommModemStatus(INVALID_HANDLE_VALUE, &word));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // By read index: only the second read fails.
    sc.readFails = [](Ms, uint64_t index) { return index == 1; };
    sim::Reset(sc);
    h = OpenCom1();
    EXPECT_TRUE(GetCommModemStatus(h, &word));
    EXPECT_FALSE(GetCommModemStatus(h, &word));
    EXPECT_TRUE(GetCommModemStatus(h, &word));
}

TEST(Port, LineIntervals) {
    sim::Reset(sim::Scenario());
    HANDLE h = OpenCom1();
    EscapeCommFunction(h, SETRTS);
    Sleep(50);
    EscapeCommFunction(h, SETRTS);  // already up
    EscapeCommFunction(h, SETDTR);
    Sleep(50);
    EscapeCommFunction(h, CLRRTS);
    EscapeCommFunction(INVALID_HANDLE_VALUE, SETRTS);  // fails; no change
    Sleep(50);
    EscapeCommFunction(h, SETRTS);
    EXPECT_EQ(sim::RtsUpIntervals(sim::Trace()), (std::vector<Interval>{{0, 100}, {150, kNever}}));
    EXPECT_EQ(sim::DtrUpIntervals(sim::Trace()), (std::vector<Interval>{{50, kNever}}));
    std::vector<Event> rts = sim::EventsOfKind(sim::Trace(), Kind::Rts);
    ASSERT_EQ(rts.size(), 5u);
    EXPECT_FALSE(rts[3].ok) << "recorded with its result";
    CloseHandle(h);
    EXPECT_FALSE(EscapeCommFunction(h, CLRDTR)) << "closed port";
}

// ------------------------------------------------------------ RunProgram

int g_programRuns;  // a program global: zero at process start

LRESULT CALLBACK ProgramProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_DESTROY) {
        PostQuitMessage(g_programRuns * 10);
        return 0;
    }
    return DefWindowProcA(h, m, w, l);
}

// A whole program: counts its runs in a global and ends when closed.
int TinyProgram() {
    ++g_programRuns;
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProgramProc;
    wc.lpszClassName = "tiny";
    if (!RegisterClassA(&wc)) return -1;
    HWND h = CreateWindowExA(0, "tiny", "Tiny", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr, nullptr,
                             nullptr);
    SetTimer(h, 1, 200, nullptr);
    ShowWindow(h, SW_SHOWNORMAL);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

TEST(RunProgram, EachRunStartsFromProcessStart) {
    sim::Scenario sc;
    sc.closeAt = 1000;
    for (int run = 0; run < 2; ++run) {
        sim::RunResult r = sim::RunProgram(sc, TinyProgram);
        ASSERT_TRUE(r.returned) << r.Describe();
        EXPECT_EQ(r.exitCode, 10) << "the global was 0 again";
        EXPECT_EQ(r.endTime, 1000u);
        // 200..800; at 1000 the close request comes before the timer.
        EXPECT_EQ(sim::EventsOfKind(r.trace, Kind::TimerFired).size(), 4u);
        EXPECT_EQ(sim::EventsOfKind(r.trace, Kind::WindowDestroyed).at(0).value, 1);
    }
    EXPECT_EQ(g_programRuns, 0) << "the parent's copy is untouched";
}

TEST(RunProgram, ReportsCrashHangHorizonAndWallClock) {
    sim::Scenario sc;
    sc.closeAt = kNever;
    sim::RunResult crash = sim::RunProgram(sc, [] {
        Sleep(5);
        std::abort();
        return 0;
    });
    EXPECT_FALSE(crash.returned);
    EXPECT_EQ(crash.signal, SIGABRT) << crash.Describe();
    ASSERT_EQ(crash.trace.size(), 1u) << "the trace up to the crash";
    EXPECT_EQ(crash.trace[0].kind, Kind::Sleep);

    sim::RunResult hang = sim::RunProgram(sc, [] {
        MSG msg;
        GetMessageA(&msg, nullptr, 0, 0);
        return 0;
    });
    EXPECT_FALSE(hang.returned);
    EXPECT_NE(hang.abortMessage.find("hang"), std::string::npos) << hang.Describe();

    sc.horizon = 1000;
    sim::RunResult endless = sim::RunProgram(sc, TinyProgram);
    EXPECT_FALSE(endless.returned);
    EXPECT_NE(endless.abortMessage.find("horizon"), std::string::npos) << endless.Describe();
    EXPECT_EQ(endless.endTime, 1000u);

    sc.wallClockLimitSeconds = 1;
    sim::RunResult stuck = sim::RunProgram(sc, [] {
        for (;;) pause();
        return 0;
    });
    EXPECT_EQ(stuck.signal, SIGALRM);
    EXPECT_NE(stuck.abortMessage.find("wall-clock"), std::string::npos) << stuck.Describe();
}

TEST(RunProgram, ObserverAndHooksSeeEverythingWithoutAStoredTrace) {
    sim::Scenario sc;
    sc.closeAt = 1000;
    sc.keepTrace = false;
    static int observed, timers, dispatched;
    observed = timers = dispatched = 0;
    sc.observer = [](const Event& e) {
        ++observed;
        if (e.kind == Kind::TimerFired) ++timers;
    };
    sc.afterDispatch = [](const MSG&) { ++dispatched; };
    sim::Reset(sc);
    TinyProgram();  // in-process this time
    g_programRuns = 0;
    EXPECT_TRUE(sim::Trace().empty());
    EXPECT_EQ(timers, 4);
    EXPECT_GT(observed, timers);
    EXPECT_EQ(dispatched, 6) << "4 timers, WM_PAINT after showing, WM_CLOSE";

    // An observer's Abort ends a run with its message.
    sc.keepTrace = true;
    sc.observer = [](const Event& e) {
        if (e.kind == Kind::TimerFired && e.t >= 600) sim::Abort("invariant broken");
    };
    sim::RunResult r = sim::RunProgram(sc, TinyProgram);
    EXPECT_NE(r.abortMessage.find("invariant broken"), std::string::npos) << r.Describe();
    EXPECT_EQ(r.endTime, 600u);
    EXPECT_EQ(r.trace.back().kind, Kind::TimerFired) << "the offending event is in the trace";
}

// ------------------------------------------------------------- time()

TEST(CalendarTime, FollowsTheVirtualClock) {
    sim::Scenario sc;
    sc.startTime = 1234567;
    sim::Reset(sc);
    time_t (*volatile viaPointer)(time_t*) = &time;
    EXPECT_EQ(time(nullptr), 1234567);
    EXPECT_EQ(std::time(nullptr), 1234567);
    Sleep(2500);
    time_t out = 0;
    EXPECT_EQ(viaPointer(&out), 1234569);
    EXPECT_EQ(out, 1234569);

    sim::RunResult r = sim::RunProgram(sc, [] {
        Sleep(7000);
        return static_cast<int>(time(nullptr) - 1234567);
    });
    ASSERT_TRUE(r.returned) << r.Describe();
    EXPECT_EQ(r.exitCode, 7);
}

TEST(Trace, PrintsOneLinePerEventAndDumpsAroundATime) {
    sim::Reset(sim::Scenario());
    MessageBoxA(nullptr, "two\nlines", nullptr, MB_ICONWARNING);
    Sleep(5000);
    Sleep(10);
    std::vector<Event> opens = sim::EventsOfKind(sim::Trace(), Kind::BoxOpen);
    std::string line = sim::ToString(opens.at(0));
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_NE(line.find("BoxOpen"), std::string::npos) << line;
    EXPECT_NE(line.find("two\\nlines"), std::string::npos) << line;
    std::string dump = sim::DumpAround(sim::Trace(), 6000, 100, 100);
    EXPECT_EQ(dump, "[6000] Sleep ms=10 ok\n");
}

}  // namespace
