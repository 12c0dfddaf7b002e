// The clock, windows, message loops, timers, warning boxes and scripted
// input of the simulation.
#include "sim_state.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <tuple>

namespace sim {
namespace detail {

// Constant-initialised, so time() works even before any Reset.
Ms g_now = 0;
static int64_t g_startTime = kDefaultStartTime;

State& S() {
    static State state;
    return state;
}

void Record(Event e) {
    State& s = S();
    e.t = g_now;
    if (s.sc.keepTrace) {
        s.trace.push_back(e);
        if (g_childFd >= 0) ShipEvent(e);
    }
    if (s.sc.observer) s.sc.observer(e);
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

Window* LiveWindow(HWND hwnd) {
    uintptr_t v = HandleValue(hwnd);
    State& s = S();
    if (v < kWindowBase || v >= kWindowBase + s.windows.size()) return nullptr;
    Window& w = s.windows[v - kWindowBase];
    return w.alive ? &w : nullptr;
}

Window* MainWindow() {
    for (Window& w : S().windows)
        if (w.alive) return &w;
    return nullptr;
}

RECT ClientRect(const Window& w) {
    return RECT{0, 0, std::max(0, w.w - 2 * kBorder), std::max(0, w.h - 2 * kBorder - kCaption)};
}

static bool Empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

void Invalidate(Window& w, const RECT* area, bool erase) {
    RECT c = ClientRect(w);
    RECT r = area ? *area : c;
    r = RECT{std::max(r.left, c.left), std::max(r.top, c.top), std::min(r.right, c.right),
             std::min(r.bottom, c.bottom)};
    if (Empty(r)) return;
    if (Empty(w.invalid)) {
        w.invalid = r;
    } else {
        w.invalid = RECT{std::min(w.invalid.left, r.left), std::min(w.invalid.top, r.top),
                         std::max(w.invalid.right, r.right), std::max(w.invalid.bottom, r.bottom)};
    }
    w.erase = w.erase || erase;
}

// ------------------------------------------------------------------ input

static LPARAM PointParam(POINT p) {
    return static_cast<LPARAM>((static_cast<uint32_t>(p.y & 0xFFFF) << 16) | (p.x & 0xFFFF));
}

static void Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m{};
    m.hwnd = hwnd;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = static_cast<DWORD>(g_now);
    S().posted.push_back(m);
}

static void DeliverClick(const Click& c) {
    State& s = S();
    Window* w = MainWindow();
    bool left = c.button == Button::Left;
    UINT message;
    WPARAM wParam;
    if (c.area == Area::Client) {
        message = left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN;
        wParam = left ? MK_LBUTTON : MK_RBUTTON;
    } else {
        message = left ? WM_NCLBUTTONDOWN : WM_NCRBUTTONDOWN;
        wParam = HTCAPTION;
    }
    Event e;
    e.kind = Kind::Click;
    e.handle = w ? HandleValue(w->hwnd) : 0;
    e.id = message;
    e.rect = RECT{c.pt.x, c.pt.y, 0, 0};
    e.value = static_cast<int64_t>(c.at);
    e.ok = w && w->visible && s.boxDepth == 0;
    if (e.ok) Post(w->hwnd, message, wParam, PointParam(c.pt));
    Record(e);
}

// While a box is open it is the active window: Alt+F4 dismisses the box,
// and the person closing the exhibit presses it again until the main window
// closes. So the request ends the innermost box and stays pending.
static void DeliverClose() {
    State& s = S();
    Window* w = MainWindow();
    Event e;
    e.kind = Kind::CloseRequest;
    e.handle = w ? HandleValue(w->hwnd) : 0;
    e.value = static_cast<int64_t>(s.sc.closeAt);
    if (s.boxDepth > 0) {
        s.closeToBox = true;
        e.ok = false;
        e.value2 = 1;
    } else {
        s.closeDone = true;
        e.ok = w && w->visible;
        if (e.ok) Post(w->hwnd, WM_CLOSE, 0, 0);
    }
    Record(e);
}

// Turns the inputs due by now into posted messages or lost inputs.
static void DeliverDueInputs() {
    State& s = S();
    for (;;) {
        bool click = s.nextClick < s.sc.clicks.size() && s.sc.clicks[s.nextClick].at <= g_now;
        bool close = !s.closeDone && !s.closeToBox && s.sc.closeAt <= g_now;
        if (click && (!close || s.sc.clicks[s.nextClick].at <= s.sc.closeAt)) {
            DeliverClick(s.sc.clicks[s.nextClick++]);
        } else if (close) {
            DeliverClose();
        } else {
            return;
        }
    }
}

static Ms NextInputTime() {
    State& s = S();
    Ms t = kNever;
    if (s.nextClick < s.sc.clicks.size()) t = s.sc.clicks[s.nextClick].at;
    if (!s.closeDone && !s.closeToBox) t = std::min(t, s.sc.closeAt);
    return t;
}

// Moves the clock to t, judging each input at the moment it comes due.
static void AdvanceTo(Ms t) {
    State& s = S();
    DeliverDueInputs();
    while (g_now < t) {
        Ms step = std::min(t, NextInputTime());  // after delivery, inputs lie ahead
        if (s.sc.horizon != kNever && step > s.sc.horizon) {
            g_now = s.sc.horizon;
            Abort("the virtual-time horizon was passed");
        }
        g_now = step;
        DeliverDueInputs();
    }
}

// --------------------------------------------------------------- messages

// Takes the next message a loop would retrieve at now. A modal loop (a
// warning box) takes only paints and timers.
static bool TakeNext(MSG& m, bool modal) {
    State& s = S();
    DeliverDueInputs();
    m = MSG{};
    m.time = static_cast<DWORD>(g_now);
    bool got = false;
    if (!modal && !s.posted.empty()) {
        m = s.posted.front();
        s.posted.pop_front();
        got = true;
    } else if (!modal && s.quitPosted) {
        s.quitPosted = false;
        m.message = WM_QUIT;
        m.wParam = static_cast<WPARAM>(s.exitCode);
        got = true;
    }
    if (!got) {
        for (Window& w : s.windows) {
            if (w.alive && w.visible && !Empty(w.invalid)) {
                m.hwnd = w.hwnd;
                m.message = WM_PAINT;
                got = true;
                break;
            }
        }
    }
    if (!got) {
        Timer* best = nullptr;
        for (Timer& t : s.timers) {
            if (t.due > g_now) continue;
            auto key = [](const Timer& x) { return std::make_tuple(x.due, HandleValue(x.hwnd), x.id); };
            if (!best || key(t) < key(*best)) best = &t;
        }
        if (best) {
            Event e;
            e.kind = Kind::TimerFired;
            e.handle = HandleValue(best->hwnd);
            e.id = best->id;
            e.value = static_cast<int64_t>(best->due);
            best->due = g_now + best->period;
            m.hwnd = best->hwnd;
            m.message = WM_TIMER;
            m.wParam = best->id;
            got = true;
            Record(e);
        }
    }
    if (!got) return false;
    // A handler that keeps the queue full without time passing (a paint that
    // never validates, a message that posts itself) would spin for ever.
    if (s.busyInstant != g_now) {
        s.busyInstant = g_now;
        s.busyCount = 0;
    }
    if (++s.busyCount > 1000000) Abort("livelock: a million messages without time passing");
    return true;
}

// The earliest time at which something can become ready, or kNever.
static Ms NextWake() {
    Ms t = NextInputTime();
    for (const Timer& timer : S().timers) t = std::min(t, timer.due);
    return t;
}

static Ms BoxDuration(const std::string& text, int index) {
    const Scenario& sc = S().sc;
    return sc.boxOpenFor ? sc.boxOpenFor(text, index) : sc.boxOpenMs;
}

}  // namespace detail

using namespace detail;

// ---------------------------------------------------------------- run API

[[noreturn]] void Abort(const std::string& why) {
    std::string message = "win32sim: " + why + " (at " + std::to_string(g_now) + " ms)";
    if (g_childFd >= 0) ShipAbortAndExit(message);
    throw Failure(message);
}

void Reset(const Scenario& scenario) {
    State& s = S();
    s = State();
    s.sc = scenario;
    std::stable_sort(s.sc.clicks.begin(), s.sc.clicks.end(),
                     [](const Click& a, const Click& b) { return a.at < b.at; });
    g_now = 0;
    g_startTime = scenario.startTime;
}

void PumpUntil(Ms t) {
    for (;;) {
        MSG m;
        if (TakeNext(m, false)) {
            if (m.message == WM_QUIT) return;
            DispatchMessageA(&m);
            continue;
        }
        Ms next = NextWake();
        if (next > t) {
            AdvanceTo(t);
            return;
        }
        AdvanceTo(next);
    }
}

Ms Now() { return g_now; }
const std::vector<Event>& Trace() { return S().trace; }

}  // namespace sim

