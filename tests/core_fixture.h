// In-process fixture for the exhibit core on the stand-in: a shown window
// whose procedure routes like the main window's, the real painter, and a
// port layer that keeps the contract the core relies on.
#pragma once

#include "exhibit.h"
#include "sign_decoder.h"
#include "win32sim.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace coretest {

using sim::Ms;

// Dot 100, dash 300, silence 100; inactivity 10 s, attract pause 2 s, answer
// held 3 s, attract mode on.
ExhibitSettings DefaultSettings();

class CoreTest : public ::testing::Test {
protected:
    sim::Scenario scenario; // adjust before Start()

    // Fresh platform and state; the window exists, is shown and painted, and
    // the port is open. With startTimers, TIMER_INACTIVITY and TIMER_POLL run
    // as after window creation.
    void Start(const ExhibitSettings& s = DefaultSettings(), bool startTimers = true);
    void RunUntil(Ms t) { sim::PumpUntil(t); }

    std::vector<sim::Interval> Rts() const { return sim::RtsUpIntervals(sim::Trace()); }
    // Events of a kind at or after time `from`.
    std::vector<sim::Event> Since(sim::Kind kind, Ms from) const;
    // Times at which timer `id` was armed successfully, from `from` on.
    std::vector<Ms> ArmTimes(UINT_PTR id, Ms from = 0) const;
    // The texts drawn from `from` on.
    std::vector<std::string> Drawn(Ms from) const;
};

} // namespace coretest
