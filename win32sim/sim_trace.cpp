// Printing and querying the trace.
#include "sim_state.h"

#include <cstdio>
#include <ostream>
#include <sstream>

namespace sim {

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::ClassRegistered: return "ClassRegistered";
    case Kind::WindowCreated: return "WindowCreated";
    case Kind::WindowShown: return "WindowShown";
    case Kind::WindowDestroyed: return "WindowDestroyed";
    case Kind::TimerSet: return "TimerSet";
    case Kind::TimerKilled: return "TimerKilled";
    case Kind::TimerFired: return "TimerFired";
    case Kind::PaintBegin: return "PaintBegin";
    case Kind::Erase: return "Erase";
    case Kind::PaintEnd: return "PaintEnd";
    case Kind::FontCreated: return "FontCreated";
    case Kind::DrawText: return "DrawText";
    case Kind::BoxOpen: return "BoxOpen";
    case Kind::BoxClose: return "BoxClose";
    case Kind::Sleep: return "Sleep";
    case Kind::PortOpen: return "PortOpen";
    case Kind::PortMask: return "PortMask";
    case Kind::PortRead: return "PortRead";
    case Kind::Rts: return "Rts";
    case Kind::Dtr: return "Dtr";
    case Kind::PortClose: return "PortClose";
    case Kind::IniRead: return "IniRead";
    case Kind::Quit: return "Quit";
    case Kind::Click: return "Click";
    case Kind::CloseRequest: return "CloseRequest";
    case Kind::GdiFlush: return "GdiFlush";
    }
    return "?";
}

