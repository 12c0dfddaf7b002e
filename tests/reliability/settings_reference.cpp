#include "settings_reference.h"

namespace reliability {

int64_t ReferenceDecimal(const std::string& text)
{
    size_t end = text.find('\0');
    if (end == std::string::npos)
        end = text.size();
    size_t i = 0;
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
    while (i < end && space(text[i]))
        ++i;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

int32_t ReferenceSetting(const std::string& readerValue)
{
    return static_cast<int32_t>(ReferenceDecimal(readerValue.substr(0, 9)));
}

const char* const kSettingKeys[7] = {"DUREE_POINT",   "DUREE_TRAIT",      "DUREE_SILENCE",    "DUREE_INACTIF",
                                     "DUREE_INTER_SIGNAL_AUTO", "DUREE_AFF_LETTRE", "MORSE_AUTO"};

int32_t& Field(ExhibitSettings& s, int key)
{
    switch (key) {
    case 0: return s.DUREE_POINT;
    case 1: return s.DUREE_TRAIT;
    case 2: return s.DUREE_SILENCE;
    case 3: return s.DUREE_INACTIF;
    case 4: return s.DUREE_INTER_SIGNAL_AUTO;
    case 5: return s.DUREE_AFF_LETTRE;
    default: return s.MORSE_AUTO;
    }
}

int32_t Field(const ExhibitSettings& s, int key)
{
    return Field(const_cast<ExhibitSettings&>(s), key);
}

std::string Describe(const ExhibitSettings& s)
{
    std::string out;
    for (int k = 0; k < 7; ++k)
        out += std::string(k ? " " : "") + kSettingKeys[k] + "=" + std::to_string(Field(s, k));
    return out;
}

} // namespace reliability
