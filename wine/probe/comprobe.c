/*
 * comprobe: a small Windows program for checking the Wine rig.
 *
 * It runs its arguments as a list of operations, in order, printing one
 * line per operation on stdout:
 *
 *   open            CreateFileA("COM1") as the exhibit opens it
 *   mask            SetCommMask(EV_CTS | EV_DSR | EV_RLSD)
 *   status          GetCommModemStatus
 *   rts 0|1         EscapeCommFunction CLRRTS / SETRTS
 *   dtr 0|1         EscapeCommFunction CLRDTR / SETDTR
 *   watch MS N      N status reads MS apart; prints only changes
 *   sleep MS        Sleep
 *   close           CloseHandle
 *   font            which face Wine gives the exhibit's font description
 *   box TEXT        an ownerless warning box, as the exhibit shows them
 *   ini KEY         the value of KEY in section MORSE of c:\quorin.ini
 *   window TITLE    a full-screen window like the exhibit's: opens COM1 in
 *                   WM_CREATE (warning box on failure), polls the inputs
 *                   every 200 ms, mirrors DSR on RTS, drives DTR from the
 *                   mouse buttons; runs until the window is closed
 *   list            the visible top-level windows of the desktop, with the
 *                   texts of their child controls (message box contents)
 *   post TITLE      WM_CLOSE to the top-level window with that title
 *   exit N          the process exit code (default 0)
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static HANDLE comm = INVALID_HANDLE_VALUE;
static int exit_code = 0;

static void out(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    fflush(stdout);
}

static void open_port(void)
{
    comm = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (comm == INVALID_HANDLE_VALUE)
        out("open failed error=%lu\n", GetLastError());
    else
        out("open ok\n");
}

static DWORD read_status(BOOL *ok)
{
    DWORD bits = 0;
    *ok = GetCommModemStatus(comm, &bits);
    return bits;
}

static void print_status(DWORD bits)
{
    out("status 0x%02lx CTS=%d DSR=%d RING=%d RLSD=%d\n", bits, !!(bits & MS_CTS_ON),
        !!(bits & MS_DSR_ON), !!(bits & MS_RING_ON), !!(bits & MS_RLSD_ON));
}

static void escape(const char *line, DWORD raise, DWORD drop, const char *arg)
{
    int up = atoi(arg) != 0;
    BOOL ok = EscapeCommFunction(comm, up ? raise : drop);
    if (ok)
        out("%s %d ok\n", line, up);
    else
        out("%s %d failed error=%lu\n", line, up, GetLastError());
}

static void fill_font(LOGFONTA *lf, LONG height)
{
    memset(lf, 0, sizeof *lf);
    lf->lfHeight = height;
    lf->lfWeight = FW_THIN;
    lf->lfItalic = 1;
    lf->lfOutPrecision = OUT_TT_ONLY_PRECIS;
    strcpy(lf->lfFaceName, "Arial Italic");
}

static void report_font(void)
{
    LOGFONTA lf;
    fill_font(&lf, 60);
    HFONT font = CreateFontIndirectA(&lf);
    HDC dc = GetDC(NULL);
    HGDIOBJ old = SelectObject(dc, font);
    char face[LF_FACESIZE] = "";
    GetTextFaceA(dc, sizeof face, face);
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    char full[256] = "?";
    UINT need = GetOutlineTextMetricsA(dc, 0, NULL);
    if (need) {
        OUTLINETEXTMETRICA *otm = malloc(need);
        if (otm && GetOutlineTextMetricsA(dc, need, otm))
            snprintf(full, sizeof full, "%s", (char *)otm + (size_t)otm->otmpFullName);
        free(otm);
    }
    out("font face=\"%s\" full=\"%s\" height=%ld weight=%ld italic=%d\n", face, full,
        tm.tmHeight, tm.tmWeight, tm.tmItalic);
    SelectObject(dc, old);
    ReleaseDC(NULL, dc);
    DeleteObject(font);
}

/* ---- window mode ---- */

static HFONT window_font;
static DWORD shown_bits;
static BOOL shown_ok;
static int dtr_level = -1;
static int rts_level = -1;

static LRESULT CALLBACK window_proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_CREATE: {
        open_port();
        if (comm == INVALID_HANDLE_VALUE) {
            MessageBoxA(NULL, "error opening serial port", NULL, MB_ICONWARNING);
            return 0;
        }
        LOGFONTA lf;
        fill_font(&lf, 60);
        window_font = CreateFontIndirectA(&lf);
        return 0;
    }
    case WM_TIMER: {
        BOOL ok;
        DWORD bits = read_status(&ok);
        if (ok && (!shown_ok || bits != shown_bits))
            print_status(bits);
        /* RTS follows DSR, so a test can time the whole loop button -> poll -> line. */
        int dsr = ok && (bits & MS_DSR_ON);
        if (ok && dsr != rts_level) {
            rts_level = dsr;
            EscapeCommFunction(comm, dsr ? SETRTS : CLRRTS);
        }
        if (ok != shown_ok || bits != shown_bits) {
            shown_ok = ok;
            shown_bits = bits;
            InvalidateRect(wnd, NULL, TRUE);
        }
        return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        dtr_level = msg == WM_LBUTTONDOWN;
        EscapeCommFunction(comm, dtr_level ? SETDTR : CLRDTR);
        out("mouse %s dtr %d\n", dtr_level ? "left" : "right", dtr_level);
        InvalidateRect(wnd, NULL, TRUE);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(wnd, &ps);
        RECT rect;
        GetClientRect(wnd, &rect);
        SelectObject(dc, window_font);
        char text[256];
        snprintf(text, sizeof text,
                 "Gr\xe9" "en CTS=%d\nRouge DSR=%d\nBleu RLSD=%d\nRI=%d\nDTR=%d\n%s",
                 !!(shown_bits & MS_CTS_ON), !!(shown_bits & MS_DSR_ON),
                 !!(shown_bits & MS_RLSD_ON), !!(shown_bits & MS_RING_ON), dtr_level,
                 shown_ok ? "" : "lecture impossible");
        DrawTextA(dc, text, -1, &rect, DT_VCENTER);
        EndPaint(wnd, &ps);
        return 0;
    }
    case WM_DESTROY:
        KillTimer(wnd, 2);
        if (comm != INVALID_HANDLE_VALUE)
            CloseHandle(comm);
        comm = INVALID_HANDLE_VALUE;
        out("destroy\n");
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(wnd, msg, wp, lp);
}

