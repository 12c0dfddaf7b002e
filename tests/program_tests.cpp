// The whole exhibit program, from WinMain to its exit code, on the stand-in.
#include "program_fixture.h"

#include <algorithm>

namespace {

using namespace programtest;

constexpr DWORD kGreen = MS_CTS_ON, kRed = MS_DSR_ON, kBlue = MS_RLSD_ON;
// Documented Win32 values, written out so that a wrong value in the
// stand-in's header cannot hide here.
constexpr uint32_t kStyleMaximizedOverlapped = 0x01CF0000; // WS_MAXIMIZE | WS_OVERLAPPEDWINDOW
constexpr uint32_t kIconWarning = 0x30;                    // MB_ICONWARNING
constexpr uint32_t kVCenter = 0x4, kCenter = 0x1;          // DT_VCENTER, DT_CENTER
constexpr int kShowNormal = 1;                             // SW_SHOWNORMAL

const std::string kInstructions = textInstructions;
const std::string kPrompt = textPrompt;

std::vector<Interval> Between(const std::vector<Interval>& rts, Ms from, Ms to)
{
    std::vector<Interval> out;
    for (const Interval& i : rts)
        if (i.from >= from && i.from < to)
            out.push_back(i);
    return out;
}

std::vector<std::string> Decoded(const sim::RunResult& r, Ms from, Ms to)
{
    return DecodeSigns(Between(sim::RtsUpIntervals(r.trace), from, to), SettingsOf(kSettings));
}

TEST(Program, RoadOfOneVisit)
{
    sim::Scenario s;
    s.presses = {{kRed, 1050, 1300}, {kBlue, 5050, 5300}, {kGreen, 9050, 9300}};
    s.closeAt = 20000;
    sim::RunResult r = RunExhibit(s);
    ASSERT_TRUE(r.returned) << r.Describe();
    EXPECT_EQ(r.exitCode, 0);

    // Red (seen at the poll of 1200): the prompt, then a sign.
    std::vector<std::string> first = Decoded(r, 1200, 5000);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(Drawn(r, 1200, 1201), std::vector<std::string>{kPrompt});
    // Blue (5200): the same sign again, the screen untouched.
    EXPECT_EQ(Decoded(r, 5200, 9000), first);
    EXPECT_TRUE(Drawn(r, 1201, 9200).empty());
    // Green (9200): the answer, held, then the instructions.
    std::vector<sim::Event> draws = sim::DrawTexts(r.trace);
    auto answer = std::find_if(draws.begin(), draws.end(), [](const sim::Event& e) { return e.t == 9200; });
    ASSERT_NE(answer, draws.end());
    EXPECT_EQ(answer->text, first[0]);
    EXPECT_EQ(answer->value, 1080); // the screen-high font
    EXPECT_EQ(answer->flags, kCenter | kVCenter);
    // On the screen before the thread is held for the answer.
    std::vector<Kind> afterAnswer;
    for (const sim::Event& e : r.trace)
        if (e.t == 9200 && (e.kind == Kind::GdiFlush || e.kind == Kind::Sleep))
            afterAnswer.push_back(e.kind);
    EXPECT_EQ(afterAnswer, (std::vector<Kind>{Kind::GdiFlush, Kind::Sleep}));
    EXPECT_EQ(Of(r, Kind::Sleep).at(0).value, 3000);
    ASSERT_NE(answer + 1, draws.end());
    EXPECT_EQ((answer + 1)->t, 12200u);
    EXPECT_EQ((answer + 1)->text, kInstructions);
    EXPECT_TRUE(Decoded(r, 9200, 20000).empty());
    EXPECT_TRUE(sim::WarningTexts(r.trace).empty());
}

TEST(Program, StartUpOrderWindowAndFirstPaint)
{
    sim::Scenario s;
    s.screenWidth = 1280;
    s.screenHeight = 1024;
    s.closeAt = 1000;
    sim::RunResult r = RunExhibit(s);
    ASSERT_TRUE(r.returned) << r.Describe();

    // Settings, then the port and its mask, then the three fonts, all inside
    // the window's creation; then the timers, the showing and the first paint.
    std::vector<Kind> order;
    for (const sim::Event& e : r.trace)
        if (e.kind != Kind::Erase && e.kind != Kind::PaintEnd && e.kind != Kind::ClassRegistered && e.t == 0)
            if (order.empty() || order.back() != e.kind || e.kind == Kind::TimerSet)
                order.push_back(e.kind);
    EXPECT_EQ(order, (std::vector<Kind>{Kind::IniRead, Kind::PortOpen, Kind::PortMask, Kind::FontCreated,
                                        Kind::WindowCreated, Kind::TimerSet, Kind::TimerSet, Kind::WindowShown,
                                        Kind::PaintBegin, Kind::DrawText}));
    EXPECT_EQ(Of(r, Kind::IniRead).size(), 7u);

    const sim::Event created = Of(r, Kind::WindowCreated).at(0);
    EXPECT_EQ(created.text2, "Quorin_et_les_bateaux");
    EXPECT_EQ(created.text, "QUORIN et le MORSE");
    EXPECT_EQ(created.flags, kStyleMaximizedOverlapped);
    EXPECT_EQ(created.rect.left, 0);
    EXPECT_EQ(created.rect.top, 0);
    EXPECT_EQ(created.rect.right, 1280);
    EXPECT_EQ(created.rect.bottom, 1024);
    EXPECT_EQ(Of(r, Kind::WindowShown).at(0).value, kShowNormal);

    std::vector<sim::Event> timers = Of(r, Kind::TimerSet);
    ASSERT_GE(timers.size(), 2u);
    EXPECT_EQ(timers[0].id, TIMER_INACTIVITY);
    EXPECT_EQ(timers[0].value, 30000);
    EXPECT_EQ(timers[1].id, TIMER_POLL);
    EXPECT_EQ(timers[1].value, 200);

    std::vector<sim::Event> fonts = Of(r, Kind::FontCreated);
    ASSERT_EQ(fonts.size(), 3u);
    const int heights[] = {60, 1024, 90};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const LOGFONTA& f = fonts[i].font;
        EXPECT_EQ(f.lfHeight, heights[i]);
        EXPECT_EQ(f.lfWidth, 0);
        EXPECT_EQ(f.lfWeight, 100);
        EXPECT_EQ(f.lfItalic, 1);
        EXPECT_EQ(f.lfUnderline, 0);
        EXPECT_EQ(f.lfStrikeOut, 0);
        EXPECT_EQ(f.lfCharSet, 0);
        EXPECT_EQ(f.lfOutPrecision, 7);
        EXPECT_EQ(f.lfClipPrecision, 0);
        EXPECT_EQ(f.lfQuality, 0);
        EXPECT_EQ(f.lfPitchAndFamily, 0);
        EXPECT_EQ(std::string(f.lfFaceName), "Arial Italic");
    }

