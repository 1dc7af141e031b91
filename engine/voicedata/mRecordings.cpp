#include "mRecordings.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include "AnsiText.h"
#include "AutomationError.h"
#include "RegistryFile.h"
#include "EngineState.h"
#include "mLog.h"

namespace fs = std::filesystem;

namespace mRecordings {
namespace {

constexpr const char* kJournalName = "Ravek Log.txt";
constexpr const char* kSlotHeadings[2] = {"Male", "Female"};

// The entries of one folder that a walk looks at, each list sorted by name so that the walk
// (and with it "the first file found for a word") does not depend on the file system's order.
struct FolderListing {
    std::vector<std::string> folders;
    std::vector<std::string> files;
};

// An open directory stream, closed when it goes away.
struct DirectoryCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirectoryHandle = std::unique_ptr<DIR, DirectoryCloser>;

// What an entry is, from the directory's own record when the file system gives the type there
// (no system call) and from the entry itself otherwise; false when it cannot be examined.
bool EntryType(DIR* dir, const dirent& entry, unsigned char& type) {
    type = entry.d_type;
    if (type != DT_UNKNOWN) return true;
    struct stat info {};
    if (::fstatat(::dirfd(dir), entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
    type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISLNK(info.st_mode) ? DT_LNK : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
    return true;
}

// The work a bounded walk may still do; an unbounded walk never runs out.
class WalkBudget {
public:
    WalkBudget() = default;
    explicit WalkBudget(const std::optional<WalkBound>& bound) {
        if (!bound) return;
        deadline_ = std::chrono::steady_clock::now() + bound->time;
        entriesLeft_ = bound->entries;
    }
    // Takes one listed entry; false (from then on) once the bound is reached.
    bool Take() {
        if (exhausted_) return false;
        if (!deadline_) return true;
        exhausted_ = entriesLeft_-- <= 0 || std::chrono::steady_clock::now() >= *deadline_;
        return !exhausted_;
    }
    bool Exhausted() const { return exhausted_; }

private:
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    int64_t entriesLeft_ = 0;
    bool exhausted_ = false;
};

// Where a symbolic link leads: a folder, a regular file, or neither (dangling, other kinds).
unsigned char LinkTarget(DIR* dir, const char* name) {
    struct stat target {};
    if (::fstatat(::dirfd(dir), name, &target, 0) != 0) return DT_UNKNOWN;
    return S_ISDIR(target.st_mode) ? DT_DIR : S_ISREG(target.st_mode) ? DT_REG : DT_UNKNOWN;
}

// Lists `folder`: files and folders, symbolic links by what they lead to (the walks guard against
// loops by device and inode). Names that are not valid UTF-8 and entries that are neither files
// nor folders are left out. Returns false when the folder cannot be read at all. Read with the
// plain directory calls: a voice folder holds thousands of recordings and is listed at every
// start-up. Stops early when `budget` runs out.
bool ListFolder(const std::string& folder, FolderListing& listing, WalkBudget& budget) {
    DirectoryHandle dir(::opendir(folder.c_str()));
    if (!dir) return false;
    while (budget.Take()) {
        const dirent* entry = ::readdir(dir.get());
        if (!entry) break;  // the end, or a read error: what was listed so far stands
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        if (!AnsiText::IsValidUtf8(name)) continue;
        unsigned char type = DT_UNKNOWN;
        if (!EntryType(dir.get(), *entry, type)) continue;
        if (type == DT_LNK) type = LinkTarget(dir.get(), entry->d_name);
        if (type == DT_DIR) {
            listing.folders.emplace_back(name);
        } else if (type == DT_REG) {
            listing.files.emplace_back(name);
        }
    }
    std::sort(listing.folders.begin(), listing.folders.end());
    std::sort(listing.files.begin(), listing.files.end());
    return true;
}

// Folders already walked, by device and inode: a bind mount or other loop is entered once.
class VisitedFolders {
public:
    // True the first time a folder is offered; false when it was seen before or cannot be examined.
    bool FirstVisit(const std::string& folder) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0) return false;
        return seen_.insert({info.st_dev, info.st_ino}).second;
    }

private:
    std::set<std::pair<dev_t, ino_t>> seen_;
};

struct WalkContext {
    const std::string& pattern;
    int32_t& fileCount;
    int32_t& dirCount;
    Dictionary& dict;
    bool lowerCase;
    const AnsiText::Codec& codec;
    WalkBudget budget;
    VisitedFolders visited;
};

// Counters belong to the caller and may start anywhere: passing 2147483647 is error 6, not a wrap.
void Count(int32_t& counter, std::size_t seen, const char* what) {
    if (seen > static_cast<std::size_t>(INT32_MAX) || int64_t{counter} + static_cast<int64_t>(seen) > INT32_MAX)
        RuntimeErrors::Raise(RuntimeErrors::Overflow, std::string(what) + " " + std::to_string(counter) + " + " +
                                                          std::to_string(seen) + " does not fit in 32 bits");
    counter += static_cast<int32_t>(seen);
}

// The word a recording file stands for: the text before the first "." of its name, lower-cased
// when asked. Empty when the name has no "." or nothing before it (such files are not recordings).
std::string WordOf(const std::string& fileName, bool lowerCase) {
    size_t dot = fileName.find('.');
    if (dot == std::string::npos || dot == 0) return {};
    std::string word = fileName.substr(0, dot);
    return lowerCase ? AnsiText::ToLower(word) : word;
}

void AddFile(WalkContext& ctx, const std::string& folder, const std::string& fileName) {
    Count(ctx.fileCount, 1, "FileCount");
    std::string word = WordOf(fileName, ctx.lowerCase);
    if (word.empty()) return;
    // A name the code page cannot represent starts with "?" in its ANSI form: not taken.
    if (ctx.codec.ToAnsi(word).front() == '?') return;
    ctx.dict.TryAdd(std::move(word), folder + fileName);  // the first file found for a word keeps it
}

void Walk(WalkContext& ctx, const std::string& folder) {
    if (!ctx.visited.FirstVisit(folder)) return;
    FolderListing listing;
    try {
        if (!ListFolder(folder, listing, ctx.budget)) return;
        Count(ctx.dirCount, listing.folders.size(), "DirCount");
        for (const auto& file : listing.files)
            if (MatchesPattern(file, ctx.pattern)) AddFile(ctx, folder, file);
    } catch (const fs::filesystem_error&) {
        return;  // what was added stays; the rest of this folder is not visited
    } catch (const AutomationError& e) {
        if (e.Number() == RuntimeErrors::Overflow) throw;  // the caller's counters: its error
        return;
    }
    for (const auto& sub : listing.folders) {
        if (ctx.budget.Exhausted()) return;
        Walk(ctx, folder + sub + "/");
    }
}

int64_t SizeOfTree(const std::string& folder, VisitedFolders& visited) {
    if (!visited.FirstVisit(folder)) return 0;
    FolderListing listing;
    WalkBudget unbounded;
    if (!ListFolder(folder, listing, unbounded)) return 0;
    int64_t total = 0;
    for (const auto& file : listing.files) {
        struct stat info {};  // the size of the file a link leads to, like a size query by path
        if (::stat((folder + file).c_str(), &info) == 0 && S_ISREG(info.st_mode)) total += static_cast<int64_t>(info.st_size);
    }
    for (const auto& sub : listing.folders) total += SizeOfTree(folder + sub + "/", visited);
    return total;
}

// Appends one line (ANSI, CRLF) to the journal of the MyRecords root, creating it when absent.
void AppendJournalLine(const EngineState& state, const std::string& line) {
    std::string path = state.Settings.MyRecordsPath + "/" + kJournalName;
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "ab"));
    if (!file) RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot write the journal " + path);
    std::string bytes = state.Codec().ToAnsi(line) + "\r\n";
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        RuntimeErrors::Raise(RuntimeErrors::PathFileAccessError, "cannot write the journal " + path);
}

