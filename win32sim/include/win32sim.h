// win32sim: a deterministic stand-in for the Win32 subset of <windows.h>.
//
// The exhibit program is compiled unchanged against this library on Linux.
// Everything happens on one thread and on a virtual millisecond clock that
// starts at 0 and moves only where the platform itself would wait:
//   - in a message loop with nothing to retrieve (GetMessageA, PumpUntil),
//   - in Sleep,
//   - in the loop of a modal warning box (MessageBoxA).
// A handler takes no virtual time. Inputs (mouse clicks, the close request,
// button presses on the serial port's modem lines) come from a Scenario, and
// every observable effect is recorded as an Event in the trace.
//
// Behaviour of the simulated calls, as the program relies on it:
//
// Windows. RegisterClassA fails on a duplicate (case-insensitive) name or when
// scripted. CreateWindowExA sends WM_NCCREATE (FALSE: creation fails, only
// WM_NCDESTROY follows) then WM_CREATE (-1: the window is destroyed), both
// with lParam 0, and returns the handle only after WM_CREATE returned. A
// window is hidden until ShowWindow (or WS_VISIBLE). The client area is the
// window size less a border of kBorder px on each side and a caption of
// kCaption px; GetClientRect gives it at 0,0. DestroyWindow hides the
// window, sends WM_DESTROY then WM_NCDESTROY, then drops its timers. Posted
// messages for a destroyed window are retrieved but not dispatched.
// DefWindowProcA: WM_CLOSE destroys the window; WM_ERASEBKGND fills the
// paint area with the class brush and returns 1 (0 without a brush);
// WM_NCCREATE returns TRUE; WM_PAINT validates through BeginPaint/EndPaint;
// everything else returns 0.
//
// Message loop. GetMessageA retrieves, in this order: posted messages (FIFO,
// clicks and the close request included), WM_QUIT once PostQuitMessage was
// called (GetMessageA returns 0, wParam is the exit code), WM_PAINT of a
// visible window with an invalid area, then WM_TIMER of the due timer with
// the earliest due time (ties: lowest window, then lowest id). With nothing
// ready the clock moves to the next timer, scripted input or close request;
// when nothing can ever happen the run is aborted as a hang. Message filters
// are not supported. TranslateMessage does nothing.
//
// Timers. Keyed by (window, id). Arming a running id replaces it, counting
// afresh from now. Periods below USER_TIMER_MINIMUM count as 10 ms, above
// USER_TIMER_MAXIMUM as that maximum. When a WM_TIMER is retrieved at time t
// the next one is due at t + period, so a timer that came due several times
// while the thread was busy delivers one WM_TIMER. SetTimer returns the id
// (1 for id 0) or 0 when the window is NULL or destroyed or when the scenario
// makes it fail; after a failure no timer with that id runs, even one that
// ran before. TIMERPROC callbacks are not supported (the run aborts).
//
// Painting. InvalidateRect accumulates a bounding rectangle (clipped to the
// client area) and the erase flag. UpdateWindow sends WM_PAINT at once if the
// window is visible and invalid. Showing a hidden window invalidates its whole
// client area with erasing. BeginPaint takes and clears the invalid area,
// opens a device context with the default font, and sends WM_ERASEBKGND when
// erasing was asked; ps.fErase is TRUE only when that message returned 0.
// Paints nest (a new invalidation plus UpdateWindow inside a paint handler).
//
// GDI. GetStockObject supports WHITE_BRUSH. CreateFontIndirectA records the
// LOGFONTA and returns a new handle (NULL when scripted to fail). SelectObject
// only tracks fonts: it makes a font current and returns the previous one
// (the default font's handle at first); with NULL, an unknown object or a
// non-font it returns NULL and changes nothing. DrawTextA returns the text
// height: (1 + line feeds) x font height, one line with DT_SINGLELINE, 0 for
// empty text; the font height is |lfHeight|, kDefaultFontHeight for the
// default font or lfHeight 0. No word wrap is modelled. GdiFlush is recorded:
// drawing before it is on the screen even if the thread then blocks.
//
// Warning boxes. MessageBoxA records the box, then runs its own loop for the
// scenario's box time: it dispatches WM_TIMER and WM_PAINT as the main loop
// would but leaves posted messages (and WM_QUIT) for the main loop; a timer
// due exactly at the dismissal time waits for the next loop. Boxes nest up to
// kMaxBoxDepth (deeper aborts the run, rather than overflowing the stack).
// On dismissal, if the main window is visible, the screen area under the box
// (kBoxWidth x kBoxHeight centred on the screen) is invalidated with erasing,
// as on a classic desktop; a composited desktop keeps the window's pixels and
// asks for no paint (Scenario::repaintUnderBox). Returns IDOK.
//
// Input. Clicks and the close request are judged when they come due, as real
// hardware input would be: a click is posted to the main window (the first
// window created that still exists) if it is visible and no box is open,
// otherwise it is lost; the close request posts WM_CLOSE to the main window if
// it is visible, otherwise it is lost. A close request while a box is open
// goes to the box, the active window, and dismisses it at once (as Alt+F4
// does); it stays pending and is judged again when that box is gone, as if
// the person pressed Alt+F4 until the main window closed. Inputs that come
// due while the thread is busy (Sleep, a box) are queued then and retrieved
// afterwards. Only the button-down messages are modelled.
//
// Sleep records the wait and moves the clock; it dispatches nothing.
//
// Settings. GetPrivateProfileStringA reads a real INI file: "c:\name" (drive
// and name case-insensitive, backslashes as separators) maps to
// Scenario::cDrive/name. Section and key names are case-insensitive, blanks
// around keys and values are trimmed, ';' starts a comment line, the first
// occurrence of a key in the first matching section wins, CR LF or LF line
// ends, a value in matching double or single quotes loses them. At most
// size-1 characters are copied, then a NUL; the result is the count copied.
// A missing file, section or key copies the default (NULL counts as "").
// A NULL section or key (the real API's list forms) is not supported: the
// result is 0 and an empty buffer.
//
// Serial port. CreateFileA("COM1", ...) (name case-insensitive) succeeds or
// fails as the scenario says (ERROR_FILE_NOT_FOUND when absent,
// ERROR_ACCESS_DENIED when busy or already open); any other name fails with
// ERROR_FILE_NOT_FOUND. GetCommModemStatus answers the OR of the scripted
// presses covering now, fails on an invalid handle and on scripted reads
// (then *lpModemStat is left alone). EscapeCommFunction supports SETRTS,
// CLRRTS, SETDTR and CLRDTR (another code aborts the run); it succeeds only
// on the open port. Calls on an invalid handle set ERROR_INVALID_HANDLE.
//
// Calendar time. The library defines the C library's time(): it returns
// Scenario::startTime + Now() / 1000 seconds, so a scenario fixes the seed
// a program takes from the clock. The definition lives in the executable,
// which the dynamic linker searches before libc; the sanitizer runtimes'
// own time() is a weak interceptor, so this also holds under
// -fsanitize=address,undefined (the tests check both builds).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

