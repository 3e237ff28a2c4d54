// A fresh folder under the system's temporary folder for one test, removed with
// everything in it when the test ends.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

class CTempFolder {
public:
    explicit CTempFolder(const std::string& prefix)
    {
        std::random_device seed;
        path = std::filesystem::temp_directory_path() / (prefix + std::to_string(seed()));
        std::filesystem::create_directories(path);
    }
    ~CTempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::filesystem::path& Path() const { return path; }

private:
    std::filesystem::path path;
};
