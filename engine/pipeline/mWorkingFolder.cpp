#include "mWorkingFolder.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <utility>

#include "AnsiText.h"
#include "AutomationError.h"

namespace fs = std::filesystem;

namespace mWorkingFolder {

namespace {

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// A temporary name of the form "rad" + five hexadecimal digits + ".tmp".
std::string NextTempName(std::mt19937& generator) {
    std::uniform_int_distribution<unsigned> digits(0, 0xFFFFF);
    char name[16];
    std::snprintf(name, sizeof name, "rad%05X.tmp", digits(generator));
    return name;
}

}  // namespace

std::string TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    return WithoutTrailingSlash(folder);
}

std::string FolderNameFromTempName(const std::string& tempName, bool avoidShortNames) {
    std::string name = AnsiText::ToLower(tempName.substr(0, tempName.find('.')));
    std::string renamed;
    for (std::size_t k = 0; k < name.size();) {
        if (name.compare(k, 3, "rad") == 0) {
            renamed += "ravek";
            k += 3;
        } else {
            renamed += name[k++];
        }
    }
    if (avoidShortNames && renamed.size() > 8) renamed.resize(8);
    return renamed;
}

std::string CreateWorkingFolder(CreatedFolders& created, bool avoidShortNames) {
    const std::string temp = TempFolder();
    // With 8-character names only three hexadecimal digits remain, so collisions are expected.
    for (int attempt = 0; attempt < 20000; ++attempt) {
        const std::string path = temp + "/" + FolderNameFromTempName(NextTempName(created.Names), avoidShortNames);
        if (::mkdir(path.c_str(), 0700) == 0) {
            struct stat info {};
            if (::lstat(path.c_str(), &info) == 0) created.Folders[path] = {info.st_dev, info.st_ino};
            return path + "/";
        }
        if (errno != EEXIST)
            RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError,
                                 "cannot create the working folder " + path + ": " + std::strerror(errno));
    }
    RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "no free working folder name in " + temp);
}

bool RemoveWorkingFolder(CreatedFolders& created, const std::string& folder) {
    if (folder.empty()) return false;
    const std::string path = WithoutTrailingSlash(folder);
    auto known = created.Folders.find(path);
    if (known == created.Folders.end()) return false;
    struct stat info {};
    const bool same = ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                      info.st_dev == known->second.first && info.st_ino == known->second.second;
    if (!same) {
        // Gone, or replaced by something that is not ours: forget it, touch nothing.
        created.Folders.erase(known);
        return false;
    }
    std::error_code ec;
    fs::remove_all(path, ec);  // does not follow symbolic links inside the folder
    if (ec) return false;
    created.Folders.erase(known);
    return true;
}

}  // namespace mWorkingFolder