using Ms = uint64_t;
constexpr Ms kNever = std::numeric_limits<Ms>::max();

// Frame of a window around its client area.
constexpr int kBorder = 8;
constexpr int kCaption = 23;
// Size of a warning box, centred on the screen.
constexpr int kBoxWidth = 300;
constexpr int kBoxHeight = 150;
constexpr int kMaxBoxDepth = 200;
constexpr int kDefaultFontHeight = 16;
constexpr int64_t kDefaultStartTime = 1700000000;  // 2023-11-14, seconds since 1970

// ----------------------------------------------------------------- trace

enum class Kind : uint8_t {
    ClassRegistered,
    WindowCreated,
    WindowShown,
    WindowDestroyed,
    TimerSet,
    TimerKilled,
    TimerFired,
    PaintBegin,
    Erase,
    PaintEnd,
    FontCreated,
    DrawText,
    BoxOpen,
    BoxClose,
    Sleep,
    PortOpen,
    PortMask,
    PortRead,
    Rts,
    Dtr,
    PortClose,
    IniRead,
    Quit,
    Click,
    CloseRequest,
    GdiFlush,
};

const char* KindName(Kind kind);

// One observable effect at virtual time t. Field use per kind (unlisted
// fields stay zero or empty):
//   ClassRegistered  text class name; value atom; ok
//   WindowCreated    handle window (0 on failure); text title; text2 class;
//                    flags style; rect x, y, x + w, y + h; ok
//   WindowShown      handle window; value show command; value2 1 if visible now
//   WindowDestroyed  handle window; value timers still running, now dropped
//   TimerSet         handle window; id; value period asked; value2 effective
//                    period (0 on failure); ok
//   TimerKilled      handle window; id; ok: it was running
//   TimerFired       handle window; id; value the due time it fired for
//                    (t - value is the lateness)
//   PaintBegin       handle window; id device context; rect paint area;
//                    ok erasing asked; value paint nesting depth (1 = outer)
//   Erase            handle window; id brush; rect area filled
//   PaintEnd         handle window; id device context; value nesting depth
//   FontCreated      handle font (0 on failure); font the LOGFONTA asked;
//                    value lfHeight; text face name; ok
//   DrawText         handle font current in the DC (0 = default font); id DC;
//                    value font height; value2 height returned; text the exact
//                    bytes; rect; flags DT_*; ok: the DC was valid
//   BoxOpen          handle owner (0 none); text; text2 caption; value2 1 if a
//                    caption was given, 0 for NULL; flags MB_*; value depth
//                    (1 = outermost); id index of the box (0-based)
//   BoxClose         text; value depth; id index of the box
//   Sleep            value milliseconds
//   PortOpen         text name; handle result; flags access; value share mode;
//                    value2 creation disposition; ok
//   PortMask         handle; value mask; ok
//   PortRead         handle; value modem-status word (0 on failure); id read
//                    index (0-based); ok
//   Rts, Dtr         handle; value 1 raised, 0 dropped; ok
//   PortClose        handle; ok
//   IniRead          text key; text2 the value copied; value the count
//                    returned; ok: the key was found in the file
//   Quit             value exit code (at PostQuitMessage)
//   Click            handle main window (0 none); id message posted;
//                    rect.left, rect.top the point; value scripted time; ok
//                    posted, false: lost
//   CloseRequest     handle main window (0 none); value scripted time; ok
//                    posted, false: lost or sent to a box; value2 1: it
//                    dismissed the open box
//   GdiFlush         (nothing: the thread's drawing so far is on the screen)
struct Event {
    Ms t = 0;
    Kind kind = Kind::Quit;
    bool ok = true;
    uint64_t handle = 0;
    uint64_t id = 0;
    int64_t value = 0;
    int64_t value2 = 0;
    uint32_t flags = 0;
    RECT rect{};
    LOGFONTA font{};
    std::string text;
    std::string text2;
};

