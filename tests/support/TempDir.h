#pragma once
// A fresh temporary directory, removed with everything in it on destruction.
#include <string>

class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    // Path joined with Name.
    std::string File(const std::string& Name) const;
    // Writes Data to Path/Name and returns the full path.
    std::string Write(const std::string& Name, const std::string& Data) const;
    std::string Read(const std::string& Name) const;

private:
    std::string FPath;
};
