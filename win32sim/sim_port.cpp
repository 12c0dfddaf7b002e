// The serial port "COM1": its modem-status inputs come from the scenario's
// presses, its RTS and DTR outputs go into the trace.
#include "sim_state.h"

using namespace sim;
using namespace sim::detail;

namespace {

bool IsOpenPort(HANDLE h) { return S().portOpen && HandleValue(h) == kPortHandle; }

// Records the call either way; sets the last error on an invalid handle.
bool CheckHandle(HANDLE h, Event& e) {
    e.handle = HandleValue(h);
    e.ok = IsOpenPort(h);
    if (!e.ok) S().lastError = ERROR_INVALID_HANDLE;
    return e.ok;
}

}  // namespace

namespace sim {

std::function<bool(Ms, uint64_t)> FailReadsDuring(std::vector<Interval> intervals) {
    return [intervals = std::move(intervals)](Ms now, uint64_t) {
        for (const Interval& i : intervals)
            if (i.from <= now && now < i.to) return true;
        return false;
    };
}

}  // namespace sim

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD creation,
                          DWORD, HANDLE) {
    State& s = S();
    Event e;
    e.kind = Kind::PortOpen;
    e.text = name ? name : "";
    e.flags = access;
    e.value = share;
    e.value2 = creation;
    DWORD error = ERROR_SUCCESS;
    if (!SameText(e.text, "COM1") || s.sc.port == PortState::Absent)
        error = ERROR_FILE_NOT_FOUND;
    else if (s.sc.port == PortState::Busy || s.portOpen)
        error = ERROR_ACCESS_DENIED;
    s.lastError = error;
    e.ok = error == ERROR_SUCCESS;
    HANDLE h = INVALID_HANDLE_VALUE;
    if (e.ok) {
        s.portOpen = true;
        h = ToHandle<HANDLE>(kPortHandle);
    }
    e.handle = HandleValue(h);
    Record(e);
    return h;
}

BOOL WINAPI SetCommMask(HANDLE h, DWORD mask) {
    Event e;
    e.kind = Kind::PortMask;
    e.value = mask;
    if (CheckHandle(h, e) && S().sc.setCommMaskFails) e.ok = false;
    Record(e);
    return e.ok ? TRUE : FALSE;
}

BOOL WINAPI GetCommModemStatus(HANDLE h, LPDWORD status) {
    State& s = S();
    Event e;
    e.kind = Kind::PortRead;
    if (CheckHandle(h, e)) {
        e.id = s.portReads++;
        if (!status || (s.sc.readFails && s.sc.readFails(g_now, e.id))) e.ok = false;
    }
    if (e.ok) {
        DWORD word = 0;
        for (const Press& p : s.sc.presses)
            if (p.from <= g_now && g_now < p.to) word |= p.bits;
        *status = word;
        e.value = word;
    }
    Record(e);
    return e.ok ? TRUE : FALSE;
}

BOOL WINAPI EscapeCommFunction(HANDLE h, DWORD function) {
    Event e;
    switch (function) {
    case SETRTS: case CLRRTS: e.kind = Kind::Rts; break;
    case SETDTR: case CLRDTR: e.kind = Kind::Dtr; break;
    default: Abort("EscapeCommFunction code " + std::to_string(function) + " is not supported");
    }
    e.value = function == SETRTS || function == SETDTR ? 1 : 0;
    CheckHandle(h, e);
    Record(e);
    return e.ok ? TRUE : FALSE;
}

BOOL WINAPI CloseHandle(HANDLE h) {
    Event e;
    e.kind = Kind::PortClose;
    if (CheckHandle(h, e)) S().portOpen = false;
    Record(e);
    return e.ok ? TRUE : FALSE;
}
