#include "exhibit_run.h"


sim::RunResult RunExhibitProgram(sim::Scenario scenario, const char* iniText)
{
    CDrive drive;
    if (iniText)
        drive.Write("quorin.ini", iniText);
    scenario.cDrive = drive.path();
    static char commandLine[] = "";
    return sim::RunProgram(scenario, [] {
        return WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, commandLine, SW_SHOWDEFAULT);
    });
}
