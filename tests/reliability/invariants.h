// What must hold at every moment of any run of the exhibit, whatever its
// visitors, faults and settings: checked from inside the running child
// through the stand-in's hooks, on every event and after every dispatched
// message. A broken invariant ends the run with sim::Abort, whose message
// starts with "invariant <name>:". The names:
//   phase, sign-index      phase is a phase; signIndex is a row, 0..35
//   attract-only-in-idle   autoRun is set only in Idle
//   read-warning           "GetCommModemStatus failed" is never open twice at
//                          once, shown at most once per run of failed reads,
//                          and shown for a run that fails a read while no
//                          such warning is open
//   blocking               Sleep only for the answer (in Answer, at most
//                          max(0, DUREE_AFF_LETTRE)) or the 5 s after a failed
//                          open, which must come before the window shows
//   sign-line              after each message RTS is up exactly while
//                          TIMER_MARK_END is armed (not after a failed arm of
//                          it until the next good one, nor once the window is
//                          gone)
//   timers                 at most five timers alive
//   nesting                boxes open <= 1 + failed SetTimer calls so far;
//                          paints nested <= 2 x (boxes open + 1)
//   poll-alive             the poll fires every 200 ms, later only by waits
//   no-edge-no-action      a poll with no button newly pressed does nothing
//   attract-signs          an attract sign nothing else touched reads back
//                          from RTS as a row of the table
//   quiet-attract          (quiet runs) once started, the attract mode never
//                          stops and nothing disturbs it
//   settings               (when asked) the values read are the file's
#pragma once

#include "exhibit.h"
#include "tally.h"
#include "win32sim.h"

#include <string>
#include <vector>

namespace reliability {

struct CheckOptions {
    // Nothing but the ring line and the mouse happens (no button, no fault,
    // sane durations): once the attract mode has started it must never stop
    // and every sign must be clean.
    bool quiet = false;
    // When set, the settings the program read must equal `expected`.
    bool checkSettings = false;
    ExhibitSettings expected{};
};

class InvariantChecker {
public:
    // `state` and `settings` are the program's globals (or, in the checker's
    // own tests, stand-ins for them); `tally` may be null.
    InvariantChecker(const ExhibitState& state, const ExhibitSettings& settings, CheckOptions options,
                     Tally* tally = nullptr);

    // Hooks the checker into the scenario's observer and afterDispatch. The
    // checker must outlive the run (with RunProgram: the child's copy does).
    void Attach(sim::Scenario& scenario);

    void OnEvent(const sim::Event& e);
    void AfterDispatch(const MSG& m);

private:
    struct LiveTimer {
        uint64_t window;
        uint64_t id;
    };

    [[noreturn]] void Fail(const char* invariant, const std::string& what) const;
    void CheckState(const char* where);
    void OnTimerSet(const sim::Event& e);
    void OnTimerGone(uint64_t window, uint64_t id);
    void OnPortRead(const sim::Event& e);
    void OnBoxOpen(const sim::Event& e);
    void OnSleep(const sim::Event& e);
    void OnRts(const sim::Event& e);
    void CheckPollAlive(sim::Ms now);
    void CheckIdlePoll(const sim::Event* next);
    void Disturbed(const char* what);
    void FinishSign();
    bool SaneDurations() const;
    uint64_t Hold() const;

    const ExhibitState& state_;
    const ExhibitSettings& settings_;
    CheckOptions options_;
    Tally* tally_;

    // Timers, from TimerSet, TimerKilled and WindowDestroyed.
    std::vector<LiveTimer> timers_;
    bool markArmed_ = false;
    bool markArmFailed_ = false; // exempts the sign line until the next good arm
    bool rtsUp_ = false;         // the level the program last asked for
    bool destroyed_ = false;

    // Boxes and paints.
    int boxDepth_ = 0;
    uint64_t failedArms_ = 0;

    // Read failures: the current run of failed reads and its warnings.
    bool readRun_ = false;
    int readRunBoxes_ = 0;
    int readBoxesOpen_ = 0;
    bool readBoxOwed_ = false;

    // A poll that finds no button newly pressed must not act: the ring line
    // alone, a held button and a release change nothing. Newly: set now and
    // clear in the word kept by the last successful poll to finish. Polls
    // nest (inside boxes), so the word is kept when a poll ends, and a
    // failed read leaves the word 0 for the poll it is nested in.
    std::vector<bool> polls_; // the polls running, innermost last: read well?
    DWORD lineWord_ = 0;
    DWORD keptWord_ = 0;
    bool idlePoll_ = false;
    ExhibitPhase phaseAtRead_ = Idle;

    // Blocking: the 5 s pause is owed after a failed open, and nowhere else.
    bool openPauseOwed_ = false;

    // The poll keeps running: each due poll fires, late only by the waits.
    bool pollRunning_ = false;
    sim::Ms lastPoll_ = 0;
    sim::Ms sleptSincePoll_ = 0;

    // The sign being keyed since the last long gap, and whether anything
    // but the attract mode had a hand in it.
    std::vector<sim::Interval> marks_;
    sim::Ms riseAt_ = 0;
    bool signDisturbed_ = false;
    bool attractStarted_ = false;
};

// What the parent requires of a finished run: it returned 0 without being
// aborted or killed. Empty when so, else what went wrong.
std::string CheckRunResult(const sim::RunResult& r);

} // namespace reliability