using namespace sim;
using namespace sim::detail;

// The C library's calendar time, on the virtual clock.
extern "C" time_t time(time_t* out) noexcept {
    time_t v = static_cast<time_t>(g_startTime + static_cast<int64_t>(g_now / 1000));
    if (out) *out = v;
    return v;
}

// ---------------------------------------------------------------- windows

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
    State& s = S();
    Event e;
    e.kind = Kind::ClassRegistered;
    e.text = wc && wc->lpszClassName ? wc->lpszClassName : "";
    e.ok = wc && wc->lpszClassName && wc->lpfnWndProc && !s.sc.registerClassFails;
    for (const WndClass& c : s.classes)
        if (SameText(c.name, e.text)) e.ok = false;
    if (e.ok) {
        s.classes.push_back(WndClass{e.text, wc->lpfnWndProc, wc->hbrBackground});
        e.value = 0xC000 + static_cast<int64_t>(s.classes.size()) - 1;
    }
    Record(e);
    return static_cast<ATOM>(e.value);
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    return !instance && name == IDI_APPLICATION ? ToHandle<HICON>(kIconHandle) : nullptr;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    return !instance && name == IDC_ARROW ? ToHandle<HCURSOR>(kCursorHandle) : nullptr;
}

int WINAPI GetSystemMetrics(int index) {
    if (index == SM_CXSCREEN) return S().sc.screenWidth;
    if (index == SM_CYSCREEN) return S().sc.screenHeight;
    return 0;
}