std::string CreationStamp() { return mLog::ShortDateText() + " " + mLog::ShortTimeText(); }

// Creates one folder (its parent must exist); raises an error naming the folder when it cannot.
void CreateFolder(const std::string& folder) {
    std::error_code ec;
    if (folder.empty()) RuntimeErrors::Raise(RuntimeErrors::PathNotFound, "cannot create the folder \"\"");
    if (fs::create_directory(folder, ec) || (!ec && fs::is_directory(folder))) return;
    int32_t number = ec == std::errc::permission_denied ? RuntimeErrors::PermissionDenied : RuntimeErrors::PathNotFound;
    RuntimeErrors::Raise(number, "cannot create the folder " + folder + (ec ? " (" + ec.message() + ")" : ""));
}

void ReloadSlot(EngineState& state, int slot) {
    const std::string heading = kSlotHeadings[slot];
    if (state.Log.Detail())
        state.Log.LogWrite("Going to reload " + std::string(slot == 0 ? "Male" : "female") + " MyRecords size in " +
                       state.Elapsed());
    auto& dict = state.UserDictionaries[slot];
    if (!dict) dict = std::make_shared<Dictionary>();
    dict->RemoveAll();  // the same object: holders of the dictionary see the new content
    std::string folder = VoiceFolder(state, slot);
    int32_t files = 0, folders = 0;
    EnumerateFiles(folder, "*.*", files, folders, *dict, state.LowerCaseWords(), state.AnsiCodePage);
    if (state.Log.Detail())
        state.Log.LogWrite(heading + " user Dictionary RELOADED from " + VoiceFolder(state, slot) + ": totally " +
                       std::to_string(files) + " Files :" + state.Elapsed());
}

}  // namespace

