#include "program_fixture.h"


namespace programtest {

ExhibitSettings SettingsOf(const char* iniText)
{
    CDrive drive;
    drive.Write("quorin.ini", iniText);
    sim::Scenario s;
    s.cDrive = drive.path();
    sim::Reset(s);
    ExhibitSettings saved = settings;
    ReadExhibitSettings();
    ExhibitSettings read = settings;
    settings = saved;
    return read;
}

sim::RunResult RunExhibit(sim::Scenario scenario, const char* ini)
{
    return RunExhibitProgram(scenario, ini);
}

std::vector<sim::Event> Of(const sim::RunResult& r, Kind kind)
{
    return sim::EventsOfKind(r.trace, kind);
}

std::vector<std::string> Drawn(const sim::RunResult& r, Ms from, Ms to)
{
    std::vector<std::string> out;
    for (const sim::Event& e : sim::DrawTexts(r.trace))
        if (e.t >= from && e.t < to)
            out.push_back(e.text);
    return out;
}

} // namespace programtest
