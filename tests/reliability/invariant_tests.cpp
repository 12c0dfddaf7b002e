// The checker must catch each broken invariant, and must let the program's
// legitimate oddities through (a failed mark arm leaving the line up, a run
// of failed reads that begins under an open warning, the answer hold, the
// pause after a failed open). Fed by hand-made events and state, in-process,
// where sim::Abort throws sim::Failure.
#include "invariants.h"
#include "rng.h"
#include "scenario_gen.h"
#include "settings_reference.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

namespace {

using namespace reliability;
using sim::Kind;
using sim::Ms;

constexpr uint64_t kWindow = 0x1000;
const char kRead[] = "GetCommModemStatus failed";
const char kTimers[] = "Too many timers";

// Dot 100, dash 300, silence 100, attract pause 2 s, answer held 3 s.
const ExhibitSettings kSettings{100, 300, 100, 30000, 2000, 3000, 1};

sim::Event Ev(Ms t, Kind kind, bool ok = true, uint64_t id = 0, int64_t value = 0, std::string text = "")
{
    sim::Event e;
    e.t = t;
    e.kind = kind;
    e.ok = ok;
    e.handle = kWindow;
    e.id = id;
    e.value = value;
    e.text = std::move(text);
    return e;
}

// A checker over state the test controls, with a normal start already fed.
struct Harness {
    ExhibitState state{};
    ExhibitSettings settings = kSettings;
    Tally tally{};
    InvariantChecker checker;
    MSG msg{};