bool MatchesPattern(const std::string& name, const std::string& pattern) {
    // An empty pattern lists every file, as the directory functions of the original platform do.
    if (pattern.empty() || pattern == "*" || pattern == "*.*") return true;
    std::vector<char32_t> n = AnsiText::DecodeUtf8(AnsiText::ToLower(name));
    std::vector<char32_t> p = AnsiText::DecodeUtf8(AnsiText::ToLower(pattern));
    // Greedy match with one backtrack point per "*": linear in practice, never exponential.
    auto match = [&n](const std::vector<char32_t>& pat) {
        size_t ni = 0, pi = 0, starPi = std::string::npos, starNi = 0;
        while (ni < n.size()) {
            if (pi < pat.size() && (pat[pi] == U'?' || pat[pi] == n[ni])) {
                ++ni, ++pi;
            } else if (pi < pat.size() && pat[pi] == U'*') {
                starPi = pi++;
                starNi = ni;
            } else if (starPi != std::string::npos) {
                pi = starPi + 1;
                ni = ++starNi;
            } else {
                return false;
            }
        }
        while (pi < pat.size() && pat[pi] == U'*') ++pi;
        return pi == pat.size();
    };
    if (match(p)) return true;
    // As on the original platform, "name.*" also matches a name without any extension.
    if (p.size() >= 2 && p[p.size() - 2] == U'.' && p.back() == U'*' && n.end() == std::find(n.begin(), n.end(), U'.'))
        return match(std::vector<char32_t>(p.begin(), p.end() - 2));
    return false;
}

bool EnumerateFiles(std::string& path, const std::string& searchStr, int32_t& fileCount, int32_t& dirCount,
                    Dictionary& dict, bool lowerCase, int codePage, const std::optional<WalkBound>& bound) {
    // An empty path names no folder here (it would otherwise become the root of the file system).
    bool noFolder = path.empty();
    if (path.empty() || path.back() != '/') path += "/";
    if (noFolder) return true;
    WalkContext ctx{searchStr, fileCount, dirCount, dict, lowerCase, AnsiText::CodecFor(codePage), WalkBudget(bound), {}};
    Walk(ctx, path);
    return !ctx.budget.Exhausted();
}

