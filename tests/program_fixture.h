// Whole-program runs: the real WinMain from process start to its return, on
// the stand-in, in a child process (see sim::RunProgram).
#pragma once

#include "exhibit.h"
#include "exhibit_run.h"
#include "host.h"
#include "sign_decoder.h"
#include "win32sim.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace programtest {

using sim::Interval;
using sim::Kind;
using sim::Ms;

// Dot 100, dash 300, silence 100, inactivity 30 s, attract pause 2 s, answer
// held 3 s, attract mode off.
const char kSettings[] =
    "[MORSE]\n"
    "DUREE_POINT=100\n"
    "DUREE_TRAIT=300\n"
    "DUREE_SILENCE=100\n"
    "DUREE_INACTIF=30000\n"
    "DUREE_INTER_SIGNAL_AUTO=2000\n"
    "MORSE_AUTO=0\n"
    "DUREE_AFF_LETTRE=3000\n";

ExhibitSettings SettingsOf(const char* iniText); // as the program reads them

// Runs WinMain under the scenario; the c:\ folder holds `ini` unless null.
sim::RunResult RunExhibit(sim::Scenario scenario, const char* ini = kSettings);

std::vector<sim::Event> Of(const sim::RunResult& r, Kind kind);
std::vector<std::string> Drawn(const sim::RunResult& r, Ms from = 0, Ms to = sim::kNever);

} // namespace programtest
