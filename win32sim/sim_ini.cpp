// GetPrivateProfileStringA over real INI files in the folder that stands
// for c:\ (Scenario::cDrive).
#include "sim_state.h"

#include <dirent.h>

#include <cstring>
#include <fstream>
#include <sstream>

using namespace sim;
using namespace sim::detail;

namespace {

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The entry of `dir` whose name equals `name` ignoring case, or "".
std::string FindEntry(const std::string& dir, const std::string& name) {
    std::string found;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            if (SameText(entry->d_name, name)) {
                found = entry->d_name;
                break;
            }
        }
        closedir(d);
    }
    return found;
}

// The host path of "c:\a\b.ini", resolved case-insensitively, or "".
std::string HostPath(const char* file) {
    const std::string& root = S().sc.cDrive;
    if (!file || root.empty()) return "";
    std::string name = file;
    if (name.size() < 3 || (name[0] != 'c' && name[0] != 'C') || name[1] != ':' || name[2] != '\\') return "";
    std::string path = root;
    std::stringstream parts(name.substr(3));
    std::string part;
    while (std::getline(parts, part, '\\')) {
        if (part.empty()) continue;
        std::string entry = FindEntry(path, part);
        if (entry.empty()) return "";
        path += "/" + entry;
    }
    return path;
}

// Finds key in the first section named `section`; true when found.
bool Lookup(const std::string& path, const std::string& section, const std::string& key, std::string& value) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bool inSection = false;
    bool seenSection = false;
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (seenSection) return false;  // only the first matching section counts
            size_t close = line.find(']');
            inSection = SameText(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)),
                                 section);
            seenSection = inSection;
            continue;
        }
        size_t eq = line.find('=');
        if (!inSection || eq == std::string::npos || !SameText(Trim(line.substr(0, eq)), key)) continue;
        value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        return true;
    }
    return false;
}

}  // namespace

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR buffer, DWORD size,
                                      LPCSTR file) {
    Event e;
    e.kind = Kind::IniRead;
    e.text = key ? key : "";
    std::string value;
    if (section && key) {
        std::string path = HostPath(file);
        e.ok = !path.empty() && Lookup(path, section, key, value);
        if (!e.ok) value = fallback ? fallback : "";
    } else {
        e.ok = false;  // the list forms are not supported
    }
    DWORD copied = 0;
    if (buffer && size > 0) {
        copied = static_cast<DWORD>(std::min<size_t>(value.size(), size - 1));
        std::memcpy(buffer, value.data(), copied);
        buffer[copied] = '\0';
    }
    e.text2.assign(value, 0, copied);
    e.value = copied;
    Record(e);
    return copied;
}
