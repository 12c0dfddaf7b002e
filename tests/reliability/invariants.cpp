#include "invariants.h"

#include "settings_reference.h"
#include "sign_decoder.h"

#include <algorithm>

namespace reliability {

using sim::Kind;
using sim::Ms;

namespace {

const char kReadWarning[] = "GetCommModemStatus failed";
constexpr DWORD kButtons = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
constexpr Ms kOpenFailurePause = 5000;
constexpr size_t kMaxLiveTimers = 5;

} // namespace

InvariantChecker::InvariantChecker(const ExhibitState& state, const ExhibitSettings& settings,
                                   CheckOptions options, Tally* tally)
    : state_(state), settings_(settings), options_(options), tally_(tally)
{
}

void InvariantChecker::Attach(sim::Scenario& scenario)
{
    scenario.observer = [this](const sim::Event& e) { OnEvent(e); };
    scenario.afterDispatch = [this](const MSG& m) { AfterDispatch(m); };
}

void InvariantChecker::Fail(const char* invariant, const std::string& what) const
{
    sim::Abort(std::string("invariant ") + invariant + ": " + what + " (phase " + std::to_string(state_.phase) +
               ", signIndex " + std::to_string(state_.signIndex) + ", autoRun " +
               std::to_string(state_.autoRun) + ")");
}

void InvariantChecker::CheckState(const char* where)
{
    if (state_.phase > Answer)
        Fail("phase", std::string("no such phase, at ") + where);
    if (state_.signIndex < 0 || state_.signIndex >= SIGN_COUNT)
        Fail("sign-index", std::string("not a row of the table, at ") + where);
    if (state_.autoRun != 0 && state_.phase != Idle)
        Fail("attract-only-in-idle", std::string("autoRun set outside Idle, at ") + where);
    if (state_.autoRun != 0)
        attractStarted_ = true;
    else if (options_.quiet && attractStarted_)
        Fail("quiet-attract", std::string("the attract mode stopped though nothing happened, at ") + where);
}

void InvariantChecker::OnEvent(const sim::Event& e)
{
    if (tally_)
        ++tally_->events;
    CheckState(sim::KindName(e.kind));
    CheckIdlePoll(&e);

    switch (e.kind) {
    case Kind::WindowCreated:
        if (options_.checkSettings)
            for (int k = 0; k < 7; ++k)
                if (Field(settings_, k) != Field(options_.expected, k))
                    Fail("settings", "read " + Describe(settings_) + ", the file gives " + Describe(options_.expected));
        break;
    case Kind::WindowShown:
        if (openPauseOwed_)
            Fail("blocking", "the window came up without the pause after the failed open");
        break;
    case Kind::WindowDestroyed:
        CheckPollAlive(e.t);
        if (readBoxOwed_)
            Fail("read-warning", "a run of failed reads got no warning");
        timers_.clear();
        markArmed_ = false;
        pollRunning_ = false;
        destroyed_ = true;
        break;
    case Kind::TimerSet: OnTimerSet(e); break;
    case Kind::TimerKilled: OnTimerGone(e.handle, e.id); break;
    case Kind::TimerFired:
        CheckPollAlive(e.t);
        if (e.id == TIMER_POLL) {
            polls_.push_back(false);
            lastPoll_ = e.t;
            sleptSincePoll_ = 0;
            if (tally_)
                ++tally_->polls;
        }
        break;
    case Kind::PortOpen:
        if (!e.ok)
            openPauseOwed_ = true;
        break;
    case Kind::PortRead: OnPortRead(e); break;
    case Kind::BoxOpen: OnBoxOpen(e); break;
    case Kind::BoxClose:
        boxDepth_ = static_cast<int>(e.value) - 1;
        if (e.text == kReadWarning)
            --readBoxesOpen_;
        break;
    case Kind::PaintBegin:
        // Each loop level (the main loop, then every open box) holds at most
        // two paints: the answer and the instructions painted inside it. A
        // paint holds a deeper one only through a box its symbol step opened.
        if (e.value > 2 * (boxDepth_ + 1))
            Fail("nesting", "paint depth " + std::to_string(e.value) + " with " + std::to_string(boxDepth_) +
                                " boxes open");
        if (tally_)
            tally_->maxPaintDepth = std::max<uint64_t>(tally_->maxPaintDepth, static_cast<uint64_t>(e.value));
        break;
    case Kind::Sleep: OnSleep(e); break;
    case Kind::Rts: OnRts(e); break;
    default: break;
    }
}

void InvariantChecker::AfterDispatch(const MSG& m)
{
    CheckState("the end of a message");
    CheckIdlePoll(nullptr);
    if (m.message == WM_TIMER && m.wParam == TIMER_POLL && !polls_.empty()) {
        if (polls_.back())
            keptWord_ = lineWord_;
        polls_.pop_back();
    }
    // A failed arm leaves the line up with no timer to drop it, by design,
    // until the next sign arms the timer again. After the window is gone its
    // timers are gone too while the line stays where it was.
    if (!destroyed_ && !markArmFailed_ && rtsUp_ != markArmed_)
        Fail("sign-line", rtsUp_ ? "RTS up without TIMER_MARK_END armed" : "TIMER_MARK_END armed with RTS down");
}

void InvariantChecker::OnTimerSet(const sim::Event& e)
{
    if (e.ok) {
        auto same = [&](const LiveTimer& t) { return t.window == e.handle && t.id == e.id; };
        if (std::none_of(timers_.begin(), timers_.end(), same))
            timers_.push_back({e.handle, e.id});
        if (timers_.size() > kMaxLiveTimers)
            Fail("timers", std::to_string(timers_.size()) + " timers alive");
        if (tally_)
            tally_->maxLiveTimers = std::max<uint64_t>(tally_->maxLiveTimers, timers_.size());
    } else {
        ++failedArms_;
        if (tally_)
            ++tally_->failedTimerArms;
        OnTimerGone(e.handle, e.id); // a failed arm leaves no timer of that id
        Disturbed("a failed SetTimer");
    }
    if (e.id == TIMER_MARK_END) {
        markArmed_ = e.ok;
        markArmFailed_ = !e.ok;
    }
    if (e.id == TIMER_POLL) {
        pollRunning_ = e.ok;
        lastPoll_ = e.t;
        sleptSincePoll_ = 0;
    }
}

void InvariantChecker::OnTimerGone(uint64_t window, uint64_t id)
{
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                 [&](const LiveTimer& t) { return t.window == window && t.id == id; }),
                  timers_.end());
    if (id == TIMER_MARK_END)
        markArmed_ = false;
    // A poll killed before the window goes is caught as a poll that stops.
}

