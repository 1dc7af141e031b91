#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it when the
// test ends.
#include <filesystem>
#include <string>

namespace ravektest {

class TempFolder {
public:
    // The folder's name starts with `prefix`.
    explicit TempFolder(const std::string& prefix);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace ravektest