// One line, for failure messages and dumps.
std::string ToString(const Event& e);
std::ostream& operator<<(std::ostream& os, const Event& e);

struct Interval {
    Ms from = 0;
    Ms to = 0;  // kNever: still open at the end of the trace
};
bool operator==(const Interval& a, const Interval& b);
std::ostream& operator<<(std::ostream& os, const Interval& i);

std::vector<Event> EventsOfKind(const std::vector<Event>& trace, Kind kind);
std::vector<Event> DrawTexts(const std::vector<Event>& trace);
// The texts of the warning boxes, in the order they opened.
std::vector<std::string> WarningTexts(const std::vector<Event>& trace);
// Intervals during which RTS (or DTR) was up, from the successful line
// changes; the line starts down. A raise while up changes nothing.
std::vector<Interval> RtsUpIntervals(const std::vector<Event>& trace);
std::vector<Interval> DtrUpIntervals(const std::vector<Event>& trace);
// The events from t - before to t + after, one per line.
std::string DumpAround(const std::vector<Event>& trace, Ms t, Ms before = 1000, Ms after = 1000);

// -------------------------------------------------------------- scenario

enum class PortState { Present, Absent, Busy };

// A button held down: the modem-status bits are asserted during [from, to).
struct Press {
    DWORD bits = 0;
    Ms from = 0;
    Ms to = 0;
};

