// COM1 used as control lines only: CTS, DSR and RLSD are the buttons, RTS
// keys the sign device, DTR follows the mouse. No data, no line settings.
#include "host.h"

constexpr DWORD OPEN_FAILURE_PAUSE_MS = 5000;

// A failing port fails every poll, and each warning box keeps polling while
// it is open: warn once per run of failed reads, never twice at once.
static bool readFailureWarned = false;
static bool readWarningOpen = false;

bool OpenCommPort()
{
    exhibit.hComm = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (exhibit.hComm == INVALID_HANDLE_VALUE) {
        ShowWarning("error opening serial port");
        Sleep(OPEN_FAILURE_PAUSE_MS);
        return false;
    }
    if (!SetCommMask(exhibit.hComm, EV_CTS | EV_DSR | EV_RLSD))
        ShowWarning("SetCommMask failed");
    return true;
}

bool ReadLineState()
{
    exhibit.lineState = 0;
    if (!GetCommModemStatus(exhibit.hComm, &exhibit.lineState)) {
        // A run that begins while the box is open gets its own box at its
        // next failed read after the box is dismissed.
        if (!readFailureWarned && !readWarningOpen) {
            readFailureWarned = true;
            readWarningOpen = true;
            ShowWarning("GetCommModemStatus failed");
            readWarningOpen = false;
        }
        return false;
    }
    readFailureWarned = false;
    return true;
}

void SetSignLine(bool raised)
{
    EscapeCommFunction(exhibit.hComm, raised ? SETRTS : CLRRTS);
}

void SetDtrLine(bool raised)
{
    EscapeCommFunction(exhibit.hComm, raised ? SETDTR : CLRDTR);
}

void CloseCommPort()
{
    CloseHandle(exhibit.hComm);
}
