// Reads the exhibit's settings once at start-up. Nothing is checked: a
// missing file, section or key, or a value that is not a number, gives 0.
#include "exhibit.h"

#include <cstdlib>

static const char SETTINGS_FILE[] = "c:\\quorin.ini";
static const char SETTINGS_SECTION[] = "MORSE";
constexpr DWORD VALUE_SIZE = 10; // nine characters and the terminator

int32_t SettingValue(const char* text)
{
    // Nine characters at most: always fits in 32 bits.
    return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

static void ReadValue(const char* key, char (&value)[VALUE_SIZE])
{
    GetPrivateProfileStringA(SETTINGS_SECTION, key, "", value, VALUE_SIZE, SETTINGS_FILE);
}

void ReadExhibitSettings()
{
    char silence[VALUE_SIZE], point[VALUE_SIZE], trait[VALUE_SIZE], inactif[VALUE_SIZE],
        interSignal[VALUE_SIZE], morseAuto[VALUE_SIZE], affLettre[VALUE_SIZE];

    ReadValue("DUREE_SILENCE", silence);
    ReadValue("DUREE_POINT", point);
    ReadValue("DUREE_TRAIT", trait);
    ReadValue("DUREE_INACTIF", inactif);
    ReadValue("DUREE_INTER_SIGNAL_AUTO", interSignal);
    ReadValue("MORSE_AUTO", morseAuto);
    ReadValue("DUREE_AFF_LETTRE", affLettre);

    settings.DUREE_TRAIT = SettingValue(trait);
    settings.DUREE_POINT = SettingValue(point);
    settings.DUREE_SILENCE = SettingValue(silence);
    settings.DUREE_AFF_LETTRE = SettingValue(affLettre);
    settings.DUREE_INACTIF = SettingValue(inactif);
    settings.DUREE_INTER_SIGNAL_AUTO = SettingValue(interSignal);
    settings.MORSE_AUTO = SettingValue(morseAuto);
}