// Handlers take no time, so the poll fires every 200 ms, later only by the
// waits in between; no timer due after it can fire before it.
void InvariantChecker::CheckPollAlive(Ms now)
{
    if (pollRunning_ && now > lastPoll_ + POLL_PERIOD_MS + sleptSincePoll_)
        Fail("poll-alive", "no poll since " + std::to_string(lastPoll_) + " ms");
}

void InvariantChecker::OnPortRead(const sim::Event& e)
{
    if (readBoxOwed_)
        Fail("read-warning", "a run of failed reads got no warning");
    if (!e.ok) {
        if (tally_)
            ++tally_->failedReads;
        if (!readRun_) {
            readRun_ = true;
            readRunBoxes_ = 0;
            if (tally_)
                ++tally_->readFailureRuns;
        }
        // With no read warning open, the run must get its one warning now.
        if (readBoxesOpen_ == 0 && readRunBoxes_ == 0)
            readBoxOwed_ = true;
        Disturbed("a failed read");
    } else {
        readRun_ = false;
        DWORD word = static_cast<DWORD>(e.value);
        if (word & kButtons)
            Disturbed("a button");
        idlePoll_ = (word & ~keptWord_ & kButtons) == 0;
        phaseAtRead_ = state_.phase;
    }
    lineWord_ = e.ok ? static_cast<DWORD>(e.value) : 0;
    if (!polls_.empty())
        polls_.back() = e.ok;
}

// Every branch of the poll begins by stopping TIMER_INACTIVITY; a poll with
// nothing newly pressed ends right after its read.
void InvariantChecker::CheckIdlePoll(const sim::Event* next)
{
    if (!idlePoll_)
        return;
    if (state_.phase != phaseAtRead_ || (next && next->kind == Kind::TimerKilled && next->id == TIMER_INACTIVITY))
        Fail("no-edge-no-action", "a poll acted with no button newly pressed");
    idlePoll_ = false;
}

