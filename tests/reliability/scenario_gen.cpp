#include "scenario_gen.h"

#include "exhibit_run.h"
#include "host.h"
#include "rng.h"
#include "settings_reference.h"


#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace reliability {

using sim::Ms;

namespace {

constexpr Ms kSecond = 1000, kMinute = 60 * kSecond;
constexpr Ms kLongestBox = 30 * kMinute;
constexpr int kMaxTimerFailures = 4;

std::string Trimmed(const std::string& v)
{
    size_t first = v.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return v.substr(first, v.find_last_not_of(" \t") - first + 1);
}

bool SameKey(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A plausible value for key k (index into kSettingKeys).
int64_t TypicalValue(Rng& r, int k)
{
    switch (k) {
    case 0: return static_cast<int64_t>(r.Range(20, 300));             // dot
    case 1: return static_cast<int64_t>(r.Range(40, 900));             // dash
    case 2: return static_cast<int64_t>(r.Range(20, 300));             // silence
    case 3: return static_cast<int64_t>(r.LogRange(1000, 5 * kMinute)); // inactivity
    case 4: return static_cast<int64_t>(r.LogRange(100, 20000));       // attract pause
    case 5: return static_cast<int64_t>(r.Range(0, 10000));            // answer held
    default: {
        const int64_t values[] = {0, 1, 1, 1, 2, -1};
        return r.Pick(values);
    }
    }
}

// Durations the attract signs can be read back with (see the checker).
void SaneValues(Rng& r, int64_t (&v)[7])
{
    v[0] = static_cast<int64_t>(r.Range(20, 200));
    v[1] = 2 * v[0] + static_cast<int64_t>(r.Range(2, 600));
    v[2] = static_cast<int64_t>(r.Range(20, 300));
    v[3] = static_cast<int64_t>(r.LogRange(10, 2 * kMinute));
    v[4] = v[2] + static_cast<int64_t>(r.LogRange(1, 5000));
    v[5] = static_cast<int64_t>(r.Range(0, 10000));
    v[6] = static_cast<int64_t>(r.Range(1, 3));
}

struct Line {
    std::string key;
    std::string value;
    bool elsewhere = false; // written in another section
};

} // namespace

GeneratedSettings GenerateSettings(uint64_t seed, bool sane, Injected& injected)
{
    Rng r(seed);
    GeneratedSettings g;
    g.sane = sane;
    if (!sane && r.Percent(6)) {
        g.writeIni = false;
        ++injected["settings: no file"];
        return g;
    }
    bool noSection = !sane && r.Percent(4);
    if (noSection)
        ++injected["settings: no MORSE section"];

    int64_t saneValues[7];
    SaneValues(r, saneValues);
    std::vector<Line> lines;
    std::vector<std::string> odd; // what each value is, for the report
    for (int k = 0; k < 7; ++k) {
        Line line{kSettingKeys[k], "", false};
        unsigned roll = sane ? 0 : static_cast<unsigned>(r.Range(0, 99));
        if (roll < 48) {
            line.value = std::to_string(sane ? saneValues[k] : TypicalValue(r, k));
        } else if (roll < 54) {
            ++injected["settings: missing key"];
            continue;
        } else if (roll < 58) {
            ++injected["settings: empty value"];
        } else if (roll < 64) {
            ++injected["settings: zero"];
            line.value = r.Percent(50) ? "0" : "-0";
        } else if (roll < 72) {
            ++injected["settings: negative"];
            const char* values[] = {"-1", "-10", "-40", "-250", "-99999999", "-2147483"};
            line.value = r.Pick(values);
        } else if (roll < 78) {
            ++injected["settings: very large"];
            const char* values[] = {"999999999", "86400000", "2147483", "100000000", "604800000"};
            line.value = r.Pick(values);
        } else if (roll < 83) {
            ++injected["settings: over nine characters"];
            const char* values[] = {"12345678901", "-1234567890", "0000000000042", "99999999999999", "  250000000000"};
            line.value = r.Pick(values);
        } else if (roll < 92) {
            ++injected["settings: garbage text"];
            const char* values[] = {"abc",  "250ms", "2.5",  "0x1F", "on", "oui", "-",     "+",    "+-3",
                                    "1 2",  " 42",   "\t7",  "+7",   "1e3", "=5", "\xE9t\xE9", "12,5", "--1"};
            line.value = r.Pick(values);
        } else if (roll < 95) {
            ++injected["settings: key in another section"];
            line.value = std::to_string(TypicalValue(r, k));
            line.elsewhere = true;
        } else if (roll < 97) {
            ++injected["settings: key in lower case"];
            for (char& c : line.key)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            line.value = std::to_string(TypicalValue(r, k));
        } else {
            ++injected["settings: key given twice"];
            line.value = std::to_string(TypicalValue(r, k));
            lines.push_back(line);
            line.value = std::to_string(TypicalValue(r, k)); // ignored: the first one counts
        }
        lines.push_back(line);
    }
    for (size_t i = lines.size(); i > 1; --i) // any order within the section
        std::swap(lines[i - 1], lines[r.Range(0, i - 1)]);

    const char* eol = !sane && r.Percent(20) ? "\r\n" : "\n";
    std::string morse, other;
    morse += std::string(noSection ? "[AUTRE]" : "[MORSE]") + eol;
    for (const Line& l : lines) {
        std::string& into = l.elsewhere ? other : morse;
        if (!sane && r.Percent(10))
            into += std::string("; ") + l.key + eol;
        into += l.key + (r.Percent(15) ? " = " : "=") + l.value + eol;
    }
    g.iniText = r.Percent(50) ? morse + (other.empty() ? "" : "[OTHER]" + std::string(eol) + other)
                              : (other.empty() ? "" : "[OTHER]" + std::string(eol) + other) + morse;

    // What the file gives: the first occurrence of each key in the section.
    for (int k = 0; k < 7 && !noSection; ++k) {
        for (const Line& l : lines) {
            if (!l.elsewhere && SameKey(l.key, kSettingKeys[k])) {
                Field(g.expected, k) = ReferenceSetting(Trimmed(l.value));
                break;
            }
        }
    }
    return g;
}

namespace {

// A button press of a visitor, and what it counts as in the report.
void AddPresses(Rng& r, sim::Scenario& s, Ms visitAt, Ms end, Injected& injected)
{
    const DWORD buttons[] = {MS_DSR_ON, MS_DSR_ON, MS_DSR_ON, MS_RLSD_ON, MS_RLSD_ON, MS_CTS_ON, MS_CTS_ON};
    Ms at = visitAt;
    int actions = static_cast<int>(r.Range(1, 8));
    for (int a = 0; a < actions && at < end; ++a) {
        DWORD bits = r.Pick(buttons);
        unsigned kind = static_cast<unsigned>(r.Range(0, 99));
        if (kind < 8) {
            bits = MS_RING_ON;
            ++injected["presses: ring line alone"];
        } else if (kind < 15) {
            bits |= r.Pick(buttons);
            ++injected["presses: two buttons at once"];
        }
        unsigned style = static_cast<unsigned>(r.Range(0, 99));
        if (style < 15) {
            // Bouncing contacts: pulses and gaps both shorter and longer than a poll.
            int pulses = static_cast<int>(r.Range(2, 12));
            for (int p = 0; p < pulses && at < end; ++p) {
                Ms len = r.LogRange(5, 400);
                s.presses.push_back({bits, at, std::min(at + len, end)});
                at += len + r.LogRange(5, 400);
            }
            ++injected["presses: bouncing bursts"];
        } else {
            Ms len = style < 93 ? r.LogRange(30, 2000) : style < 98 ? r.LogRange(2000, 30000)
                                                                    : r.LogRange(kMinute, 10 * kMinute);
            if (len >= kMinute)
                ++injected["presses: held for minutes"];
            s.presses.push_back({bits, at, std::min(at + len, end)});
            at += len;
            ++injected["presses: single"];
        }
        at += r.LogRange(100, 15000);
    }
}

} // namespace

GeneratedRun GenerateRun(uint64_t seed, Ms duration)
{
    GeneratedRun g;
    g.seed = seed;
    Rng r(seed);
    g.quiet = r.Percent(15);
    GeneratedSettings gs = GenerateSettings(Mix(seed, 1), g.quiet, g.injected);
    g.writeIni = gs.writeIni;
    g.iniText = gs.iniText;
    g.expected = gs.expected;

    sim::Scenario& s = g.scenario;
    s.startTime = 1600000000 + static_cast<int64_t>(r.Range(0, 300000000));
    const int widths[] = {800, 1024, 1280, 1920, 2560}, heights[] = {600, 768, 1024, 1080, 1440};
    s.screenWidth = r.Pick(widths);
    s.screenHeight = r.Pick(heights);
    const Ms end = duration > 2 * kSecond ? duration - kSecond : duration; // every press is over by the close

    if (g.quiet) {
        // Only what must change nothing: the ring line and the mouse.
        for (int n = static_cast<int>(r.Range(0, 6)); n > 0; --n) {
            Ms at = r.Range(0, end);
            s.presses.push_back({MS_RING_ON, at, std::min(end, at + r.LogRange(30, 5000))});
            ++g.injected["presses: ring line alone"];
        }
    } else {
        unsigned port = static_cast<unsigned>(r.Range(0, 99));
        if (port < 4) {
            s.port = sim::PortState::Absent;
            ++g.injected["port absent"];
        } else if (port < 8) {
            s.port = sim::PortState::Busy;
            ++g.injected["port busy"];
        }
        if (r.Percent(5)) {
            s.setCommMaskFails = true;
            ++g.injected["SetCommMask failure"];
        }

        Ms meanGap = r.LogRange(20 * kSecond, 20 * kMinute);
        for (Ms visit = r.Range(0, meanGap); visit < end; visit += r.Range(meanGap / 4, 2 * meanGap)) {
            AddPresses(r, s, visit, end, g.injected);
            ++g.injected["visitors"];
        }

        // Reads that fail: single ones by index, runs, and the port lost for minutes.
        std::vector<uint64_t> failingReads;
        std::vector<sim::Interval> failing;
        if (r.Percent(50)) {
            for (int n = static_cast<int>(r.Range(0, 4)); n > 0; --n)
                failingReads.push_back(r.Range(0, duration / POLL_PERIOD_MS));
            for (int n = static_cast<int>(r.Range(0, 3)); n > 0; --n) {
                Ms at = r.Range(0, duration);
                failing.push_back({at, at + r.LogRange(200, 30 * kSecond)});
            }
            g.injected["read failures: single reads"] += failingReads.size();
            g.injected["read failures: runs of reads"] += failing.size();
        }
        if (r.Percent(20)) {
            for (int n = static_cast<int>(r.Range(1, 2)); n > 0; --n) {
                Ms at = r.Range(0, duration);
                failing.push_back({at, at + r.LogRange(kMinute, 15 * kMinute)});
                ++g.injected["read failures: port lost for minutes"];
            }
        }
        std::sort(failingReads.begin(), failingReads.end());
        if (!failingReads.empty() || !failing.empty()) {
            s.readFails = [failingReads, failing](Ms now, uint64_t index) {
                if (std::binary_search(failingReads.begin(), failingReads.end(), index))
                    return true;
                for (const sim::Interval& i : failing)
                    if (i.from <= now && now < i.to)
                        return true;
                return false;
            };
        }

        // SetTimer failures, rare: the first arm of an id at or after a time.
        if (r.Percent(25)) {
            std::vector<std::pair<UINT_PTR, Ms>> specs;
            const UINT_PTR ids[] = {TIMER_MARK_END, TIMER_MARK_END, TIMER_SPACE_END, TIMER_SPACE_END,
                                    TIMER_AUTO_NEXT, TIMER_AUTO_NEXT, TIMER_INACTIVITY, TIMER_POLL};
            for (int n = static_cast<int>(r.Range(1, kMaxTimerFailures)); n > 0; --n) {
                bool atCreation = r.Percent(4);
                specs.push_back({atCreation ? (r.Percent(50) ? TIMER_INACTIVITY : TIMER_POLL) : r.Pick(ids),
                                 atCreation ? 0 : r.Range(0, duration)});
                ++g.injected[atCreation ? "SetTimer failures: at creation" : "SetTimer failures: later"];
            }
            std::vector<bool> used(specs.size(), false);
            s.setTimerFails = [specs, used](UINT_PTR id, Ms now, uint64_t) mutable {
                for (size_t i = 0; i < specs.size(); ++i) {
                    if (!used[i] && specs[i].first == id && specs[i].second <= now) {
                        used[i] = true;
                        return true;
                    }
                }
                return false;
            };
        }
    }

    // Boxes stay open from a second to half an hour, most of them briefly.
    auto boxTime = [seed](const std::string&, int index) {
        Rng b(Mix(seed, 1000 + static_cast<uint64_t>(index)));
        unsigned roll = static_cast<unsigned>(b.Range(0, 99));
        return roll < 60 ? b.LogRange(kSecond, 10 * kSecond)
                         : roll < 90 ? b.LogRange(10 * kSecond, 2 * kMinute) : b.LogRange(2 * kMinute, kLongestBox);
    };
    s.boxOpenFor = boxTime;

    for (int n = static_cast<int>(r.Range(0, 8)); n > 0; --n) {
        sim::Click c;
        c.at = r.Range(0, end);
        c.button = r.Percent(50) ? sim::Button::Left : sim::Button::Right;
        if (r.Percent(25)) {
            c.area = sim::Area::Caption;
            c.pt = {static_cast<LONG>(r.Range(0, 500)), 10};
        }
        s.clicks.push_back(c);
        ++g.injected["mouse clicks"];
    }

    // The close must find the window up: after the start-up's box and pause.
    Ms startUp = (s.port != sim::PortState::Present || s.setCommMaskFails) ? boxTime("", 0) + 5 * kSecond : 0;
    s.closeAt = std::max(duration, startUp + 2 * kSecond);
    // The close is handled once every box has gone and every wait is over.
    Ms hold = NonNegativeMs(g.expected.DUREE_AFF_LETTRE);
    s.horizon = s.closeAt + 2 * hold + (kMaxTimerFailures + 2) * kLongestBox + 10 * kMinute;
    s.wallClockLimitSeconds = 120;

    if (g.quiet) {
        const ExhibitSettings& e = g.expected;
        Ms sign = 5 * static_cast<Ms>(e.DUREE_TRAIT + e.DUREE_SILENCE);
        g.quietSignsFrom = static_cast<Ms>(e.DUREE_INACTIF) + 3 * (static_cast<Ms>(e.DUREE_INTER_SIGNAL_AUTO) + sign);
    }
    return g;
}

sim::RunResult RunGenerated(const GeneratedRun& run, sim::Scenario scenario)
{
    return RunExhibitProgram(scenario, run.writeIni ? run.iniText.c_str() : nullptr);
}

} // namespace reliability
