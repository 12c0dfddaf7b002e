// Painting and GDI: paint device contexts, fonts and text.
#include "sim_state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

const LOGFONTA* FontOf(HFONT font) {
    uintptr_t v = HandleValue(font);
    const std::vector<LOGFONTA>& fonts = S().fonts;
    if (v <= kFontBase || v > kFontBase + fonts.size()) return nullptr;
    return &fonts[v - kFontBase - 1];
}

DeviceContext* FindDc(HDC dc) {
    auto it = S().dcs.find(HandleValue(dc));
    return it == S().dcs.end() ? nullptr : &it->second;
}

}  // namespace

HDC WINAPI BeginPaint(HWND hwnd, LPPAINTSTRUCT ps) {
    State& s = S();
    Window* w = LiveWindow(hwnd);
    if (!w || !ps) return nullptr;
    RECT area = w->invalid;
    bool erase = w->erase;
    w->invalid = RECT{};
    w->erase = false;

    HDC dc = ToHandle<HDC>(kDcBase + (++s.dcSerial & kDcMask));
    s.dcs[HandleValue(dc)] = DeviceContext{hwnd, nullptr, area};
    Event e;
    e.kind = Kind::PaintBegin;
    e.handle = HandleValue(hwnd);
    e.id = HandleValue(dc);
    e.rect = area;
    e.ok = erase;
    e.value = ++s.paintDepth;
    Record(e);

    BOOL mustErase = FALSE;
    if (erase) mustErase = SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) ? FALSE : TRUE;
    *ps = PAINTSTRUCT{};
    ps->hdc = dc;
    ps->fErase = mustErase;
    ps->rcPaint = area;
    return dc;
}

BOOL WINAPI EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
    State& s = S();
    if (!ps || !FindDc(ps->hdc)) return FALSE;
    Event e;
    e.kind = Kind::PaintEnd;
    e.handle = HandleValue(hwnd);
    e.id = HandleValue(ps->hdc);
    e.value = s.paintDepth--;
    s.dcs.erase(HandleValue(ps->hdc));
    Record(e);
    return TRUE;
}

HGDIOBJ WINAPI GetStockObject(int i) {
    return i == WHITE_BRUSH ? ToHandle<HGDIOBJ>(kStockBase + WHITE_BRUSH) : nullptr;
}

HFONT WINAPI CreateFontIndirectA(const LOGFONTA* lf) {
    State& s = S();
    int index = s.fontCalls++;
    Event e;
    e.kind = Kind::FontCreated;
    e.ok = lf && !(s.sc.createFontFails && s.sc.createFontFails(index));
    if (lf) {
        e.font = *lf;
        e.value = lf->lfHeight;
        e.text.assign(lf->lfFaceName, strnlen(lf->lfFaceName, LF_FACESIZE));
    }
    HFONT font = nullptr;
    if (e.ok) {
        s.fonts.push_back(*lf);
        font = ToHandle<HFONT>(kFontBase + s.fonts.size());
        e.handle = HandleValue(font);
    }
    Record(e);
    return font;
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    DeviceContext* d = FindDc(dc);
    HFONT font = static_cast<HFONT>(object);
    bool isDefault = HandleValue(object) == kDefaultFont;
    if (!d || (!isDefault && !FontOf(font))) return nullptr;
    HGDIOBJ previous = d->font ? static_cast<HGDIOBJ>(d->font) : ToHandle<HGDIOBJ>(kDefaultFont);
    d->font = isDefault ? nullptr : font;
    return previous;
}

BOOL WINAPI GdiFlush(void) {
    Event e;
    e.kind = Kind::GdiFlush;
    Record(e);
    return TRUE;
}

int WINAPI DrawTextA(HDC dc, LPCSTR text, int count, LPRECT rect, UINT format) {
    DeviceContext* d = FindDc(dc);
    Event e;
    e.kind = Kind::DrawText;
    e.id = HandleValue(dc);
    e.ok = d != nullptr;
    if (text) e.text = count < 0 ? std::string(text) : std::string(text, static_cast<size_t>(count));
    if (rect) e.rect = *rect;
    e.flags = format;
    const LOGFONTA* lf = d ? FontOf(d->font) : nullptr;
    e.handle = lf ? HandleValue(d->font) : 0;
    e.value = lf && lf->lfHeight != 0 ? std::abs(lf->lfHeight) : kDefaultFontHeight;
    int64_t lines = 0;
    if (!e.text.empty())
        lines = (format & DT_SINGLELINE) ? 1 : 1 + std::count(e.text.begin(), e.text.end(), '\n');
    e.value2 = d ? lines * e.value : 0;
    Record(e);
    return static_cast<int>(e.value2);
}