int64_t FolderSize(const std::string& folder) {
    if (folder.empty()) return 0;
    VisitedFolders visited;
    std::string path = folder;
    if (path.back() != '/') path += "/";
    return SizeOfTree(path, visited);
}

std::string VoiceFolder(const EngineState& state, int slot) {
    return state.Settings.MyRecordsPath + "/" + state.VoiceNames.at(static_cast<size_t>(slot));
}

void EnsureMyRecordsRoot(EngineState& state) {
    const std::string& root = state.Settings.MyRecordsPath;
    std::error_code ec;
    if (!root.empty() && fs::is_directory(root, ec)) return;
    // An empty path would name no folder at all: say which setting is missing and where it is read.
    if (root.empty())
        RuntimeErrors::Raise(RuntimeErrors::PathNotFound, "MyRecordsPath is not set in the registry file " +
                                                              (state.RegistryPath.empty() ? RegistryFile::LocalMachinePath().string()
                                                                                              : state.RegistryPath));
    CreateFolder(root);
    CreateFolder(VoiceFolder(state, 0));
    CreateFolder(VoiceFolder(state, 1));
    AppendJournalLine(state, "MyRecords folder created by Engine: " + CreationStamp());
}

void EnsureVoiceFolder(EngineState& state, int slot) {
    std::string folder = VoiceFolder(state, slot);
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return;
    CreateFolder(folder);
    AppendJournalLine(state, state.VoiceNames[static_cast<size_t>(slot)] + " folder created by Engine: " + CreationStamp());
}

void CheckMyRecordsChanges(EngineState& state, bool& maleChanged, bool& femaleChanged) {
    if (state.Log.Detail()) state.Log.LogWrite("CHECKING FOR FOLDER CHANGES in " + state.Elapsed());
    bool* flags[2] = {&maleChanged, &femaleChanged};
    for (int slot = 0; slot < 2; ++slot) {
        std::string folder = VoiceFolder(state, slot);
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) continue;  // removed while running: keep cache and words
        int64_t measured = FolderSize(folder);
        int64_t& cached = state.MyRecordsSizeCache[static_cast<size_t>(slot)];
        if (state.Log.Detail())
            state.Log.LogWrite(std::string(kSlotHeadings[slot]) + " Folder : cached size " + std::to_string(cached) +
                           " RT size " + std::to_string(measured));
        if (measured != cached) {
            *flags[slot] = true;
            cached = measured;
        }
    }
    if (!state.Log.Detail()) return;
    if (!maleChanged && !femaleChanged) {
        state.Log.LogWrite("No Changes detected in the MyRecords " + state.Elapsed());
    } else {
        state.Log.LogWrite(std::string("Changes found for male Voice ") + (maleChanged ? "TRUE" : "FALSE") + " " +
                       " Changes found for Female Voice " + (femaleChanged ? "TRUE" : "FALSE"));
    }
}

void RefreshIfChanged(EngineState& state) { RefreshIfChanged(state, std::chrono::system_clock::now()); }

void RefreshIfChanged(EngineState& state, std::chrono::system_clock::time_point now) {
    // Whole seconds of the two clock readings, as the times are stored to the second.
    auto quiet = (std::chrono::floor<std::chrono::seconds>(now) -
                  std::chrono::floor<std::chrono::seconds>(state.LastFolderCheck)).count();
    if (quiet > state.Settings.TimeBetweenMyFoldersCheck) {
        if (state.Log.Detail()) state.Log.LogWrite("Looking for changes in the Myrecords folders in " + state.Elapsed());
        bool changed[2] = {false, false};
        CheckMyRecordsChanges(state, changed[0], changed[1]);
        for (int slot = 0; slot < 2; ++slot)
            if (changed[slot]) ReloadSlot(state, slot);
    }
    state.LastFolderCheck = now;
}

}  // namespace mRecordings