static void MakeVisible(Window& w) {
    if (w.visible) return;
    w.visible = true;
    Invalidate(w, nullptr, true);
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR title, DWORD style, int x, int y, int w,
                            int h, HWND, HMENU, HINSTANCE, LPVOID) {
    State& s = S();
    Event e;
    e.kind = Kind::WindowCreated;
    e.text = title ? title : "";
    e.text2 = className ? className : "";
    e.flags = style;
    e.rect = RECT{x, y, x + w, y + h};
    const WndClass* cls = nullptr;
    for (const WndClass& c : s.classes)
        if (SameText(c.name, e.text2)) cls = &c;
    if (!cls || s.sc.createWindowFails) {
        e.ok = false;
        Record(e);
        return nullptr;
    }
    Window win;
    win.hwnd = ToHandle<HWND>(kWindowBase + s.windows.size());
    win.proc = cls->proc;
    win.brush = cls->brush;
    win.x = x;
    win.y = y;
    win.w = w;
    win.h = h;
    s.windows.push_back(win);
    HWND hwnd = win.hwnd;
    WNDPROC proc = win.proc;
    if (!proc(hwnd, WM_NCCREATE, 0, 0)) {
        proc(hwnd, WM_NCDESTROY, 0, 0);
        if (Window* dead = LiveWindow(hwnd)) dead->alive = false;
        e.ok = false;
        Record(e);
        return nullptr;
    }
    if (proc(hwnd, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(hwnd);
        e.ok = false;
        Record(e);
        return nullptr;
    }
    Window* live = LiveWindow(hwnd);
    if (!live) {  // destroyed from inside WM_CREATE
        e.ok = false;
        Record(e);
        return nullptr;
    }
    if (style & WS_VISIBLE) MakeVisible(*live);
    e.handle = HandleValue(hwnd);
    Record(e);
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    Window* w = LiveWindow(hwnd);
    if (!w || w->destroying) return FALSE;
    w->destroying = true;
    w->visible = false;
    WNDPROC proc = w->proc;
    proc(hwnd, WM_DESTROY, 0, 0);
    proc(hwnd, WM_NCDESTROY, 0, 0);
    LiveWindow(hwnd)->alive = false;
    std::vector<Timer>& timers = S().timers;
    auto mine = [hwnd](const Timer& t) { return t.hwnd == hwnd; };
    Event e;
    e.kind = Kind::WindowDestroyed;
    e.handle = HandleValue(hwnd);
    e.value = std::count_if(timers.begin(), timers.end(), mine);
    timers.erase(std::remove_if(timers.begin(), timers.end(), mine), timers.end());
    Record(e);
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hwnd, int command) {
    Window* w = LiveWindow(hwnd);
    if (!w) return FALSE;
    bool was = w->visible;
    if (command == SW_HIDE)
        w->visible = false;
    else
        MakeVisible(*w);
    Event e;
    e.kind = Kind::WindowShown;
    e.handle = HandleValue(hwnd);
    e.value = command;
    e.value2 = w->visible ? 1 : 0;
    Record(e);
    return was ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
    Window* w = LiveWindow(hwnd);
    if (!w) return FALSE;
    if (w->visible && !Empty(w->invalid)) SendMessageA(hwnd, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT* area, BOOL erase) {
    Window* w = LiveWindow(hwnd);
    if (!w) return FALSE;
    Invalidate(*w, area, erase != FALSE);
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
    Window* w = LiveWindow(hwnd);
    if (!w || !rect) return FALSE;
    *rect = ClientRect(*w);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND: {
        Window* w = LiveWindow(hwnd);
        auto dc = S().dcs.find(static_cast<uintptr_t>(wParam));
        if (!w || !w->brush || dc == S().dcs.end()) return 0;
        Event e;
        e.kind = Kind::Erase;
        e.handle = HandleValue(hwnd);
        e.id = HandleValue(w->brush);
        e.rect = dc->second.paint;
        Record(e);
        return 1;
    }
    default:
        return 0;
    }
}

// --------------------------------------------------------------- messages

BOOL WINAPI GetMessageA(LPMSG msg, HWND filter, UINT first, UINT last) {
    if (!msg) Abort("GetMessageA without a MSG");
    if (filter || first || last) Abort("GetMessageA filters are not supported");
    for (;;) {
        if (TakeNext(*msg, false)) return msg->message == WM_QUIT ? FALSE : TRUE;
        Ms next = NextWake();
        if (next == kNever) Abort("hang: the message loop waits and nothing can ever happen");
        AdvanceTo(next);
    }
}

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg) return 0;
    LRESULT result = 0;
    if (Window* w = LiveWindow(msg->hwnd)) {
        WNDPROC proc = w->proc;
        result = proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    }
    if (S().sc.afterDispatch) S().sc.afterDispatch(*msg);
    return result;
}

