// Random scenarios for whole-program runs, each drawn from one 64-bit seed:
// visitors pressing, holding, bouncing and releasing the buttons, failing
// reads, a lost port, failing timers, warning boxes left open, odd settings
// files, mouse clicks, and a close at the end.
#pragma once

#include "exhibit.h"
#include "win32sim.h"

#include <cstdint>
#include <map>
#include <string>

namespace reliability {

// Counts of what a scenario injects, by kind, for the report.
using Injected = std::map<std::string, uint64_t>;

struct GeneratedRun {
    uint64_t seed = 0;
    sim::Scenario scenario; // cDrive, observer and afterDispatch left to the caller
    bool writeIni = true;   // false: no settings file at all
    std::string iniText;
    ExhibitSettings expected{}; // what the program must read from iniText
    bool quiet = false;         // nothing but the ring line and the mouse; the attract mode on
    sim::Ms quietSignsFrom = 0; // quiet: two attract signs must have ended by the close
    Injected injected;
};

// `duration`: the simulated time before the close request.
GeneratedRun GenerateRun(uint64_t seed, sim::Ms duration);

// The settings file text and what it must give, drawn from `seed`.
struct GeneratedSettings {
    bool writeIni = true;
    std::string iniText;
    ExhibitSettings expected{};
    bool sane = false; // every value a plain, sane duration and the attract mode on
};
GeneratedSettings GenerateSettings(uint64_t seed, bool sane, Injected& injected);

// The program's entry, for sim::RunProgram; writes the settings file into a
// fresh folder standing for c:\ and removes it afterwards.
sim::RunResult RunGenerated(const GeneratedRun& run, sim::Scenario scenario);

} // namespace reliability
