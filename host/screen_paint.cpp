// The screen: instructions in Idle, the prompt in Prompt, the answer
// character at the height of the screen in Answer. Painting is also a step of
// the behaviour: the prompt sends a symbol step, the answer holds the thread.
#include "host.h"

#include <cstring>

// Windows-1252 bytes, line feeds only; the blanks before the breaks belong to
// the texts.
const char textInstructions[] =
    "Veuillez presser la touche rouge \n"
    "pour \351mettre un signe en morse.\n"
    "Trouvez en la signification en vous \n"
    "r\351f\351rant \340 la feuille de \n"
    "correspondance situ\351e devant \n"
    "le bouton.\n"
    "Ensuite pressez la touche bleue \n"
    "pour r\351p\351ter le signe ou la touche \n"
    "verte pour avoir la r\351ponse.";

const char textPrompt[] =
    "Pour r\351p\351ter le signe \n"
    "pressez la touche \n"
    "bleue, pour avoir la \n"
    "bonne r\351ponse \n"
    "veuillez appuyer sur \n"
    "la touche verte";

static LOGFONTA fontDescription;
static HFONT fontInstructions;
static HFONT fontAnswer;
static HFONT fontPrompt;

void CreateScreenFonts()
{
    fontDescription.lfWeight = FW_THIN;
    fontDescription.lfItalic = 1;
    fontDescription.lfOutPrecision = OUT_TT_ONLY_PRECIS;
    std::memcpy(fontDescription.lfFaceName, "Arial Italic", sizeof "Arial Italic");

    fontDescription.lfHeight = 60;
    fontInstructions = CreateFontIndirectA(&fontDescription);
    fontDescription.lfHeight = GetSystemMetrics(SM_CYSCREEN);
    fontAnswer = CreateFontIndirectA(&fontDescription);
    fontDescription.lfHeight = 90;
    fontPrompt = CreateFontIndirectA(&fontDescription);
}

LRESULT HandlePaint()
{
    PAINTSTRUCT ps;
    RECT rect;
    HDC hdc = BeginPaint(exhibit.hWnd, &ps);
    GetClientRect(exhibit.hWnd, &rect);

    // Without DT_SINGLELINE, DT_VCENTER does nothing: the texts start at the
    // top of the client area.
    switch (exhibit.phase) {
    case Idle:
        SelectObject(hdc, fontInstructions);
        DrawTextA(hdc, textInstructions, -1, &rect, DT_VCENTER);
        break;
    case Prompt:
        SelectObject(hdc, fontPrompt);
        DrawTextA(hdc, textPrompt, -1, &rect, DT_VCENTER);
        SendMessageA(exhibit.hWnd, WM_USER, 0, 0);
        break;
    case Answer: {
        char letter[2] = {SignCharacter(exhibit.signIndex), '\0'};
        SelectObject(hdc, fontAnswer);
        DrawTextA(hdc, letter, -1, &rect, DT_CENTER | DT_VCENTER);
        // Drawing may be batched until the paint ends; the hold below must
        // show the character, so push it to the screen first.
        GdiFlush();
        Sleep(NonNegativeMs(settings.DUREE_AFF_LETTRE));
        exhibit.phase = Idle;
        RepaintNow(); // the instructions, painted inside this paint
        break;
    }
    default:
        break; // Replay: the area keeps only the white background
    }

    EndPaint(exhibit.hWnd, &ps);
    return 0;
}
