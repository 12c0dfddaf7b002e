// Shared state, settings, phases, timer ids and helpers of the exhibit.
//
// The program is one module of plain functions over global state. Everything
// runs on the GUI thread; handlers nest through SendMessageA, UpdateWindow and
// the message loops of modal warning boxes, so every handler reads the state
// as it stands when it runs.
#pragma once

#include <windows.h>

#include <cstdint>

// ---------------------------------------------------------------- sign table

constexpr int SIGN_COUNT = 36;       // rows: A..Z, then 1..9, then 0
constexpr int SIGN_MAX_SYMBOLS = 5;  // a row holds 1 to 5 symbols

// Position 0 is the character, positions 1..5 the symbols ('.' or '-'),
// NUL after the last one. The digit rows fill all six bytes.
typedef char SignEntry[1 + SIGN_MAX_SYMBOLS];

extern const SignEntry SignTable[SIGN_COUNT];

char SignCharacter(int row);
// '.', '-' or NUL; NUL for any position outside 1..5.
char SignSymbolAt(int row, int pos);

// ------------------------------------------------------ settings and state

// Milliseconds, except MORSE_AUTO (0 off, anything else on). Filled once by
// ReadExhibitSettings; read-only afterwards.
struct ExhibitSettings {
    int32_t DUREE_POINT;
    int32_t DUREE_TRAIT;
    int32_t DUREE_SILENCE;
    int32_t DUREE_INACTIF;
    int32_t DUREE_INTER_SIGNAL_AUTO;
    int32_t DUREE_AFF_LETTRE;
    int32_t MORSE_AUTO;
};

enum ExhibitPhase : uint8_t { Idle = 0, Prompt = 1, Replay = 2, Answer = 3 };

struct ExhibitState {
    ExhibitPhase phase = Idle;
    int16_t signIndex = 0;      // current row of SignTable
    int16_t symbolPos = 1;      // position within that row; 1..5 are symbols
    uint8_t autoRun = 0;        // the attract mode drives playback; only in Idle
    DWORD lineState = 0;        // modem-status word of the latest read
    DWORD prevLineState = 0;    // word of the last successful poll
    HWND hWnd = nullptr;        // main window; null until CreateWindowExA returns
    HINSTANCE hInst = nullptr;
    HANDLE hComm = nullptr;     // serial port
};

extern ExhibitSettings settings;
extern ExhibitState exhibit;

// ------------------------------------------------------------------- timers

constexpr UINT_PTR TIMER_INACTIVITY = 1;
constexpr UINT_PTR TIMER_POLL = 2;
constexpr UINT_PTR TIMER_AUTO_NEXT = 3;
constexpr UINT_PTR TIMER_MARK_END = 4;
constexpr UINT_PTR TIMER_SPACE_END = 5;

constexpr int32_t POLL_PERIOD_MS = 200;

// A negative duration counts as 0: read as unsigned it would hold the sign
// line for weeks or block the thread for good.
inline UINT NonNegativeMs(int32_t ms) { return ms < 0 ? 0u : static_cast<UINT>(ms); }

// ------------------------------------------------------------------ helpers

// SetTimer on the main window; warns "Too many timers" when it fails. The
// caller decides whether to go on.
bool ArmTimer(UINT_PTR id, int32_t ms);

// Invalidates the whole client area with erasing, then paints it at once.
void RepaintNow();

// Plays row signIndex from its first symbol: the first step has run on return.
void StartSign();

// The warning box of every failure: owned by hWnd (null during WM_CREATE),
// default caption, warning icon.
void ShowWarning(const char* text);

// Pseudo-random numbers 0..32767, the same sequence on every platform.
void SeedRandom(uint32_t seed);
int NextRandom();

// ------------------------------------------------------------- core handlers

void HandleSymbolStep();
void HandleMarkEndTimer();
void HandleSpaceEndTimer();

void HandlePollTimer();
void HandleInactivityTimer();
void HandleAutoNextTimer();
void DrawRandomSign();

void ReadExhibitSettings();
// The decimal conversion applied to each settings value.
int32_t SettingValue(const char* text);

// ---------------------------------------------- port operations (host side)

// Sets lineState to the modem-status word and returns true, or warns and
// returns false.
bool ReadLineState();
// Raises (true) or drops (false) RTS, the sign line.
void SetSignLine(bool raised);
