// The sign player: RTS waveforms of whole signs, signs restarted over a
// running one, the prompt's extra step, and failed timer arms.
#include "core_fixture.h"

namespace {

using coretest::CoreTest;
using sim::Interval;
using sim::Kind;
using sim::Ms;

constexpr int kRowA = 0, kRowE = 4, kRowT = 19, kRow0 = 35;

// A long attract pause, so that a sign's end arms it without starting a
// further sign within the test.
ExhibitSettings PlayerSettings()
{
    ExhibitSettings s = coretest::DefaultSettings();
    s.DUREE_INTER_SIGNAL_AUTO = 60000;
    return s;
}

class SignPlayer : public CoreTest {
protected:
    // No poll and no inactivity timer: only the player runs.
    void StartPlayer(const ExhibitSettings& s = PlayerSettings()) { Start(s, false); }

    void StartSignAt(Ms t, int row)
    {
        RunUntil(t);
        exhibit.signIndex = static_cast<int16_t>(row);
        StartSign();
    }
    // The ends of signs, seen with autoRun set: the pause is armed there.
    std::vector<Ms> SignEnds() const { return ArmTimes(TIMER_AUTO_NEXT); }
};

TEST_F(SignPlayer, WholeSignsFollowTheTimingTable)
{
    struct Case { int row; std::vector<Interval> up; Ms end; };
    const Case cases[] = {
        {kRowE, {{0, 100}}, 200},                   // P + S
        {kRowA, {{0, 100}, {200, 500}}, 600},       // P + T + 2S
        {kRow0, {{0, 300}, {400, 700}, {800, 1100}, {1200, 1500}, {1600, 1900}}, 2000}, // 5T + 5S
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(SignCharacter(c.row));
        StartPlayer();
        exhibit.autoRun = 1;
        StartSignAt(0, c.row);
        RunUntil(5000);
        EXPECT_EQ(Rts(), c.up);
        EXPECT_EQ(SignEnds(), std::vector<Ms>{c.end});
        // The position that found the end is one past the last symbol.
        EXPECT_EQ(exhibit.symbolPos, static_cast<int>(c.up.size()) + 1);
    }
}

TEST_F(SignPlayer, EndOfSignWithoutAttractModeTouchesNothing)
{
    StartPlayer();
    StartSignAt(0, kRowE);
    RunUntil(1000);
    size_t before = sim::Trace().size();
    SendMessageA(exhibit.hWnd, WM_USER, 0, 0); // a further step past the end
    RunUntil(2000);
    EXPECT_EQ(sim::Trace().size(), before) << sim::DumpAround(sim::Trace(), 1000);
}

TEST_F(SignPlayer, EndOfSignRestartsARunningAttractPause)
{
    ExhibitSettings s = PlayerSettings();
    s.DUREE_INTER_SIGNAL_AUTO = 2000;
    StartPlayer(s);
    exhibit.autoRun = 1;
    ASSERT_TRUE(ArmTimer(TIMER_AUTO_NEXT, 5000)); // would fire at 5000
    StartSignAt(0, kRowE);
    RunUntil(6000);
    // Re-armed at the sign's end (200): fires at 2200, not 5000.
    std::vector<Ms> fired;
    for (const sim::Event& e : Since(Kind::TimerFired, 0))
        if (e.id == TIMER_AUTO_NEXT)
            fired.push_back(e.t);
    ASSERT_FALSE(fired.empty());
    EXPECT_EQ(fired.front(), 2200u);
}

TEST_F(SignPlayer, FirstStepFromTheInitialStateKeysTheFirstDotOfA)
{
    StartPlayer();
    SendMessageA(exhibit.hWnd, WM_USER, 0, 0);
    RunUntil(1000);
    EXPECT_EQ(Rts(), (std::vector<Interval>{{0, 100}, {200, 500}}));
}

TEST_F(SignPlayer, RestartDuringAMarkMergesItWithTheNewFirstMark)
{
    StartPlayer();
    exhibit.autoRun = 1;
    StartSignAt(0, kRowA);
    StartSignAt(50, kRowT); // mid-dot: the line stays up for a dash from 50
    RunUntil(2000);
    EXPECT_EQ(Rts(), (std::vector<Interval>{{0, 350}}));
    EXPECT_EQ(SignEnds(), std::vector<Ms>{450});
}

TEST_F(SignPlayer, RestartDuringASilence)
{
    struct Case {
        const char* what;
        int32_t point;
        Ms restartAt;
        int row;
        std::vector<Interval> up;
        std::vector<Ms> ends;
    };
    const Case cases[] = {
        // The new mark ends first: the silence restarts, the sign goes on.
        {"mark ends first", 30, 80, kRowA, {{0, 30}, {80, 110}, {210, 300}}, {400}},
        // The old silence ends first: position 2 with the line up, so the
        // first two marks of the new sign merge into one.
        {"silence ends first", 100, 150, kRowA, {{0, 100}, {150, 500}}, {600}},
        // A one-symbol sign: that expiry finds its end; the mark ends on its
        // own time, one more silence, and the end is found again.
        {"one-symbol sign", 100, 150, kRowE, {{0, 100}, {150, 250}}, {200, 350}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExhibitSettings s = PlayerSettings();
        s.DUREE_POINT = c.point;
        s.DUREE_TRAIT = 3 * c.point;
        StartPlayer(s);
        exhibit.autoRun = 1;
        StartSignAt(0, kRowA);
        StartSignAt(c.restartAt, c.row);
        RunUntil(3000);
        EXPECT_EQ(Rts(), c.up);
        // The first sign's own end never comes: it was restarted.
        EXPECT_EQ(SignEnds(), c.ends);
    }
}

TEST_F(SignPlayer, PromptPaintRepeatsTheStepAtTheSamePosition)
{
    struct Case {
        const char* what;
        Ms paintAt;
        std::vector<Interval> up;
        std::vector<Ms> ends;
    };
    const Case cases[] = {
        // During the dot: it ends one full dot after the paint.
        {"during a mark", 50, {{0, 150}, {250, 550}}, {650}},
        // During the silence after the dash (last symbol, p = 2): the dash is
        // keyed again; the silence ends first and finds the end at 3, the
        // repeated dash ends on its own, one more silence, and position 4
        // finds the end again.
        {"during the last silence", 550, {{0, 100}, {200, 500}, {550, 850}}, {600, 950}},
        // After the end: the repeated end-of-sign step arms the pause again.
        {"after the end", 700, {{0, 100}, {200, 500}}, {600, 700}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartPlayer();
        exhibit.autoRun = 1;
        StartSignAt(0, kRowA);
        RunUntil(c.paintAt);
        exhibit.phase = Prompt;
        RepaintNow();
        exhibit.phase = Idle;
        RunUntil(3000);
        EXPECT_EQ(Rts(), c.up);
        EXPECT_EQ(SignEnds(), c.ends);
    }
}

TEST_F(SignPlayer, PromptPaintDuringTheLastSilenceOfADigitStepsToPositionSeven)
{
    StartPlayer();
    StartSignAt(0, kRow0);
    RunUntil(1950); // silence after the fifth dash: 1900..2000
    exhibit.phase = Prompt;
    RepaintNow();
    RunUntil(5000);
    EXPECT_EQ(exhibit.symbolPos, 7);
    EXPECT_EQ(Rts().back(), (Interval{1950, 2250}));
}

TEST_F(SignPlayer, AnswerHeldDuringAMarkKeepsTheLineUpForTheWholeHold)
{
    StartPlayer();
    StartSignAt(0, kRowT);
    RunUntil(100); // mid-dash (0..300)
    exhibit.phase = Answer;
    RepaintNow(); // holds 3000 ms, then Idle
    EXPECT_EQ(exhibit.phase, Idle);
    RunUntil(5000);
    // The mark's expiry was due at 300 and comes after the hold, at 3100.
    EXPECT_EQ(Rts(), (std::vector<Interval>{{0, 3100}}));
}

TEST_F(SignPlayer, FailedArmOfTheMarkTimerStopsTheSignWithTheLineUp)
{
    scenario.setTimerFails = [](UINT_PTR id, Ms, uint64_t) { return id == TIMER_MARK_END; };
    StartPlayer();
    StartSignAt(0, kRowA);
    RunUntil(5000);
    EXPECT_EQ(sim::WarningTexts(sim::Trace()), std::vector<std::string>{"Too many timers"});
    EXPECT_EQ(Rts(), (std::vector<Interval>{{0, sim::kNever}}));
    EXPECT_EQ(exhibit.symbolPos, 1);
}

TEST_F(SignPlayer, LineStuckByAFailedArmComesDownAtTheNextMarkEnd)
{
    bool fail = true;
    scenario.setTimerFails = [&fail](UINT_PTR id, Ms, uint64_t) { return fail && id == TIMER_MARK_END; };
    StartPlayer();
    StartSignAt(0, kRowE);
    RunUntil(2000);
    fail = false;
    StartSignAt(2000, kRowE);
    RunUntil(4000);
    EXPECT_EQ(Rts(), (std::vector<Interval>{{0, 2100}}));
}

TEST_F(SignPlayer, FailedArmOfTheSilenceTimerStopsTheSignOnTheSymbolJustKeyed)
{
    scenario.setTimerFails = [](UINT_PTR id, Ms, uint64_t) { return id == TIMER_SPACE_END; };
    StartPlayer();
    exhibit.autoRun = 1;
    StartSignAt(0, kRowA);
    RunUntil(5000);
    EXPECT_EQ(Rts(), (std::vector<Interval>{{0, 100}}));
    EXPECT_EQ(exhibit.symbolPos, 1);
    EXPECT_TRUE(SignEnds().empty());
}

TEST_F(SignPlayer, DurationsOfZeroAndBelowPlayAtTheTimerMinimum)
{
    for (int32_t d : {0, -1, -40, INT32_MIN}) {
        SCOPED_TRACE(d);
        ExhibitSettings s = PlayerSettings();
        s.DUREE_POINT = s.DUREE_TRAIT = s.DUREE_SILENCE = d;
        StartPlayer(s);
        exhibit.autoRun = 1;
        StartSignAt(0, kRowA);
        RunUntil(1000);
        EXPECT_EQ(Rts(), (std::vector<Interval>{{0, 10}, {20, 30}}));
        EXPECT_EQ(SignEnds(), std::vector<Ms>{40});
    }
}

} // namespace