    // The first paint: the nine lines from the top-left corner of the
    // client area, in the 60-pixel font.
    std::vector<sim::Event> draws = sim::DrawTexts(r.trace);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].text, kInstructions);
    EXPECT_EQ(draws[0].value, 60);
    EXPECT_EQ(draws[0].flags, kVCenter);
    EXPECT_EQ(draws[0].rect.left, 0);
    EXPECT_EQ(draws[0].rect.top, 0);
    EXPECT_EQ(draws[0].rect.right, 1280 - 2 * sim::kBorder);
    EXPECT_EQ(draws[0].value2, 9 * 60);
    // The first poll comes 200 ms after the timers started.
    std::vector<sim::Event> reads = Of(r, Kind::PortRead);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads[0].t, 200u);
}

TEST(Program, TheSeedComesFromTheCalendarTime)
{
    auto firstSign = [](int64_t startTime) {
        sim::Scenario s;
        s.startTime = startTime;
        s.presses = {{kRed, 1050, 1300}};
        s.closeAt = 5000;
        return Decoded(RunExhibit(s), 1200, 5000);
    };
    EXPECT_EQ(firstSign(1700000000), firstSign(1700000000));
    // Seeds a second apart draw different signs at least sometimes.
    std::vector<std::string> signs;
    for (int64_t t = 1700000000; t < 1700000006; ++t)
        signs.push_back(firstSign(t).at(0));
    std::sort(signs.begin(), signs.end());
    EXPECT_GT(std::unique(signs.begin(), signs.end()) - signs.begin(), 1);
}

