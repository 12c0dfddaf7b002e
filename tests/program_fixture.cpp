#include "program_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace programtest {

CDrive::CDrive()
{
    char dir[] = "/tmp/exhibit_c_XXXXXX";
    if (mkdtemp(dir) == nullptr)
        std::abort();
    path_ = dir;
}

CDrive::~CDrive()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void CDrive::Write(const std::string& name, const std::string& text) const
{
    std::ofstream(path_ + "/" + name, std::ios::binary) << text;
}

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
    CDrive drive;
    if (ini)
        drive.Write("quorin.ini", ini);
    scenario.cDrive = drive.path();
    static char commandLine[] = "";
    return sim::RunProgram(scenario, [] {
        return WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, commandLine, SW_SHOWDEFAULT);
    });
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