void InvariantChecker::OnBoxOpen(const sim::Event& e)
{
    boxDepth_ = static_cast<int>(e.value);
    if (tally_) {
        ++tally_->boxes;
        tally_->maxBoxDepth = std::max<uint64_t>(tally_->maxBoxDepth, static_cast<uint64_t>(boxDepth_));
    }
    // Every box answers one failure: the open and the mask fail only during
    // creation, before any timer could nest anything in them; a failed arm
    // shows one box; the read warning is never open twice.
    if (static_cast<uint64_t>(boxDepth_) > 1 + failedArms_)
        Fail("nesting", std::to_string(boxDepth_) + " boxes open after " + std::to_string(failedArms_) +
                            " failed timer arms");
    if (e.text == kReadWarning) {
        if (!readRun_)
            Fail("read-warning", "shown without a failed read");
        if (++readRunBoxes_ > 1)
            Fail("read-warning", "shown twice in one run of failed reads");
        if (++readBoxesOpen_ > 1)
            Fail("read-warning", "open twice at once");
        readBoxOwed_ = false;
        if (tally_)
            ++tally_->readBoxes;
    }
    Disturbed("a warning box");
}

uint64_t InvariantChecker::Hold() const
{
    return NonNegativeMs(settings_.DUREE_AFF_LETTRE);
}

void InvariantChecker::OnSleep(const sim::Event& e)
{
    if (tally_)
        ++tally_->sleeps;
    Ms ms = static_cast<Ms>(e.value);
    if (openPauseOwed_ && ms == kOpenFailurePause) {
        openPauseOwed_ = false;
    } else {
        if (state_.phase != Answer)
            Fail("blocking", "a wait of " + std::to_string(ms) + " ms outside the answer and the failed open");
        if (ms > Hold())
            Fail("blocking", "a wait of " + std::to_string(ms) + " ms, the answer is held " +
                                 std::to_string(Hold()) + " ms");
    }
    sleptSincePoll_ += ms;
    Disturbed("a wait");
}

// Durations the decoder can read back exactly: no timer clamped, a dash
// longer than two dots, a pause between signs longer than a silence.
bool InvariantChecker::SaneDurations() const
{
    const ExhibitSettings& s = settings_;
    return s.DUREE_POINT >= static_cast<int32_t>(USER_TIMER_MINIMUM) &&
           s.DUREE_SILENCE >= static_cast<int32_t>(USER_TIMER_MINIMUM) && s.DUREE_TRAIT / 2 > s.DUREE_POINT &&
           std::max<int32_t>(s.DUREE_INTER_SIGNAL_AUTO, USER_TIMER_MINIMUM) > s.DUREE_SILENCE;
}

void InvariantChecker::OnRts(const sim::Event& e)
{
    bool up = e.value != 0; // asked for: without a port the call fails but counts
    if (SaneDurations()) {
        if (up && !rtsUp_) {
            if (!marks_.empty() && e.t - marks_.back().to > 2 * static_cast<Ms>(settings_.DUREE_SILENCE))
                FinishSign();
            riseAt_ = e.t;
        }
        if (!up && rtsUp_) {
            marks_.push_back({riseAt_, e.t});
            if (marks_.size() > SIGN_MAX_SYMBOLS) {
                if (!signDisturbed_)
                    FinishSign(); // fails: no row has that many symbols
                marks_.clear();   // a visitor's merged signs: not read back
            }
        }
        if (state_.autoRun == 0)
            signDisturbed_ = true; // a visitor's sign, not the attract mode's
    }
    rtsUp_ = up;
}

void InvariantChecker::Disturbed(const char* what)
{
    signDisturbed_ = true;
    if (options_.quiet && attractStarted_)
        Fail("quiet-attract", std::string(what) + " though nothing was injected");
}

void InvariantChecker::FinishSign()
{
    if (!signDisturbed_ && !marks_.empty()) {
        std::vector<std::string> signs = DecodeSigns(marks_, settings_);
        if (signs.size() != 1 || signs[0].size() != 1) {
            std::string read;
            for (const std::string& s : signs)
                read += "[" + s + "]";
            Fail("attract-signs", "an attract sign reads back as " + read);
        }
        if (tally_)
            ++tally_->signsDecoded;
    }
    marks_.clear();
    signDisturbed_ = false;
}

std::string CheckRunResult(const sim::RunResult& r)
{
    if (!r.abortMessage.empty())
        return r.abortMessage;
    if (r.signal != 0 || !r.returned)
        return "the program did not return: " + r.Describe();
    if (r.exitCode != 0)
        return "exit code " + std::to_string(r.exitCode);
    return "";
}

} // namespace reliability
