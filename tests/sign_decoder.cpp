#include "sign_decoder.h"

std::vector<std::string> DecodeSigns(const std::vector<sim::Interval>& rts, const ExhibitSettings& s)
{
    std::vector<std::string> signs;
    std::string symbols;
    sim::Ms lastEnd = 0;
    for (const sim::Interval& i : rts) {
        if (!symbols.empty() && i.from - lastEnd > 2 * static_cast<sim::Ms>(s.DUREE_SILENCE)) {
            signs.push_back(symbols);
            symbols.clear();
        }
        symbols += (i.to - i.from <= 2 * static_cast<sim::Ms>(s.DUREE_POINT)) ? '.' : '-';
        lastEnd = i.to;
    }
    if (!symbols.empty())
        signs.push_back(symbols);
    // Dots and dashes back to characters.
    for (std::string& sign : signs) {
        for (int row = 0; row < SIGN_COUNT; ++row) {
            std::string code;
            for (int pos = 1; SignSymbolAt(row, pos) != '\0'; ++pos)
                code += SignSymbolAt(row, pos);
            if (code == sign) {
                sign = std::string(1, SignCharacter(row));
                break;
            }
        }
    }
    return signs;
}