static void run_window(const char *title)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = window_proc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = "comprobe_window";
    RegisterClassA(&wc);
    HWND wnd = CreateWindowExA(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW | WS_MAXIMIZE, 0,
                               0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                               NULL, NULL, wc.hInstance, NULL);
    if (!wnd) {
        out("window failed error=%lu\n", GetLastError());
        return;
    }
    SetTimer(wnd, 2, 200, NULL);
    ShowWindow(wnd, SW_SHOWNORMAL);
    UpdateWindow(wnd);
    out("window shown\n");
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    out("window closed\n");
}

/* ---- desktop inspection ---- */

static BOOL CALLBACK print_child(HWND child, LPARAM unused)
{
    (void)unused;
    char cls[64] = "", text[512] = "";
    GetClassNameA(child, cls, sizeof cls);
    GetWindowTextA(child, text, sizeof text);
    if (text[0] && IsWindowVisible(child))
        out("  child %s \"%s\"\n", cls, text);
    return TRUE;
}

static BOOL CALLBACK print_top(HWND wnd, LPARAM unused)
{
    (void)unused;
    if (!IsWindowVisible(wnd))
        return TRUE;
    char cls[64] = "", title[256] = "";
    GetClassNameA(wnd, cls, sizeof cls);
    GetWindowTextA(wnd, title, sizeof title);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    HWND owner = GetWindow(wnd, GW_OWNER);
    out("window %p pid=%lu owner=%p class=%s title=\"%s\"\n", (void *)wnd, pid, (void *)owner,
        cls, title);
    EnumChildWindows(wnd, print_child, 0);
    return TRUE;
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const char *op = argv[i];
        const char *arg = i + 1 < argc ? argv[i + 1] : "0";
        if (!strcmp(op, "open")) {
            open_port();
        } else if (!strcmp(op, "mask")) {
            if (SetCommMask(comm, EV_CTS | EV_DSR | EV_RLSD))
                out("mask ok\n");
            else
                out("mask failed error=%lu\n", GetLastError());
        } else if (!strcmp(op, "status")) {
            BOOL ok;
            DWORD bits = read_status(&ok);
            if (ok)
                print_status(bits);
            else
                out("status failed error=%lu\n", GetLastError());
        } else if (!strcmp(op, "rts")) {
            escape("rts", SETRTS, CLRRTS, arg);
            i++;
        } else if (!strcmp(op, "dtr")) {
            escape("dtr", SETDTR, CLRDTR, arg);
            i++;
        } else if (!strcmp(op, "watch")) {
            int ms = atoi(arg), n = i + 2 < argc ? atoi(argv[i + 2]) : 1;
            BOOL ok, was_ok = FALSE;
            DWORD was = 0;
            for (int k = 0; k < n; k++) {
                DWORD bits = read_status(&ok);
                if (k == 0 || ok != was_ok || bits != was) {
                    out("t=%lu ", GetTickCount());
                    if (ok)
                        print_status(bits);
                    else
                        out("status failed error=%lu\n", GetLastError());
                }
                was = bits;
                was_ok = ok;
                Sleep(ms);
            }
            i += 2;
        } else if (!strcmp(op, "sleep")) {
            Sleep(atoi(arg));
            i++;
        } else if (!strcmp(op, "close")) {
            out(CloseHandle(comm) ? "close ok\n" : "close failed\n");
            comm = INVALID_HANDLE_VALUE;
        } else if (!strcmp(op, "font")) {
            report_font();
        } else if (!strcmp(op, "box")) {
            int r = MessageBoxA(NULL, arg, NULL, MB_ICONWARNING);
            out("box result=%d\n", r);
            i++;
        } else if (!strcmp(op, "ini")) {
            char value[64];
            GetPrivateProfileStringA("MORSE", arg, "<none>", value, sizeof value, "c:\\quorin.ini");
            out("ini %s=%s\n", arg, value);
            i++;
        } else if (!strcmp(op, "window")) {
            run_window(arg);
            i++;
        } else if (!strcmp(op, "list")) {
            EnumWindows(print_top, 0);
            out("list end\n");
        } else if (!strcmp(op, "post")) {
            HWND wnd = FindWindowA(NULL, arg);
            out(wnd && PostMessageA(wnd, WM_CLOSE, 0, 0) ? "post ok\n" : "post failed\n");
            i++;
        } else if (!strcmp(op, "exit")) {
            exit_code = atoi(arg);
            i++;
        } else {
            out("unknown operation %s\n", op);
            return 99;
        }
    }
    return exit_code;
}
