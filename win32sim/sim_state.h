// Internal state of the simulation, shared by the library's source files.
#pragma once

#include "win32sim.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace sim::detail {

// Handle values are small numbers with a distinct base per kind of object,
// so a trace shows at a glance what a handle is and mixing them up fails.
constexpr uintptr_t kWindowBase = 0x1000;
constexpr uintptr_t kFontBase = 0x2000;
constexpr uintptr_t kStockBase = 0x3000;
constexpr uintptr_t kDefaultFont = kStockBase + 13;  // the system font's stock index
constexpr uintptr_t kPortHandle = 0x4000;
constexpr uintptr_t kIconHandle = 0x5000;
constexpr uintptr_t kCursorHandle = 0x5001;
constexpr uintptr_t kDcBase = 0x100000;
constexpr uintptr_t kDcMask = 0xFFFFF;  // DC numbers wrap; few are open at once

template <class H>
H ToHandle(uintptr_t value) {
    return reinterpret_cast<H>(value);
}
inline uint64_t HandleValue(const void* h) { return reinterpret_cast<uintptr_t>(h); }

struct WndClass {
    std::string name;
    WNDPROC proc = nullptr;
    HBRUSH brush = nullptr;
};

struct Window {
    HWND hwnd = nullptr;
    WNDPROC proc = nullptr;
    HBRUSH brush = nullptr;
    int x = 0, y = 0, w = 0, h = 0;
    bool visible = false;
    bool alive = true;
    bool destroying = false;
    RECT invalid{};  // bounding rectangle; empty when valid
    bool erase = false;
};

struct Timer {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    UINT period = 0;
    Ms due = 0;
};

struct DeviceContext {
    HWND hwnd = nullptr;
    HFONT font = nullptr;  // nullptr: the default font
    RECT paint{};
};

struct State {
    Scenario sc;
    std::vector<Event> trace;

    std::vector<WndClass> classes;
    std::vector<Window> windows;  // by creation; handle = kWindowBase + index
    std::vector<Timer> timers;
    std::deque<MSG> posted;
    bool quitPosted = false;
    int exitCode = 0;

    size_t nextClick = 0;  // scenario clicks are sorted by time
    bool closeDone = false;
    bool closeToBox = false;  // the close request went to the open box; it ends that box

    int boxDepth = 0;
    int boxCount = 0;
    int paintDepth = 0;
    uint64_t dcSerial = 0;
    std::map<uintptr_t, DeviceContext> dcs;  // open device contexts by handle
    std::vector<LOGFONTA> fonts;             // handle = kFontBase + 1 + index
    int fontCalls = 0;

    bool portOpen = false;
    uint64_t portReads = 0;
    uint64_t timerCalls = 0;
    DWORD lastError = 0;

    Ms busyInstant = 0;  // livelock guard: messages taken at one instant
    uint64_t busyCount = 0;
};

State& S();
extern Ms g_now;

// Stamps the event with the current time and records it.
void Record(Event e);

// The live window of a handle, or nullptr. The pointer is invalidated by
// window creation: do not keep it across a call into a window procedure.
Window* LiveWindow(HWND hwnd);
// The first window created that still exists, or nullptr.
Window* MainWindow();
RECT ClientRect(const Window& w);
void Invalidate(Window& w, const RECT* area, bool erase);

bool SameText(const std::string& a, const std::string& b);  // ASCII, case-insensitive

// Inside RunProgram's child: where events and the result go.
extern int g_childFd;
void ShipEvent(const Event& e);
[[noreturn]] void ShipAbortAndExit(const std::string& message);

}  // namespace sim::detail