TEST(Program, NoPort)
{
    for (sim::PortState port : {sim::PortState::Absent, sim::PortState::Busy}) {
        SCOPED_TRACE(port == sim::PortState::Absent ? "absent" : "busy");
        sim::Scenario s;
        s.port = port;
        s.presses = {{kRed, 7000, 7500}};
        s.clicks = {{8000, sim::Button::Left}};
        s.closeAt = 30000;
        sim::RunResult r = RunExhibit(s);
        ASSERT_TRUE(r.returned) << r.Describe();
        EXPECT_EQ(r.exitCode, 0);

        std::vector<sim::Event> boxes = Of(r, Kind::BoxOpen);
        ASSERT_EQ(boxes.size(), 2u) << "one per run of failed reads, and the run never ends";
        // Ownerless, during the creation; then the 5 s pause after it.
        EXPECT_EQ(boxes[0].text, "error opening serial port");
        EXPECT_EQ(boxes[0].handle, 0u);
        EXPECT_EQ(boxes[0].value2, 0) << "no caption";
        EXPECT_EQ(boxes[0].flags, kIconWarning);
        EXPECT_EQ(boxes[0].t, 0u);
        std::vector<sim::Event> sleeps = Of(r, Kind::Sleep);
        ASSERT_FALSE(sleeps.empty());
        EXPECT_EQ(sleeps[0].value, 5000);
        EXPECT_EQ(sleeps[0].t, 1000u) << "after the box was dismissed";
        EXPECT_TRUE(Of(r, Kind::FontCreated).empty());
        // Shown after the pause, the instructions in the default font.
        EXPECT_EQ(Of(r, Kind::WindowShown).at(0).t, 6000u);
        std::vector<sim::Event> draws = sim::DrawTexts(r.trace);
        ASSERT_FALSE(draws.empty());
        EXPECT_EQ(draws[0].text, kInstructions);
        EXPECT_EQ(draws[0].handle, 0u) << "the default font";
        // The first poll warns, owned by the window; no button, no click acts.
        EXPECT_EQ(boxes[1].text, "GetCommModemStatus failed");
        EXPECT_NE(boxes[1].handle, 0u);
        EXPECT_EQ(boxes[1].t, 6200u);
        EXPECT_TRUE(sim::RtsUpIntervals(r.trace).empty());
        EXPECT_TRUE(sim::DtrUpIntervals(r.trace).empty());
        for (const std::string& t : Drawn(r))
            EXPECT_EQ(t, kInstructions);
        // Shut-down closes the invalid handle and completes.
        std::vector<sim::Event> closes = Of(r, Kind::PortClose);
        ASSERT_EQ(closes.size(), 1u);
        EXPECT_FALSE(closes[0].ok);
    }
}

