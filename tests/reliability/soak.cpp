// A month on the exhibit floor: the attract mode with occasional visitors,
// now and then the port lost for a while, every invariant checked on every
// event, no trace kept. The heap in use at the end of the first and of the
// last day must be the same, within a small tolerance.
//
//   reliability_soak [--days N] [--seed S] [--stats FILE]
#include "invariants.h"
#include "rng.h"
#include "tally.h"

#include "exhibit_run.h"
#include "host.h"

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

using namespace reliability;
using sim::Ms;

namespace {

constexpr Ms kSecond = 1000, kMinute = 60 * kSecond, kDay = 24 * 60 * kMinute;
// Room for the allocator's own bookkeeping and a transient string or two;
// a leak of even a byte per poll would pass it many times over.
constexpr uint64_t kHeapTolerance = 64 * 1024;

const char kIni[] =
    "[MORSE]\n"
    "DUREE_POINT=100\n"
    "DUREE_TRAIT=300\n"
    "DUREE_SILENCE=100\n"
    "DUREE_INACTIF=60000\n"
    "DUREE_INTER_SIGNAL_AUTO=3000\n"
    "MORSE_AUTO=1\n"
    "DUREE_AFF_LETTRE=3000\n";

struct Plan {
    sim::Scenario scenario;
    uint64_t visitors = 0, presses = 0, ringPresses = 0, portLosses = 0;
};

// A couple of visitors a day, each doing a whole visit; the ring line twitching
// now and then; the port lost for a few minutes every few days.
Plan MakePlan(uint64_t seed, uint64_t days)
{
    Plan p;
    Rng r(seed);
    sim::Scenario& s = p.scenario;
    std::vector<sim::Interval> lost;
    for (uint64_t day = 0; day < days; ++day) {
        for (int v = static_cast<int>(r.Range(1, 3)); v > 0; --v) {
            Ms at = day * kDay + r.Range(0, kDay - 10 * kMinute);
            s.presses.push_back({MS_DSR_ON, at, at + r.Range(100, 800)});
            at += r.Range(4, 20) * kSecond;
            for (int blue = static_cast<int>(r.Range(0, 2)); blue > 0; --blue, at += r.Range(4, 20) * kSecond)
                s.presses.push_back({MS_RLSD_ON, at, at + r.Range(100, 800)});
            if (r.Percent(70))
                s.presses.push_back({MS_CTS_ON, at, at + r.Range(100, 800)});
            p.visitors += 1;
        }
        if (r.Percent(30)) {
            Ms at = day * kDay + r.Range(0, kDay - kMinute);
            s.presses.push_back({MS_RING_ON, at, at + r.Range(100, 5000)});
            ++p.ringPresses;
        }
        if (r.Percent(30)) {
            Ms at = day * kDay + r.Range(0, kDay - 20 * kMinute);
            lost.push_back({at, at + r.Range(kMinute, 10 * kMinute)});
            ++p.portLosses;
        }
    }
    p.presses = s.presses.size();
    s.readFails = sim::FailReadsDuring(lost);
    s.boxOpenFor = [seed](const std::string&, int index) {
        return Rng(Mix(seed, static_cast<uint64_t>(index))).LogRange(kSecond, 5 * kMinute);
    };
    s.closeAt = days * kDay + kSecond;
    s.keepTrace = false;
    s.wallClockLimitSeconds = 1800;
    return p;
}

} // namespace

int main(int argc, char** argv)
{
    uint64_t days = 30, seed = 1;
    std::string statsFile;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string flag = argv[i];
        if (flag == "--days")
            days = std::strtoull(argv[i + 1], nullptr, 0);
        else if (flag == "--seed")
            seed = std::strtoull(argv[i + 1], nullptr, 0);
        else if (flag == "--stats")
            statsFile = argv[i + 1];
    }
    if (days < 2) {
        std::cerr << "usage: reliability_soak [--days N>=2] [--seed S] [--stats FILE]\n";
        return 2;
    }

    Plan plan = MakePlan(seed, days);
    Tally* tally = NewSharedTally();
    InvariantChecker checker(exhibit, settings, CheckOptions{}, tally);
    sim::Scenario& s = plan.scenario;
    checker.Attach(s);
    const Ms marks[2] = {kDay, days * kDay};
    s.observer = [&checker, tally, marks, next = 0](const sim::Event& e) mutable {
        checker.OnEvent(e);
        if (next < 2 && e.t >= marks[next])
            tally->heapAt[next++] = mallinfo2().uordblks;
    };

    auto start = std::chrono::steady_clock::now();
    sim::RunResult r = RunExhibitProgram(s, kIni);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::vector<std::string> problems;
    if (std::string p = CheckRunResult(r); !p.empty())
        problems.push_back(p);
    const Tally& t = *tally;
    if (t.heapAt[0] == 0 || t.heapAt[1] == 0)
        problems.push_back("the heap was not measured on both days");
    else if (t.heapAt[1] > t.heapAt[0] + kHeapTolerance)
        problems.push_back("the heap grew by " + std::to_string(t.heapAt[1] - t.heapAt[0]) + " bytes");
    // The exhibit kept working all month: polled, and played attract signs
    // (about one every five seconds, less the visits).
    uint64_t expectedPolls = days * kDay / POLL_PERIOD_MS;
    if (t.polls < expectedPolls - expectedPolls / 100)
        problems.push_back("only " + std::to_string(t.polls) + " polls of " + std::to_string(expectedPolls));
    if (t.signsDecoded < days * 10000)
        problems.push_back("only " + std::to_string(t.signsDecoded) + " attract signs read back");

    std::string stats;
    auto row = [&](const std::string& key, const std::string& value) { stats += key + "\t" + value + "\n"; };
    char buf[64];
    row("simulated days", std::to_string(days));
    std::snprintf(buf, sizeof buf, "%.1f", seconds);
    row("real seconds", buf);
    std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(days) / seconds);
    row("simulated days per real second", buf);
    row("injected: visitors", std::to_string(plan.visitors));
    row("injected: button presses", std::to_string(plan.presses - plan.ringPresses));
    row("injected: ring line alone", std::to_string(plan.ringPresses));
    row("injected: port lost for minutes", std::to_string(plan.portLosses));
    row("seen: polls", std::to_string(t.polls));
    row("seen: failed reads", std::to_string(t.failedReads));
    row("seen: read-failure warnings", std::to_string(t.readBoxes));
    row("seen: attract signs read back", std::to_string(t.signsDecoded));
    row("events checked", std::to_string(t.events));
    row("heap in use at the end of day 1 (bytes)", std::to_string(t.heapAt[0]));
    row("heap in use at the end of day " + std::to_string(days) + " (bytes)", std::to_string(t.heapAt[1]));
    row("invariant violations", std::to_string(problems.size()));
    std::cout << stats;
    for (const std::string& p : problems)
        std::cout << "FAILED: " << p << "\n";
    if (!statsFile.empty())
        std::ofstream(statsFile) << stats;
    return problems.empty() ? 0 : 1;
}
