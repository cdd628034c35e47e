#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TTempDir::TTempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "quillcast-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary directory");
    FPath = tmpl;
}

TTempDir::~TTempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

std::string TTempDir::File(const std::string& Name) const { return (std::filesystem::path(FPath) / Name).string(); }

std::string TTempDir::Write(const std::string& Name, const std::string& Data) const
{
    const std::string path = File(Name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(Data.data(), static_cast<std::streamsize>(Data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

std::string TTempDir::Read(const std::string& Name) const
{
    std::ifstream in(File(Name), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + File(Name));
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
