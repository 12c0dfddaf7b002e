// Entry point, the main window and the routing of its messages. Everything
// runs on this one thread; handlers nest through SendMessageA, UpdateWindow
// and the loops of modal warning boxes.
#include "host.h"

#include <ctime>

static const char CLASS_NAME[] = "Quorin_et_les_bateaux";
static const char WINDOW_TITLE[] = "QUORIN et le MORSE";

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    if (RegisterMainClass(instance) == 0)
        return 0;
    if (!CreateMainWindow(instance, showCommand))
        return 0;

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

ATOM RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSA wc = {};
    wc.style = 0; // no full repaint on resize, no double clicks
    wc.lpfnWndProc = MainWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = CLASS_NAME;
    return RegisterClassA(&wc);
}

// The show command is not used: the exhibit always comes up full screen.
BOOL CreateMainWindow(HINSTANCE instance, int)
{
    exhibit.hInst = instance;
    // WM_CREATE runs inside this call, while hWnd is still null.
    exhibit.hWnd = CreateWindowExA(0, CLASS_NAME, WINDOW_TITLE, WS_MAXIMIZE | WS_OVERLAPPEDWINDOW, 0, 0,
                                   GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                                   nullptr, exhibit.hInst, nullptr);
    if (exhibit.hWnd == nullptr)
        return FALSE;
    if (!ArmTimer(TIMER_INACTIVITY, settings.DUREE_INACTIF))
        return FALSE;
    if (!ArmTimer(TIMER_POLL, POLL_PERIOD_MS))
        return FALSE;
    ShowWindow(exhibit.hWnd, SW_SHOWNORMAL);
    UpdateWindow(exhibit.hWnd);
    return TRUE;
}

static LRESULT HandleCreate()
{
    SeedRandom(static_cast<uint32_t>(std::time(nullptr)));
    ReadExhibitSettings();
    if (!OpenCommPort())
        return 0; // no fonts: the texts come in the default font
    CreateScreenFonts();
    return 0;
}

static LRESULT HandleDestroy()
{
    // The sign player's timers end with the window.
    KillTimer(exhibit.hWnd, TIMER_INACTIVITY);
    KillTimer(exhibit.hWnd, TIMER_POLL);
    KillTimer(exhibit.hWnd, TIMER_AUTO_NEXT);
    CloseCommPort();
    PostQuitMessage(0);
    return 0;
}

static LRESULT HandleTimer(WPARAM id)
{
    switch (id) {
    case TIMER_INACTIVITY: HandleInactivityTimer(); break;
    case TIMER_POLL: HandlePollTimer(); break;
    case TIMER_AUTO_NEXT: HandleAutoNextTimer(); break;
    case TIMER_MARK_END: HandleMarkEndTimer(); break;
    case TIMER_SPACE_END: HandleSpaceEndTimer(); break;
    default: break;
    }
    return 0;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return HandleCreate();
    case WM_DESTROY: return HandleDestroy();
    case WM_PAINT: return HandlePaint();
    case WM_TIMER: return HandleTimer(wParam);
    case WM_USER: HandleSymbolStep(); return 0;
    case WM_LBUTTONDOWN: SetDtrLine(true); return 0;
    case WM_RBUTTONDOWN: SetDtrLine(false); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}