void WINAPI PostQuitMessage(int code) {
    State& s = S();
    s.quitPosted = true;
    s.exitCode = code;
    Event e;
    e.kind = Kind::Quit;
    e.value = code;
    Record(e);
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd && !LiveWindow(hwnd)) return FALSE;
    Post(hwnd, message, wParam, lParam);
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = LiveWindow(hwnd);
    if (!w) return 0;
    WNDPROC proc = w->proc;
    return proc(hwnd, message, wParam, lParam);
}

// ----------------------------------------------------------------- timers

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC callback) {
    State& s = S();
    uint64_t call = s.timerCalls++;
    if (callback) Abort("SetTimer with a TIMERPROC is not supported");
    UINT period = std::min<UINT>(std::max<UINT>(ms, USER_TIMER_MINIMUM), USER_TIMER_MAXIMUM);
    Event e;
    e.kind = Kind::TimerSet;
    e.handle = HandleValue(hwnd);
    e.id = id;
    e.value = ms;
    e.ok = LiveWindow(hwnd) && !(s.sc.setTimerFails && s.sc.setTimerFails(id, g_now, call));
    auto it = std::find_if(s.timers.begin(), s.timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (!e.ok) {
        // The caller is told the timer does not run, so none may be left running.
        if (it != s.timers.end()) s.timers.erase(it);
        Record(e);
        return 0;
    }
    e.value2 = period;
    if (it == s.timers.end()) it = s.timers.insert(s.timers.end(), Timer{hwnd, id, 0, 0});
    it->period = period;
    it->due = g_now + period;
    Record(e);
    return id ? id : 1;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
    std::vector<Timer>& timers = S().timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    Event e;
    e.kind = Kind::TimerKilled;
    e.handle = HandleValue(hwnd);
    e.id = id;
    e.ok = it != timers.end();
    if (e.ok) timers.erase(it);
    Record(e);
    return e.ok ? TRUE : FALSE;
}

// ---------------------------------------------------------- boxes, Sleep

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    State& s = S();
    if (s.boxDepth >= kMaxBoxDepth) Abort("warning boxes nested deeper than " + std::to_string(kMaxBoxDepth));
    int index = s.boxCount++;
    int depth = ++s.boxDepth;
    Event open;
    open.kind = Kind::BoxOpen;
    open.handle = HandleValue(owner);
    open.text = text ? text : "";
    open.text2 = caption ? caption : "";
    open.value2 = caption ? 1 : 0;
    open.flags = type;
    open.value = depth;
    open.id = static_cast<uint64_t>(index);
    Record(open);

    Ms end = g_now + BoxDuration(open.text, index);
    while (g_now < end && !s.closeToBox) {
        MSG m;
        if (TakeNext(m, true))
            DispatchMessageA(&m);
        else
            AdvanceTo(std::min(NextWake(), end));
    }

    Event close;
    close.kind = Kind::BoxClose;
    close.text = open.text;
    close.value = depth;
    close.id = open.id;
    Record(close);
    --s.boxDepth;
    s.closeToBox = false;

    // A classic desktop has the window repaint what the box covered.
    if (Window* w = MainWindow(); w && w->visible && s.sc.repaintUnderBox) {
        LONG left = (s.sc.screenWidth - kBoxWidth) / 2 - (w->x + kBorder);
        LONG top = (s.sc.screenHeight - kBoxHeight) / 2 - (w->y + kBorder + kCaption);
        RECT under{left, top, left + kBoxWidth, top + kBoxHeight};
        Invalidate(*w, &under, true);
    }
    return IDOK;
}

void WINAPI Sleep(DWORD ms) {
    Event e;
    e.kind = Kind::Sleep;
    e.value = ms;
    Record(e);
    AdvanceTo(g_now + ms);
}

DWORD WINAPI GetLastError(void) { return S().lastError; }
