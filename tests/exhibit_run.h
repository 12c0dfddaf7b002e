// Whole-program runs for tests and tools: the real WinMain, from process
// start to its exit code, on the stand-in in a child process (see
// sim::RunProgram), with a folder standing for c:\.
#pragma once

#include "c_drive.h"
#include "win32sim.h"

// Runs WinMain under the scenario with `iniText` as c:\quorin.ini, or with
// no settings file when it is null.
sim::RunResult RunExhibitProgram(sim::Scenario scenario, const char* iniText);
