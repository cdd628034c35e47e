#pragma once
// A fresh temporary directory, removed with everything in it on destruction.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

class TTempDir {
public:
    TTempDir()
    {
        std::string name = (std::filesystem::temp_directory_path() / "quillcast-test-XXXXXX").string();
        if (!::mkdtemp(name.data())) throw std::runtime_error("cannot create a temporary directory");
        FPath = name;
    }
    ~TTempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    // Path joined with Name.
    std::string File(const std::string& Name) const { return (std::filesystem::path(FPath) / Name).string(); }
    // Writes Data to Path/Name, making its folders, and returns the full path.
    std::string Write(const std::string& Name, const std::string& Data) const
    {
        const std::filesystem::path path = File(Name);
        std::filesystem::create_directories(path.parent_path());
        if (!(std::ofstream(path, std::ios::binary) << Data)) throw std::runtime_error("cannot write " + path.string());
        return path.string();
    }
    std::string Read(const std::string& Name) const
    {
        std::ifstream in(File(Name), std::ios::binary);
        if (!in) throw std::runtime_error("cannot read " + File(Name));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string FPath;
};