TEST(Program, ReadFailureWarningsOnePerRunNeverTwoAtOnce)
{
    struct Case {
        const char* what;
        std::vector<Interval> failures;
        Ms boxOpen;
        std::vector<Ms> boxesAt;
    };
    const Case cases[] = {
        {"two runs, short boxes", {{1000, 3000}, {5000, 6000}}, 500, {1000, 5000}},
        {"a run of one read", {{1150, 1250}}, 500, {1200}},
        // The first box stays open over the end of the first run and the start
        // of the second; the second run gets its box once the first is gone.
        {"second run begins under the open box", {{1000, 1500}, {2000, 9000}}, 4000, {1000, 5000}},
        {"a run that ends under the open box gets none", {{1000, 1500}, {2000, 2500}}, 4000, {1000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Scenario s;
        s.readFails = sim::FailReadsDuring(c.failures);
        s.boxOpenMs = c.boxOpen;
        s.closeAt = 15000;
        sim::RunResult r = RunExhibit(s);
        ASSERT_TRUE(r.returned) << r.Describe();
        std::vector<Ms> at;
        for (const sim::Event& e : Of(r, Kind::BoxOpen)) {
            EXPECT_EQ(e.text, "GetCommModemStatus failed");
            EXPECT_EQ(e.value, 1) << "never nested in another box";
            at.push_back(e.t);
        }
        EXPECT_EQ(at, c.boxesAt);
    }
}

TEST(Program, SetCommMaskFailureIsReportedAndTheExhibitGoesOn)
{
    sim::Scenario s;
    s.setCommMaskFails = true;
    s.presses = {{kRed, 2000, 2300}};
    s.closeAt = 6000;
    sim::RunResult r = RunExhibit(s);
    ASSERT_TRUE(r.returned) << r.Describe();
    std::vector<sim::Event> boxes = Of(r, Kind::BoxOpen);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "SetCommMask failed");
    EXPECT_EQ(boxes[0].handle, 0u);
    EXPECT_EQ(Of(r, Kind::PortMask).at(0).value, 0x38);
    EXPECT_EQ(Of(r, Kind::FontCreated).size(), 3u);
    EXPECT_EQ(Decoded(r, 2000, 6000).size(), 1u);
}

TEST(Program, MouseButtonsDriveDtrAndNothingElse)
{
    sim::Scenario s;
    s.clicks = {{1000, sim::Button::Left},
                {1500, sim::Button::Left}, // twice: stays up
                {2000, sim::Button::Right},
                {2500, sim::Button::Left, sim::Area::Caption, {400, 10}},
                {3000, sim::Button::Right, sim::Area::Caption, {400, 10}},
                {3500, sim::Button::Left}};
    s.closeAt = 5000;
    sim::RunResult r = RunExhibit(s);
    ASSERT_TRUE(r.returned) << r.Describe();
    EXPECT_EQ(sim::DtrUpIntervals(r.trace), (std::vector<Interval>{{1000, 2000}, {3500, sim::kNever}}));
    std::vector<Ms> dtrCalls;
    for (const sim::Event& e : Of(r, Kind::Dtr))
        dtrCalls.push_back(e.t);
    EXPECT_EQ(dtrCalls, (std::vector<Ms>{1000, 1500, 2000, 3500}));
    EXPECT_EQ(Of(r, Kind::PaintBegin).size(), 1u) << "only the first paint";
    EXPECT_TRUE(sim::RtsUpIntervals(r.trace).empty());
}

TEST(Program, CloseStopsTimersClosesThePortAndExitsWithZero)
{
    sim::Scenario s;
    s.presses = {{kRed, 1000, 1300}};
    s.clicks = {{1100, sim::Button::Left}};
    s.closeAt = 1450; // during the sign's first symbols
    sim::RunResult r = RunExhibit(s);
    ASSERT_TRUE(r.returned) << r.Describe();
    EXPECT_EQ(r.exitCode, 0);
    std::vector<UINT_PTR> killed;
    for (const sim::Event& e : Of(r, Kind::TimerKilled))
        if (e.t == 1450)
            killed.push_back(e.id);
    EXPECT_EQ(killed, (std::vector<UINT_PTR>{1, 2, 3}));
    std::vector<sim::Event> closes = Of(r, Kind::PortClose);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_TRUE(closes[0].ok);
    EXPECT_EQ(closes[0].t, 1450u);
    EXPECT_EQ(Of(r, Kind::Quit).at(0).value, 0);
    // The lines stay as they were left: nothing drops them at shut-down.
    EXPECT_EQ(sim::DtrUpIntervals(r.trace).back().to, sim::kNever);
    for (const sim::Event& e : Of(r, Kind::Rts))
        EXPECT_LE(e.t, 1450u);
}

TEST(Program, ClosingWhileAWarningIsOpenDismissesTheWarningFirst)
{
    // No port: the read-failure box is open from 6200 to 7200.
    sim::Scenario s;
    s.port = sim::PortState::Absent;
    s.closeAt = 6500;
    sim::RunResult r = RunExhibit(s);
    ASSERT_TRUE(r.returned) << r.Describe();
    EXPECT_EQ(r.exitCode, 0);
    std::vector<sim::Event> boxes = Of(r, Kind::BoxClose);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "GetCommModemStatus failed");
    EXPECT_EQ(boxes[1].t, 6500u);
    EXPECT_EQ(Of(r, Kind::PortClose).at(0).t, 6500u);
    EXPECT_EQ(r.endTime, 6500u);
}

TEST(Program, ATimerThatCannotStartAtCreationEndsTheProgram)
{
    for (UINT_PTR failing : {TIMER_INACTIVITY, TIMER_POLL}) {
        SCOPED_TRACE(failing);
        sim::Scenario s;
        s.setTimerFails = [failing](UINT_PTR id, Ms, uint64_t) { return id == failing; };
        sim::RunResult r = RunExhibit(s);
        ASSERT_TRUE(r.returned) << r.Describe();
        EXPECT_EQ(r.exitCode, 0);
        std::vector<sim::Event> boxes = Of(r, Kind::BoxOpen);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Too many timers");
        EXPECT_NE(boxes[0].handle, 0u) << "owned by the hidden window";
        EXPECT_TRUE(Of(r, Kind::WindowShown).empty());
        EXPECT_TRUE(Of(r, Kind::PaintBegin).empty());
        EXPECT_TRUE(Of(r, Kind::PortClose).empty()) << "nothing is released by the program";
    }
}