namespace {

std::string Hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

std::string Rect(const RECT& r) {
    std::ostringstream os;
    os << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
    return os.str();
}

// Control bytes and non-ASCII bytes escaped, so an event stays on one line.
std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

std::string ToString(const Event& e) {
    std::ostringstream os;
    os << "[" << e.t << "] " << KindName(e.kind);
    switch (e.kind) {
    case Kind::ClassRegistered: os << " " << Quoted(e.text) << " atom=" << Hex(e.value); break;
    case Kind::WindowCreated:
        os << " hwnd=" << Hex(e.handle) << " class=" << Quoted(e.text2) << " title=" << Quoted(e.text)
           << " style=" << Hex(e.flags) << " rect=" << Rect(e.rect);
        break;
    case Kind::WindowShown: os << " hwnd=" << Hex(e.handle) << " cmd=" << e.value << " visible=" << e.value2; break;
    case Kind::WindowDestroyed: os << " hwnd=" << Hex(e.handle) << " timers=" << e.value; break;
    case Kind::TimerSet:
        os << " hwnd=" << Hex(e.handle) << " id=" << e.id << " ms=" << e.value << " effective=" << e.value2;
        break;
    case Kind::TimerKilled: os << " hwnd=" << Hex(e.handle) << " id=" << e.id; break;
    case Kind::TimerFired: os << " hwnd=" << Hex(e.handle) << " id=" << e.id << " due=" << e.value; break;
    case Kind::PaintBegin:
        os << " hwnd=" << Hex(e.handle) << " dc=" << Hex(e.id) << " area=" << Rect(e.rect)
           << " erase=" << e.ok << " depth=" << e.value;
        break;
    case Kind::Erase: os << " hwnd=" << Hex(e.handle) << " brush=" << Hex(e.id) << " area=" << Rect(e.rect); break;
    case Kind::PaintEnd: os << " hwnd=" << Hex(e.handle) << " dc=" << Hex(e.id) << " depth=" << e.value; break;
    case Kind::FontCreated:
        os << " font=" << Hex(e.handle) << " height=" << e.font.lfHeight << " weight=" << e.font.lfWeight
           << " italic=" << int(e.font.lfItalic) << " precision=" << int(e.font.lfOutPrecision)
           << " charset=" << int(e.font.lfCharSet) << " quality=" << int(e.font.lfQuality)
           << " face=" << Quoted(e.text);
        break;
    case Kind::DrawText:
        os << " dc=" << Hex(e.id) << " font=" << Hex(e.handle) << " height=" << e.value
           << " rect=" << Rect(e.rect) << " flags=" << Hex(e.flags) << " returned=" << e.value2 << " "
           << Quoted(e.text);
        break;
    case Kind::BoxOpen:
        os << " " << Quoted(e.text) << " owner=" << Hex(e.handle)
           << " caption=" << (e.value2 ? Quoted(e.text2) : std::string("NULL")) << " flags=" << Hex(e.flags)
           << " depth=" << e.value << " index=" << e.id;
        break;
    case Kind::BoxClose: os << " " << Quoted(e.text) << " depth=" << e.value << " index=" << e.id; break;
    case Kind::Sleep: os << " ms=" << e.value; break;
    case Kind::PortOpen:
        os << " " << Quoted(e.text) << " access=" << Hex(e.flags) << " share=" << e.value
           << " creation=" << e.value2 << " handle=" << Hex(e.handle);
        break;
    case Kind::PortMask: os << " handle=" << Hex(e.handle) << " mask=" << Hex(e.value); break;
    case Kind::PortRead:
        os << " handle=" << Hex(e.handle) << " index=" << e.id << " word=" << Hex(e.value);
        break;
    case Kind::Rts:
    case Kind::Dtr: os << " handle=" << Hex(e.handle) << (e.value ? " up" : " down"); break;
    case Kind::PortClose: os << " handle=" << Hex(e.handle); break;
    case Kind::IniRead: os << " key=" << Quoted(e.text) << " value=" << Quoted(e.text2); break;
    case Kind::Quit: os << " code=" << e.value; break;
    case Kind::Click:
        os << " hwnd=" << Hex(e.handle) << " msg=" << Hex(e.id) << " at=(" << e.rect.left << ","
           << e.rect.top << ") scripted=" << e.value;
        break;
    case Kind::CloseRequest: os << " hwnd=" << Hex(e.handle) << " scripted=" << e.value; break;
    case Kind::GdiFlush: break;
    }
    os << (e.ok ? " ok" : " FAILED");
    return os.str();
}

std::ostream& operator<<(std::ostream& os, const Event& e) { return os << ToString(e); }

bool operator==(const Interval& a, const Interval& b) { return a.from == b.from && a.to == b.to; }

std::ostream& operator<<(std::ostream& os, const Interval& i) {
    os << "{" << i.from << ", ";
    if (i.to == kNever)
        os << "open";
    else
        os << i.to;
    return os << "}";
}

std::vector<Event> EventsOfKind(const std::vector<Event>& trace, Kind kind) {
    std::vector<Event> out;
    for (const Event& e : trace)
        if (e.kind == kind) out.push_back(e);
    return out;
}

std::vector<Event> DrawTexts(const std::vector<Event>& trace) { return EventsOfKind(trace, Kind::DrawText); }

std::vector<std::string> WarningTexts(const std::vector<Event>& trace) {
    std::vector<std::string> out;
    for (const Event& e : trace)
        if (e.kind == Kind::BoxOpen) out.push_back(e.text);
    return out;
}

static std::vector<Interval> UpIntervals(const std::vector<Event>& trace, Kind line) {
    std::vector<Interval> out;
    bool up = false;
    for (const Event& e : trace) {
        if (e.kind != line || !e.ok) continue;
        if (e.value && !up) out.push_back(Interval{e.t, kNever});
        if (!e.value && up) out.back().to = e.t;
        up = e.value != 0;
    }
    return out;
}

std::vector<Interval> RtsUpIntervals(const std::vector<Event>& trace) { return UpIntervals(trace, Kind::Rts); }
std::vector<Interval> DtrUpIntervals(const std::vector<Event>& trace) { return UpIntervals(trace, Kind::Dtr); }

std::string DumpAround(const std::vector<Event>& trace, Ms t, Ms before, Ms after) {
    Ms from = t > before ? t - before : 0;
    Ms to = t > kNever - after ? kNever : t + after;
    std::string out;
    for (const Event& e : trace)
        if (e.t >= from && e.t <= to) out += ToString(e) + "\n";
    return out;
}

}  // namespace sim
