// libFuzzer target of the settings path: any bytes as c:\quorin.ini, read
// by the stand-in's INI reader and converted by ReadExhibitSettings. Beyond
// not crashing (AddressSanitizer and UBSan watch), each input must keep:
//   - the seven keys are asked for once each, in the program's order;
//   - what the reader returns is at most nine characters, never spans a line,
//     and its count is its length;
//   - every field equals an independent reference of the decimal conversion
//     of the first nine characters of what the reader returned;
//   - SettingValue on the input's own first nine bytes equals the reference;
//   - the reader, for one key and every telling buffer size, copies a prefix
//     of the whole value and terminates it inside the buffer;
//   - section names match regardless of case.
#include "exhibit.h"
#include "settings_reference.h"
#include "win32sim.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace reliability;

namespace {

const char kFile[] = "c:\\quorin.ini";
const char* const kReadOrder[7] = {"DUREE_SILENCE",          "DUREE_POINT", "DUREE_TRAIT",     "DUREE_INACTIF",
                                   "DUREE_INTER_SIGNAL_AUTO", "MORSE_AUTO",  "DUREE_AFF_LETTRE"};

const std::string& Drive()
{
    // In memory where there is a tmpfs: the file is rewritten for every input.
    static const std::string dir = [] {
        char shm[] = "/dev/shm/exhibit_fuzz_XXXXXX", tmp[] = "/tmp/exhibit_fuzz_XXXXXX";
        const char* made = mkdtemp(shm) ? shm : mkdtemp(tmp);
        if (made == nullptr)
            std::abort();
        return std::string(made);
    }();
    return dir;
}

void RemoveDrive()
{
    std::remove((Drive() + "/quorin.ini").c_str());
    rmdir(Drive().c_str());
}

[[noreturn]] void Broken(const std::string& what, const std::string& detail)
{
    std::fprintf(stderr, "settings property broken: %s: %s\n", what.c_str(), detail.c_str());
    std::abort();
}

int KeyIndex(const std::string& key)
{
    for (int k = 0; k < 7; ++k)
        if (key == kSettingKeys[k])
            return k;
    return -1;
}

std::string Read(const char* section, const char* key, DWORD size)
{
    // Exactly `size` bytes, so that AddressSanitizer sees any write past them.
    std::unique_ptr<char[]> buffer(new char[size]);
    DWORD n = GetPrivateProfileStringA(section, key, "", buffer.get(), size, kFile);
    if (n >= size || buffer[n] != '\0')
        Broken("reader", "count " + std::to_string(n) + " for a buffer of " + std::to_string(size));
    return std::string(buffer.get(), n);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Drive();
    std::atexit(RemoveDrive);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::ofstream(Drive() + "/quorin.ini", std::ios::binary | std::ios::trunc) << bytes;

    sim::Scenario scenario;
    scenario.cDrive = Drive();
    sim::Reset(scenario);
    settings = ExhibitSettings{-7, -7, -7, -7, -7, -7, -7};
    ReadExhibitSettings();

    std::vector<sim::Event> reads = sim::EventsOfKind(sim::Trace(), sim::Kind::IniRead);
    if (reads.size() != 7)
        Broken("keys", std::to_string(reads.size()) + " reads");
    for (int i = 0; i < 7; ++i) {
        const sim::Event& e = reads[static_cast<size_t>(i)];
        if (e.text != kReadOrder[i])
            Broken("keys", "read " + e.text + " in place of " + kReadOrder[i]);
        if (e.value != static_cast<int64_t>(e.text2.size()) || e.text2.size() > 9)
            Broken("reader", e.text + " returned " + std::to_string(e.value) + " characters");
        if (e.text2.find('\n') != std::string::npos)
            Broken("reader", e.text + " returned a line feed");
        if (!e.ok && !e.text2.empty())
            Broken("reader", e.text + " missing but returned text");
        int32_t field = Field(settings, KeyIndex(e.text));
        int32_t reference = ReferenceSetting(e.text2);
        if (field != reference)
            Broken("conversion", e.text + "='" + e.text2 + "' gave " + std::to_string(field) + ", reference " +
                                     std::to_string(reference));
    }

    std::string head = bytes.substr(0, 9);
    if (SettingValue(head.c_str()) != ReferenceDecimal(head))
        Broken("conversion", "SettingValue('" + head + "')");

    // One key per input, at the buffer sizes around the value's length and
    // the program's own size of ten.
    const char* key = kReadOrder[size % 7];
    std::string whole = Read("MORSE", key, static_cast<DWORD>(size + 2));
    const DWORD sizes[] = {1, 2, 9, 10, static_cast<DWORD>(whole.size()), static_cast<DWORD>(whole.size() + 1)};
    for (DWORD s : sizes) {
        if (s == 0)
            continue;
        std::string part = Read("MORSE", key, s);
        if (part != whole.substr(0, s - 1))
            Broken("reader", std::string(key) + " with a buffer of " + std::to_string(s) + " is no prefix");
    }
    if (Read("morse", key, static_cast<DWORD>(size + 2)) != whole)
        Broken("reader", "the section name's case matters");
    return 0;
}
