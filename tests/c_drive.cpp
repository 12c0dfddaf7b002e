#include "c_drive.h"

#include "win32sim.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

CDrive::CDrive()
{
    char dir[] = "/tmp/exhibit_c_XXXXXX";
    if (mkdtemp(dir) == nullptr)
        sim::Abort("cannot make a temporary folder for c:\\");
    path_ = dir;
}

CDrive::~CDrive()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void CDrive::Write(const std::string& name, const std::string& bytes) const
{
    std::ofstream(path_ + "/" + name, std::ios::binary) << bytes;
}