    explicit Harness(CheckOptions options = {}) : checker(state, settings, options, &tally)
    {
        Feed(Ev(0, Kind::PortOpen));
        Feed(Ev(0, Kind::WindowCreated));
        Feed(Ev(0, Kind::TimerSet, true, TIMER_INACTIVITY, 30000));
        Feed(Ev(0, Kind::TimerSet, true, TIMER_POLL, 200));
        Feed(Ev(0, Kind::WindowShown));
    }
    // Feeds `e`, after the polls that the 200 ms timer would have fired
    // before it (each one over at once, without a read).
    void Feed(const sim::Event& e)
    {
        for (; polledTo + POLL_PERIOD_MS <= e.t; polledTo += POLL_PERIOD_MS) {
            checker.OnEvent(Ev(polledTo + POLL_PERIOD_MS, Kind::TimerFired, true, TIMER_POLL));
            EndPoll();
        }
        checker.OnEvent(e);
    }
    Ms polledTo = 0;
    // The end of a message other than a poll.
    void Dispatched() { checker.AfterDispatch(msg); }
    // A poll that reads `word`, left running until EndPoll.
    void Poll(Ms t, DWORD word)
    {
        Feed(Ev(t, Kind::TimerFired, true, TIMER_POLL));
        Feed(Ev(t, Kind::PortRead, true, 0, word));
    }
    void EndPoll()
    {
        MSG poll{};
        poll.message = WM_TIMER;
        poll.wParam = TIMER_POLL;
        checker.AfterDispatch(poll);
    }
    // A symbol keyed as the player does it: line up, mark timer, then down.
    void Mark(Ms from, Ms to)
    {
        Feed(Ev(from, Kind::Rts, true, 0, 1));
        Feed(Ev(from, Kind::TimerSet, true, TIMER_MARK_END, 100));
        Dispatched();
        Feed(Ev(to, Kind::TimerFired, true, TIMER_MARK_END));
        Feed(Ev(to, Kind::TimerKilled, true, TIMER_MARK_END));
        Feed(Ev(to, Kind::Rts, true, 0, 0));
        Dispatched();
    }
};

// Runs `broken` on a fresh harness; the checker must stop it with `invariant`.
void ExpectCaught(const char* invariant, const std::function<void(Harness&)>& broken, CheckOptions options = {})
{
    SCOPED_TRACE(invariant);
    try {
        Harness h(options);
        broken(h);
        ADD_FAILURE() << "not caught";
    } catch (const sim::Failure& f) {
        EXPECT_NE(std::string(f.what()).find(std::string("invariant ") + invariant + ":"), std::string::npos)
            << f.what();
    }
}

TEST(InvariantChecker, CatchesEachBrokenInvariant)
{
    ExpectCaught("attract-only-in-idle", [](Harness& h) {
        h.state.phase = Prompt;
        h.state.autoRun = 1;
        h.Dispatched();
    });
    ExpectCaught("sign-index", [](Harness& h) {
        h.state.signIndex = SIGN_COUNT;
        h.Feed(Ev(200, Kind::TimerFired, true, TIMER_POLL));
    });
    ExpectCaught("sign-index", [](Harness& h) {
        h.state.signIndex = -1;
        h.Dispatched();
    });
    ExpectCaught("phase", [](Harness& h) {
        h.state.phase = static_cast<ExhibitPhase>(4);
        h.Dispatched();
    });
    ExpectCaught("read-warning", [](Harness& h) { // two open at once
        h.Feed(Ev(200, Kind::TimerSet, false, TIMER_SPACE_END));
        h.Feed(Ev(200, Kind::BoxOpen, true, 0, 1, kTimers)); // room for a second box
        h.Feed(Ev(400, Kind::PortRead, false));
        h.Feed(Ev(400, Kind::BoxOpen, true, 1, 2, kRead));
        h.Feed(Ev(600, Kind::PortRead, true)); // ends the run
        h.Feed(Ev(800, Kind::PortRead, false));
        h.Feed(Ev(800, Kind::BoxOpen, true, 2, 2, kRead));
    });
    ExpectCaught("read-warning", [](Harness& h) { // twice in one run
        h.Feed(Ev(200, Kind::PortRead, false));
        h.Feed(Ev(200, Kind::BoxOpen, true, 0, 1, kRead));
        h.Feed(Ev(1200, Kind::BoxClose, true, 0, 1, kRead));
        h.Feed(Ev(1400, Kind::PortRead, false));
        h.Feed(Ev(1400, Kind::BoxOpen, true, 1, 1, kRead));
    });
    ExpectCaught("read-warning", [](Harness& h) { // a run with no warning
        h.Feed(Ev(200, Kind::PortRead, false));
        h.Feed(Ev(400, Kind::PortRead, false));
    });
    ExpectCaught("read-warning", [](Harness& h) { // a warning with no failed read
        h.Feed(Ev(200, Kind::PortRead, true));
        h.Feed(Ev(200, Kind::BoxOpen, true, 0, 1, kRead));
    });
    ExpectCaught("no-edge-no-action", [](Harness& h) { // the ring line alone acts
        h.Poll(200, MS_RING_ON);
        h.Feed(Ev(200, Kind::TimerKilled, true, TIMER_INACTIVITY));
    });
    ExpectCaught("no-edge-no-action", [](Harness& h) { // a held button acts twice
        h.Poll(200, MS_DSR_ON);
        h.state.phase = Prompt;
        h.Feed(Ev(200, Kind::TimerKilled, true, TIMER_INACTIVITY));
        h.EndPoll();
        h.state.phase = Idle; // the inactivity return, say
        h.Poll(400, MS_DSR_ON);
        h.state.phase = Prompt;
        h.EndPoll();
    });
    ExpectCaught("blocking", [](Harness& h) { // longer than the answer hold
        h.state.phase = Answer;
        h.Feed(Ev(200, Kind::Sleep, true, 0, 3001));
    });
    ExpectCaught("blocking", [](Harness& h) { // the 5 s pause with the port open
        h.settings.DUREE_AFF_LETTRE = 6000;
        h.Feed(Ev(200, Kind::Sleep, true, 0, 5000));
    });
    ExpectCaught("blocking", [](Harness& h) { // a negative hold blocks not at all
        h.settings.DUREE_AFF_LETTRE = -1;
        h.state.phase = Answer;
        h.Feed(Ev(200, Kind::Sleep, true, 0, 1));
    });
    ExpectCaught("blocking", [](Harness& h) { // the failed open without its pause
        h.Feed(Ev(0, Kind::PortOpen, false));
        h.Feed(Ev(0, Kind::WindowShown));
    });
    ExpectCaught("sign-line", [](Harness& h) { // up with no timer to drop it
        h.Feed(Ev(200, Kind::Rts, true, 0, 1));
        h.Dispatched();
    });
    ExpectCaught("sign-line", [](Harness& h) { // down while the mark timer runs
        h.Feed(Ev(200, Kind::Rts, true, 0, 1));
        h.Feed(Ev(200, Kind::TimerSet, true, TIMER_MARK_END, 100));
        h.Feed(Ev(250, Kind::Rts, true, 0, 0));
        h.Dispatched();
    });
    ExpectCaught("sign-line", [](Harness& h) { // the exemption ends with the next good arm
        h.Feed(Ev(200, Kind::Rts, true, 0, 1));
        h.Feed(Ev(200, Kind::TimerSet, false, TIMER_MARK_END, 100));
        h.Feed(Ev(200, Kind::BoxOpen, true, 0, 1, kTimers));
        h.Feed(Ev(1200, Kind::BoxClose, true, 0, 1, kTimers));
        h.Feed(Ev(1400, Kind::Rts, true, 0, 1));
        h.Feed(Ev(1400, Kind::TimerSet, true, TIMER_MARK_END, 100));
        h.Feed(Ev(1500, Kind::TimerKilled, true, TIMER_MARK_END));
        h.Dispatched(); // the line was not dropped
    });
    ExpectCaught("attract-signs", [](Harness& h) { // four dashes: no row
        h.state.autoRun = 1;
        for (Ms t = 1000; t < 2600; t += 400)
            h.Mark(t, t + 300);
        h.Mark(9000, 9100); // the next sign closes the one before
    });
    ExpectCaught("attract-signs", [](Harness& h) { // six symbols in one sign
        h.state.autoRun = 1;
        h.Mark(1000, 1100);
        h.Mark(1200, 1400);
        h.Mark(1500, 1600);
        h.Mark(1700, 1800);
        h.Mark(1900, 2000);
        h.Mark(2100, 2200);
    });
    ExpectCaught("timers", [](Harness& h) {
        for (uint64_t id : {3u, 4u, 5u, 6u})
            h.Feed(Ev(200, Kind::TimerSet, true, id, 100));
    });
    ExpectCaught("nesting", [](Harness& h) { // three boxes from one failed arm
        h.Feed(Ev(200, Kind::TimerSet, false, TIMER_AUTO_NEXT));
        h.Feed(Ev(200, Kind::BoxOpen, true, 0, 1, kTimers));
        h.Feed(Ev(400, Kind::BoxOpen, true, 1, 2, kTimers));
        h.Feed(Ev(600, Kind::BoxOpen, true, 2, 3, kTimers));
    });
    ExpectCaught("nesting", [](Harness& h) { h.Feed(Ev(200, Kind::PaintBegin, true, 0, 3)); });
    // Without the harness's polls from here on.
    ExpectCaught("poll-alive", [](Harness& h) {
        h.checker.OnEvent(Ev(200, Kind::TimerFired, true, TIMER_POLL));
        h.checker.OnEvent(Ev(401, Kind::TimerFired, true, TIMER_INACTIVITY));
    });
    ExpectCaught("poll-alive", [](Harness& h) { // a wait excuses only its own length
        h.state.phase = Answer;
        h.checker.OnEvent(Ev(200, Kind::TimerFired, true, TIMER_POLL));
        h.checker.OnEvent(Ev(300, Kind::Sleep, true, 0, 3000));
        h.state.phase = Idle;
        h.checker.OnEvent(Ev(3401, Kind::WindowDestroyed));
    });
    ExpectCaught("poll-alive", [](Harness& h) { // killed while the window lives
        h.checker.OnEvent(Ev(200, Kind::TimerFired, true, TIMER_POLL));
        h.checker.OnEvent(Ev(300, Kind::TimerKilled, true, TIMER_POLL));
        h.checker.OnEvent(Ev(60000, Kind::WindowDestroyed));
    });
    CheckOptions quiet;
    quiet.quiet = true;
    ExpectCaught("quiet-attract", [](Harness& h) {
        h.state.autoRun = 1;
        h.Dispatched();
        h.state.autoRun = 0;
        h.Dispatched();
    }, quiet);
    ExpectCaught("quiet-attract", [](Harness& h) {
        h.state.autoRun = 1;
        h.Feed(Ev(5000, Kind::PortRead, true, 0, MS_RLSD_ON));
    }, quiet);
    CheckOptions expected;
    expected.checkSettings = true;
    expected.expected = kSettings;
    expected.expected.DUREE_SILENCE = 150;
    ExpectCaught("settings", [](Harness&) {}, expected); // checked as the window is created
}

TEST(InvariantChecker, LetsTheProgramsLegitimateOdditiesThrough)
{
    CheckOptions options;
    options.checkSettings = true;
    options.expected = kSettings;
    Harness h(options);
    // The attract mode keys "A" then "E"; the second sign closes the first.
    h.state.autoRun = 1;
    h.Mark(1000, 1100);
    h.Mark(1200, 1500);
    h.Mark(4000, 4100);
    h.Mark(7000, 7100);
    EXPECT_EQ(h.tally.signsDecoded, 2u);
    h.state.autoRun = 0;

    // A red press acts; a poll nested in a box its branch opened compares
    // with the word from before the outer poll, so the held button acts
    // again there; once both polls are over, holding it does nothing.
    h.Poll(7600, MS_DSR_ON);
    h.state.phase = Prompt;
    h.Feed(Ev(7600, Kind::TimerKilled, true, TIMER_INACTIVITY));
    h.Feed(Ev(7600, Kind::TimerSet, false, TIMER_INACTIVITY, 30000));
    h.Feed(Ev(7600, Kind::BoxOpen, true, 0, 1, kTimers));
    h.state.phase = Idle; // the inactivity return, nested
    h.checker.OnEvent(Ev(7800, Kind::TimerFired, true, TIMER_POLL));
    h.checker.OnEvent(Ev(7800, Kind::PortRead, true, 0, MS_DSR_ON | MS_RING_ON));
    h.state.phase = Prompt;
    h.checker.OnEvent(Ev(7800, Kind::TimerKilled, true, TIMER_INACTIVITY));
    h.EndPoll();
    h.Feed(Ev(7900, Kind::BoxClose, true, 0, 1, kTimers));
    h.EndPoll();
    h.Poll(8000, MS_DSR_ON);
    h.EndPoll();

    // A failed mark arm leaves the line up, a box open, messages nested.
    h.Feed(Ev(8000, Kind::Rts, true, 0, 1));
    h.Feed(Ev(8000, Kind::TimerSet, false, TIMER_MARK_END, 100));
    h.Feed(Ev(8000, Kind::BoxOpen, true, 0, 1, kTimers));
    h.Dispatched();
    // A run of failed reads under that box gets its warning nested in it; a
    // success ends the run, and the next run, begun under the read warning,
    // gets its own once that is gone.
    h.Feed(Ev(8200, Kind::TimerFired, true, TIMER_POLL));
    h.Feed(Ev(8200, Kind::PortRead, false));
    h.Feed(Ev(8200, Kind::BoxOpen, true, 1, 2, kRead));
    for (Ms t = 8400; t <= 8800; t += 200)
        h.Feed(Ev(t, Kind::TimerFired, true, TIMER_POLL));
    h.Feed(Ev(8400, Kind::PortRead, true));
    h.Feed(Ev(8600, Kind::PortRead, false));
    h.Feed(Ev(8700, Kind::BoxClose, true, 1, 2, kRead));
    h.Feed(Ev(8800, Kind::PortRead, false));
    h.Feed(Ev(8800, Kind::BoxOpen, true, 2, 2, kRead));
    h.Feed(Ev(8900, Kind::BoxClose, true, 2, 2, kRead));
    h.Feed(Ev(9000, Kind::TimerFired, true, TIMER_POLL));
    h.Feed(Ev(9000, Kind::PortRead, false)); // same run: no second warning
    h.Feed(Ev(9000, Kind::BoxClose, true, 0, 1, kTimers));
    h.Dispatched();
    // The next sign arms the mark timer again.
    h.Mark(9100, 9200);
    // The answer, held 3 s, with its paints nested; the poll late by the hold.
    h.state.phase = Answer;
    h.Feed(Ev(9200, Kind::TimerFired, true, TIMER_POLL));
    h.Feed(Ev(9200, Kind::PaintBegin, true, 0, 1));
    h.Feed(Ev(9200, Kind::Sleep, true, 0, 3000));
    h.state.phase = Idle;
    h.checker.OnEvent(Ev(12200, Kind::PaintBegin, true, 0, 2)); // no poll during the hold
    h.checker.OnEvent(Ev(12200, Kind::TimerFired, true, TIMER_POLL));
    h.Dispatched();
    EXPECT_EQ(h.tally.readBoxes, 2u);
    EXPECT_EQ(h.tally.readFailureRuns, 2u);
    EXPECT_EQ(h.tally.maxBoxDepth, 2u);

    // The failed open and its pause, in a run of their own.
    Harness noPort;
    noPort.Feed(Ev(0, Kind::PortOpen, false));
    noPort.Feed(Ev(0, Kind::BoxOpen, true, 0, 1, "error opening serial port"));
    noPort.Feed(Ev(1000, Kind::BoxClose, true, 0, 1, "error opening serial port"));
    noPort.Feed(Ev(1000, Kind::Sleep, true, 0, 5000));
    noPort.Feed(Ev(6000, Kind::WindowShown));
}

TEST(CheckRunResult, OnlyAReturnedZeroPasses)
{
    sim::RunResult ok;
    ok.returned = true;
    EXPECT_EQ(CheckRunResult(ok), "");
    sim::RunResult code = ok;
    code.exitCode = 1;
    sim::RunResult killed;
    killed.signal = 11;
    sim::RunResult aborted;
    aborted.abortMessage = "win32sim: hang";
    sim::RunResult vanished; // exited without returning
    vanished.exitStatus = 1;
    for (const sim::RunResult* r : {&code, &killed, &aborted, &vanished})
        EXPECT_NE(CheckRunResult(*r), "") << r->Describe();
}

TEST(Rng, SameNumbersEverywhere)
{
    // The published first outputs of splitmix64 from seed 0.
    Rng r(0);
    EXPECT_EQ(r.Next(), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(r.Next(), 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(r.Next(), 0x06C45D188009454Full);
    for (int i = 0; i < 1000; ++i) {
        uint64_t v = r.LogRange(5, 400);
        ASSERT_GE(v, 5u);
        ASSERT_LE(v, 400u);
    }
}

TEST(GeneratedRuns, ASeedGivesOneScenario)
{
    for (uint64_t seed : {1u, 2u, 77u}) {
        GeneratedRun a = GenerateRun(seed, 3600000), b = GenerateRun(seed, 3600000);
        EXPECT_EQ(a.iniText, b.iniText);
        EXPECT_EQ(a.injected, b.injected);
        ASSERT_EQ(a.scenario.presses.size(), b.scenario.presses.size());
        for (size_t i = 0; i < a.scenario.presses.size(); ++i) {
            EXPECT_EQ(a.scenario.presses[i].bits, b.scenario.presses[i].bits);
            EXPECT_EQ(a.scenario.presses[i].from, b.scenario.presses[i].from);
        }
        EXPECT_EQ(a.scenario.closeAt, b.scenario.closeAt);
    }
    EXPECT_NE(GenerateRun(1, 3600000).iniText, GenerateRun(2, 3600000).iniText);
}

// The generator's idea of what a file gives must be the program's: else the
// settings invariant would flag the generator, not the program.
TEST(GeneratedRuns, SettingsFilesGiveTheExpectedValues)
{
    char dir[] = "/tmp/exhibit_gen_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    for (uint64_t seed = 1; seed <= 400; ++seed) {
        Injected injected;
        GeneratedSettings g = GenerateSettings(seed, seed % 5 == 0, injected);
        std::remove((std::string(dir) + "/quorin.ini").c_str());
        if (g.writeIni)
            std::ofstream(std::string(dir) + "/quorin.ini", std::ios::binary) << g.iniText;
        sim::Scenario s;
        s.cDrive = dir;
        sim::Reset(s);
        ReadExhibitSettings();
        for (int k = 0; k < 7; ++k)
            ASSERT_EQ(Field(settings, k), Field(g.expected, k)) << "seed " << seed << " key " << kSettingKeys[k]
                                                                << "\n" << g.iniText;
    }
    std::remove((std::string(dir) + "/quorin.ini").c_str());
    rmdir(dir);
}

} // namespace
