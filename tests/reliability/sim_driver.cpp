// Runs the real program through one random scenario per seed, with every
// invariant checked all along, and reports what was tried.
//
//   reliability_sim --first SEED --count N --minutes M [--stats FILE]
//
// A failing run prints its seed, what failed and the trace around the
// failure (the run is replayed from its seed with the trace kept), and the
// command that replays it alone.
#include "invariants.h"
#include "scenario_gen.h"
#include "settings_reference.h"
#include "tally.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

using namespace reliability;

namespace {

struct Options {
    uint64_t first = 1;
    uint64_t count = 10;
    uint64_t minutes = 60;
    std::string stats;
};

bool Parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string flag = argv[i];
        const char* value = argv[i + 1];
        if (flag == "--first")
            o.first = std::strtoull(value, nullptr, 0);
        else if (flag == "--count")
            o.count = std::strtoull(value, nullptr, 0);
        else if (flag == "--minutes")
            o.minutes = std::strtoull(value, nullptr, 0);
        else if (flag == "--stats")
            o.stats = value;
        else
            return false;
    }
    return argc % 2 == 1 && o.count > 0 && o.minutes > 0;
}

sim::RunResult RunChecked(const GeneratedRun& g, bool keepTrace, Tally* tally)
{
    *tally = Tally{};
    CheckOptions options;
    options.quiet = g.quiet;
    options.checkSettings = true;
    options.expected = g.expected;
    InvariantChecker checker(exhibit, settings, options, tally);
    sim::Scenario scenario = g.scenario;
    scenario.keepTrace = keepTrace;
    checker.Attach(scenario);
    return RunGenerated(g, scenario);
}

// What a run must show beyond its own invariants.
std::string Problem(const GeneratedRun& g, const sim::RunResult& r, const Tally& t)
{
    std::string problem = CheckRunResult(r);
    if (problem.empty() && g.quiet && g.scenario.closeAt >= g.quietSignsFrom && t.signsDecoded < 2)
        problem = "invariant quiet-attract: " + std::to_string(t.signsDecoded) +
                  " attract signs read back in a run with nothing else happening";
    return problem;
}

void Report(const Options& o, uint64_t seed, const GeneratedRun& g, const std::string& problem, Tally* tally)
{
    std::cout << "\nFAILED seed " << seed << ": " << problem << "\n";
    std::cout << "  replay: reliability_sim --first " << seed << " --count 1 --minutes " << o.minutes << "\n";
    std::cout << "  quiet: " << (g.quiet ? "yes" : "no") << "; settings file:"
              << (g.writeIni ? "\n" + g.iniText : std::string(" none\n"));
    std::cout << "  expected settings: " << Describe(g.expected) << "\n  injected:";
    for (const auto& [kind, n] : g.injected)
        std::cout << " " << kind << " " << n << ";";
    sim::RunResult again = RunChecked(g, true, tally);
    std::cout << "\n  replayed: " << again.Describe() << "\n  trace before the failure:\n"
              << sim::DumpAround(again.trace, again.endTime, 3000, 0);
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!Parse(argc, argv, o)) {
        std::cerr << "usage: reliability_sim --first SEED --count N --minutes M [--stats FILE]\n";
        return 2;
    }
    Tally* tally = NewSharedTally();
    Injected injected;
    Tally total{};
    uint64_t failures = 0, quietRuns = 0;
    sim::Ms scripted = 0, simulated = 0; // up to the close; up to the end, long holds included
    auto start = std::chrono::steady_clock::now();

    for (uint64_t seed = o.first; seed < o.first + o.count; ++seed) {
        GeneratedRun g = GenerateRun(seed, o.minutes * 60 * 1000);
        sim::RunResult r = RunChecked(g, false, tally);
        std::string problem = Problem(g, r, *tally);
        scripted += g.scenario.closeAt;
        simulated += r.endTime;
        quietRuns += g.quiet ? 1 : 0;
        for (const auto& [kind, n] : g.injected)
            injected[kind] += n;
        const Tally& t = *tally;
        total.events += t.events;
        total.polls += t.polls;
        total.failedReads += t.failedReads;
        total.readFailureRuns += t.readFailureRuns;
        total.boxes += t.boxes;
        total.readBoxes += t.readBoxes;
        total.failedTimerArms += t.failedTimerArms;
        total.sleeps += t.sleeps;
        total.signsDecoded += t.signsDecoded;
        total.maxBoxDepth = std::max(total.maxBoxDepth, t.maxBoxDepth);
        total.maxPaintDepth = std::max(total.maxPaintDepth, t.maxPaintDepth);
        total.maxLiveTimers = std::max(total.maxLiveTimers, t.maxLiveTimers);
        if (!problem.empty()) {
            ++failures;
            Report(o, seed, g, problem, tally);
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // key<TAB>value lines: the report's rows, in this order.
    std::string stats;
    auto row = [&](const std::string& key, uint64_t value) { stats += key + "\t" + std::to_string(value) + "\n"; };
    row("seeds run", o.count);
    row("first seed", o.first);
    row("runs with nothing but the attract mode", quietRuns);
    row("simulated hours up to the close", scripted / 3600000);
    row("simulated hours in all, answer holds of days included", simulated / 3600000);
    for (const auto& [kind, n] : injected)
        row("injected: " + kind, n);
    row("seen: polls", total.polls);
    row("seen: failed reads", total.failedReads);
    row("seen: runs of failed reads", total.readFailureRuns);
    row("seen: read-failure warnings", total.readBoxes);
    row("seen: warning boxes", total.boxes);
    row("seen: failed SetTimer calls", total.failedTimerArms);
    row("seen: answer holds and pauses", total.sleeps);
    row("seen: attract signs read back", total.signsDecoded);
    row("seen: deepest box nesting", total.maxBoxDepth);
    row("seen: deepest paint nesting", total.maxPaintDepth);
    row("seen: most timers alive", total.maxLiveTimers);
    row("events checked", total.events);
    row("invariant violations", failures);
    std::cout << "\n" << stats;
    std::printf("%.1f s real for %.1f simulated hours\n", seconds, static_cast<double>(simulated) / 3600000.0);
    if (!o.stats.empty())
        std::ofstream(o.stats) << stats;
    return failures == 0 ? 0 : 1;
}