TEST(Program, PaintsInEachPhase)
{
    // A failed read opens a box over the window; its dismissal asks for a
    // paint of the area under it. In Prompt that paint redraws the prompt
    // and sends a step; in Replay it draws nothing.
    struct Case {
        const char* what;
        std::vector<sim::Press> presses;
        std::vector<std::string> drawnAtDismissal;
    };
    const Case cases[] = {
        {"Idle", {}, {kInstructions}},
        {"Prompt", {{kRed, 1000, 1300}}, {kPrompt}},
        {"Replay", {{kRed, 1000, 1300}, {kBlue, 2000, 2300}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Scenario s;
        s.presses = c.presses;
        s.readFails = sim::FailReadsDuring({{9900, 10100}});
        s.boxOpenMs = 500;
        s.closeAt = 12000;
        sim::RunResult r = RunExhibit(s);
        ASSERT_TRUE(r.returned) << r.Describe();
        std::vector<sim::Event> paints;
        for (const sim::Event& e : Of(r, Kind::PaintBegin))
            if (e.t == 10500)
                paints.push_back(e);
        ASSERT_EQ(paints.size(), 1u);
        EXPECT_TRUE(paints[0].ok) << "erased first";
        EXPECT_EQ(Drawn(r, 10500, 10501), c.drawnAtDismissal);
        for (const sim::Event& e : sim::DrawTexts(r.trace)) {
            if (e.text == kPrompt) {
                EXPECT_EQ(e.value, 90);
                EXPECT_EQ(e.flags, kVCenter);
                EXPECT_EQ(e.value2, 6 * 90);
            }
        }
    }
}

TEST(Program, NegativeAnswerTimeShowsTheInstructionsAtOnce)
{
    std::string ini = kSettings;
    ini.replace(ini.find("DUREE_AFF_LETTRE=3000"), 21, "DUREE_AFF_LETTRE=-1");
    sim::Scenario s;
    s.presses = {{kRed, 1050, 1300}, {kGreen, 3050, 3300}};
    s.closeAt = 5000;
    sim::RunResult r = RunExhibit(s, ini.c_str());
    ASSERT_TRUE(r.returned) << r.Describe();
    EXPECT_EQ(Drawn(r, 3200, 3201).size(), 2u) << "the answer, then the instructions, in the same instant";
    EXPECT_EQ(Of(r, Kind::Sleep).at(0).value, 0);
}

TEST(Program, NoSettingsFileRunsWithAllZero)
{
    sim::Scenario s;
    s.presses = {{kRed, 1000, 1300}};
    s.closeAt = 3000;
    sim::RunResult r = RunExhibit(s, nullptr);
    ASSERT_TRUE(r.returned) << r.Describe();
    EXPECT_EQ(r.exitCode, 0);
    // The inactivity timer at the minimum period; marks of 10 ms.
    EXPECT_EQ(Of(r, Kind::TimerSet).at(0).value2, 10);
    for (const Interval& i : sim::RtsUpIntervals(r.trace))
        EXPECT_EQ(i.to - i.from, 10u);
}

// In the test process itself: messages no handler is for.
TEST(Program, UnknownTimerIdsAndKeysDoNothing)
{
    sim::Scenario s;
    sim::Reset(s);
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x400000);
    ASSERT_NE(RegisterMainClass(instance), 0);
    ASSERT_TRUE(CreateMainWindow(instance, SW_SHOWDEFAULT));
    size_t before = sim::Trace().size();
    EXPECT_EQ(MainWindowProc(exhibit.hWnd, WM_TIMER, 0, 0), 0);
    EXPECT_EQ(MainWindowProc(exhibit.hWnd, WM_TIMER, 6, 0), 0);
    EXPECT_EQ(MainWindowProc(exhibit.hWnd, WM_TIMER, 0x7FFF, 0), 0);
    EXPECT_EQ(MainWindowProc(exhibit.hWnd, WM_KEYDOWN, 'R', 0), 0);
    EXPECT_EQ(sim::Trace().size(), before);
}

TEST(ScreenTexts, ExactWindows1252Bytes)
{
    struct Case { std::string text; size_t bytes; size_t lines; };
    const Case cases[] = {{kInstructions, 267, 9}, {kPrompt, 116, 6}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.text.size(), c.bytes);
        EXPECT_EQ(static_cast<size_t>(std::count(c.text.begin(), c.text.end(), '\n')) + 1, c.lines);
        EXPECT_EQ(c.text.find('\r'), std::string::npos);
        for (unsigned char ch : c.text)
            EXPECT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7F) || ch == 0xE9 || ch == 0xE0) << int(ch);
    }
    EXPECT_EQ(kInstructions.substr(0, 34), "Veuillez presser la touche rouge \n");
    EXPECT_EQ(kInstructions.substr(34, 7), "pour \xE9m");
    EXPECT_NE(kInstructions.find("r\xE9" "f\xE9" "rant \xE0 la feuille de \n"), std::string::npos);
    EXPECT_EQ(kInstructions.substr(kInstructions.size() - 11), "la r\xE9ponse.");
    EXPECT_EQ(kPrompt.substr(kPrompt.size() - 16), "\nla touche verte");
}

} // namespace
