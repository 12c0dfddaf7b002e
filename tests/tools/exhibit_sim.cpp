// exhibit_sim: runs the real WinMain on the Win32 stand-in from the command
// line and prints what the sign device, DTR and the warning boxes did, one
// event a line, for scripts that compare the stand-in with the real exe.
//
//   exhibit_sim [--ini FILE] [--press BITS,FROM,TO]... [--click left|right,AT]...
//               [--close AT] [--port present|absent|busy] [--box-ms MS]
//               [--start-time SECONDS]
//
// Times are virtual milliseconds from process start. BITS is a number (0x20)
// or button names joined by '+': red (DSR), blue (RLSD), green (CTS), ring.
// Without --ini, c:\ holds no settings file. Output:
//   rts MS 0|1          the sign line dropped or raised
//   dtr MS 0|1
//   warning MS TEXT     a warning box opened
//   seed SECONDS        what time() gave the random draw
//   end MS exit CODE    WinMain returned CODE at MS
//   abort MS TEXT       the run did not return (hang, crash, horizon)
#include "exhibit_run.h"
#include "host.h"
#include "win32sim.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Usage(const std::string& why)
{
    std::cerr << "exhibit_sim: " << why << "\n"
              << "usage: exhibit_sim [--ini FILE] [--press BITS,FROM,TO]... [--click left|right,AT]...\n"
              << "                   [--close AT] [--port present|absent|busy] [--box-ms MS]\n"
              << "                   [--start-time SECONDS]\n";
    std::exit(2);
}

uint64_t Number(const std::string& text, const char* what)
{
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || text[0] == '-')
        Usage(std::string("bad ") + what + ": '" + text + "'");
    return value;
}

DWORD Bits(const std::string& text)
{
    if (!text.empty() && text[0] >= '0' && text[0] <= '9')
        return static_cast<DWORD>(Number(text, "bits"));
    DWORD bits = 0;
    std::istringstream names(text);
    std::string name;
    while (std::getline(names, name, '+')) {
        if (name == "red" || name == "DSR")
            bits |= MS_DSR_ON;
        else if (name == "blue" || name == "RLSD")
            bits |= MS_RLSD_ON;
        else if (name == "green" || name == "CTS")
            bits |= MS_CTS_ON;
        else if (name == "ring" || name == "RI")
            bits |= MS_RING_ON;
        else
            Usage("unknown button '" + name + "'");
    }
    return bits;
}

// "a,b,c" -> its fields.
std::vector<std::string> Fields(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string field;
    while (std::getline(in, field, ','))
        out.push_back(field);
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    sim::Scenario scenario;
    scenario.wallClockLimitSeconds = 120;
    std::string ini;

    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc)
            Usage("missing value after " + option);
        std::string value = argv[++i];
        if (option == "--ini") {
            ini = value;
        } else if (option == "--press") {
            std::vector<std::string> f = Fields(value);
            if (f.size() != 3)
                Usage("--press wants BITS,FROM,TO");
            scenario.presses.push_back({Bits(f[0]), Number(f[1], "time"), Number(f[2], "time")});
        } else if (option == "--click") {
            std::vector<std::string> f = Fields(value);
            if (f.size() != 2 || (f[0] != "left" && f[0] != "right"))
                Usage("--click wants left|right,AT");
            sim::Click click;
            click.button = f[0] == "left" ? sim::Button::Left : sim::Button::Right;
            click.at = Number(f[1], "time");
            scenario.clicks.push_back(click);
        } else if (option == "--close") {
            scenario.closeAt = Number(value, "time");
        } else if (option == "--port") {
            if (value == "present")
                scenario.port = sim::PortState::Present;
            else if (value == "absent")
                scenario.port = sim::PortState::Absent;
            else if (value == "busy")
                scenario.port = sim::PortState::Busy;
            else
                Usage("unknown port state '" + value + "'");
        } else if (option == "--box-ms") {
            scenario.boxOpenMs = Number(value, "duration");
        } else if (option == "--start-time") {
            scenario.startTime = static_cast<int64_t>(Number(value, "seconds"));
        } else {
            Usage("unknown option " + option);
        }
    }

    std::string iniText;
    if (!ini.empty()) {
        std::ifstream in(ini, std::ios::binary);
        if (!in)
            Usage("cannot read " + ini);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        iniText = bytes.str();
    }
    // Whatever happens, the run ends: a minute of virtual time past the close.
    scenario.horizon = scenario.closeAt + 60000;

    sim::RunResult result = RunExhibitProgram(scenario, ini.empty() ? nullptr : iniText.c_str());

    std::printf("seed %lld\n", static_cast<long long>(scenario.startTime));
    for (const sim::Event& e : result.trace) {
        unsigned long long t = e.t;
        if ((e.kind == sim::Kind::Rts || e.kind == sim::Kind::Dtr) && e.ok)
            std::printf("%s %llu %d\n", e.kind == sim::Kind::Rts ? "rts" : "dtr", t, e.value ? 1 : 0);
        else if (e.kind == sim::Kind::BoxOpen)
            std::printf("warning %llu %s\n", t, e.text.c_str());
    }
    unsigned long long end = result.endTime;
    if (result.returned) {
        std::printf("end %llu exit %d\n", end, result.exitCode);
        return 0;
    }
    std::printf("abort %llu %s\n", end, result.Describe().c_str());
    return 1;
}
