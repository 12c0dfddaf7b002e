#pragma once

#include <string>

// A temporary folder standing for c:\, removed with the object.
class CDrive {
public:
    CDrive();
    ~CDrive();
    CDrive(const CDrive&) = delete;
    CDrive& operator=(const CDrive&) = delete;
    const std::string& path() const { return path_; }
    void Write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};