enum class Button { Left, Right };
enum class Area { Client, Caption };

// A mouse click at virtual time `at`. The point goes into lParam: client
// coordinates for Area::Client, screen coordinates for Area::Caption.
struct Click {
    Ms at = 0;
    Button button = Button::Left;
    Area area = Area::Client;
    POINT pt{100, 100};
};

struct Scenario {
    int64_t startTime = kDefaultStartTime;  // time() at virtual time 0, in seconds
    int screenWidth = 1920;
    int screenHeight = 1080;
    std::string cDrive;  // host folder standing for c:\ ; empty: no file at all

    PortState port = PortState::Present;
    bool setCommMaskFails = false;
    std::vector<Press> presses;
    // GetCommModemStatus fails when this answers true (see FailReadsDuring).
    std::function<bool(Ms now, uint64_t readIndex)> readFails;

    std::vector<Click> clicks;
    Ms closeAt = 60000;  // WM_CLOSE request; kNever: nobody closes the window

    Ms boxOpenMs = 1000;  // how long a warning box stays open
    // Overrides boxOpenMs per box: its text and its index (0-based).
    std::function<Ms(const std::string& text, int index)> boxOpenFor;
    // true: a classic desktop, where the window repaints what a box covered;
    // false: a composited one, which restores it without a paint.
    bool repaintUnderBox = true;

    bool registerClassFails = false;
    bool createWindowFails = false;
    // SetTimer fails when this answers true; callIndex counts SetTimer calls.
    std::function<bool(UINT_PTR id, Ms now, uint64_t callIndex)> setTimerFails;
    // CreateFontIndirectA returns NULL when this answers true for the call index.
    std::function<bool(int index)> createFontFails;

    // The run aborts when the clock would pass this time.
    Ms horizon = kNever;
    // RunProgram's child is killed by SIGALRM after this many real seconds
    // (0: no limit), so a program spinning outside the simulation ends too.
    unsigned wallClockLimitSeconds = 300;

    // false: events are not stored (long soaks); the observer still sees them.
    bool keepTrace = true;
    // Sees every event as it is recorded; may call Abort() to end the run.
    std::function<void(const Event&)> observer;
    // Called after every DispatchMessageA, with the message dispatched.
    std::function<void(const MSG&)> afterDispatch;
};

// A readFails predicate: reads fail while now lies in one of the [from, to).
std::function<bool(Ms, uint64_t)> FailReadsDuring(std::vector<Interval> intervals);

// ------------------------------------------------------------------- run

// Thrown by Abort() when the run is in-process (not inside RunProgram).
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Ends the run loudly: inside RunProgram the child ships the message and
// exits; in-process it throws sim::Failure. Used for hangs, the horizon,
// unsupported calls, and by observers for broken invariants.
[[noreturn]] void Abort(const std::string& why);

// Fresh platform state for the scenario: clock 0, no classes, windows or
// timers, empty trace.
void Reset(const Scenario& scenario);

// Runs a GetMessageA / DispatchMessageA loop until virtual time t (not
// aborting when nothing is left to happen); returns early on WM_QUIT.
void PumpUntil(Ms t);

Ms Now();
const std::vector<Event>& Trace();

struct RunResult {
    bool returned = false;  // the entry returned; exitCode is its result
    int exitCode = 0;
    int signal = 0;      // the signal that killed the child, or 0
    int exitStatus = 0;  // the child's exit status when it did not return
                         // (a sanitizer report exits with 1)
    std::string abortMessage;  // set when the simulation ended the run
    Ms endTime = 0;            // virtual time at the end
    std::vector<Event> trace;  // up to the end, also after a crash

    std::string Describe() const;  // a one-line summary for failure messages
};

// Runs a whole program from process start: the forked child does
// Reset(scenario) and entry(), and ships the trace and the result back
// through a pipe. The child's globals start as at process start, so the
// program needs no reset functions. Check results in the parent: an
// assertion made inside the child is lost.
RunResult RunProgram(const Scenario& scenario, std::function<int()> entry);

}  // namespace sim
