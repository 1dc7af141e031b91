// BackupRecordings and RestoreRecordings through their command lines (the programs as a script
// runs them) and the progress lines of their windows: what goes into a bundle, the three restore
// modes, round trips, archives made by Debian's zip and on Windows, hostile and broken archives,
// failed backups and the locale refusal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <zip.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>

#include "AnsiText.h"
#include "Backup.h"
#include "Installation.h"
#include "Restore.h"
#include "StringTable.h"
#include "TestHelpers.h"

namespace fs = std::filesystem;
using ravektest::ReadFileBytes;
using ravektest::WriteFileBytes;

namespace {

struct RunResult {
    int Exit = -1;
    std::string Output;  // standard output and error together
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

RunResult Execute(const std::string& command) {
    RunResult run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe)) run.Output += buffer.data();
    const int status = ::pclose(pipe);
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::time_t MTime(const fs::path& file) {
    struct stat st {};
    ::stat(file.c_str(), &st);
    return st.st_mtime;
}

void SetMTime(const fs::path& file, std::time_t time) {
    const struct timespec times[2] = {{time, 0}, {time, 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

// Every file below a folder (relative name -> bytes).
std::map<std::string, std::string> Tree(const fs::path& folder) {
    std::map<std::string, std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = ReadFileBytes(entry.path());
    return files;
}

// Writes an archive with libzip; names are stored byte for byte (no UTF-8 flag) when `raw`.
struct RawEntry {
    std::string Name;
    std::string Data;
    bool Symlink = false;
};
void MakeArchive(const fs::path& path, const std::vector<RawEntry>& entries, bool raw = false) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    for (const RawEntry& entry : entries) {
        zip_source_t* source = zip_source_buffer(archive, entry.Data.data(), entry.Data.size(), 0);
        const zip_int64_t index = zip_file_add(archive, entry.Name.c_str(), source, raw ? ZIP_FL_ENC_CP437 : ZIP_FL_ENC_GUESS);
        ASSERT_GE(index, 0) << entry.Name;
        if (entry.Symlink)
            zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX, 0120777u << 16);
    }
    ASSERT_EQ(zip_close(archive), 0);
}

// Puts `size` into the stated uncompressed size of every entry (local and central headers).
void PatchStatedSizes(const fs::path& path, uint32_t size) {
    std::string bytes = ReadFileBytes(path);
    auto patch = [&](const std::string& signature, std::size_t offset) {
        for (std::size_t at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 4))
            for (int i = 0; i < 4; ++i) bytes[at + offset + i] = static_cast<char>((size >> (8 * i)) & 0xff);
    };
    patch(std::string("PK\x03\x04", 4), 22);
    patch(std::string("PK\x01\x02", 4), 24);
    WriteFileBytes(path, bytes);
}

class ArchiveTools : public ::testing::Test {
protected:
    void SetUp() override {
        WriteRegistry("0409");
        WriteFileBytes(temp_ / "user.reg", "Windows Registry Editor Version 5.00\n");
        ::setenv("RAVEK_REGISTRY", (temp_ / "registry.reg").c_str(), 1);
        ::setenv("RAVEK_USER_REGISTRY", (temp_ / "user.reg").c_str(), 1);
        fs::create_directories(Dan());
    }
    void TearDown() override {
        ::unsetenv("RAVEK_REGISTRY");
        ::unsetenv("RAVEK_USER_REGISTRY");
    }
    void WriteRegistry(const std::string& language) {
        WriteFileBytes(temp_ / "registry.reg",
                       "Windows Registry Editor Version 5.00\n\n"
                       "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\Language]\n\"Default\"=\"" + language + "\"\n\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\n\"MyRecordsPath\"=\"" + Root().string() + "\"\n"
                       "\"MaleVoiceName\"=\"Dan\"\n\"FemaleVoiceName\"=\"Noa\"\n\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\EN]\n\"MaleVoiceName\"=\"Dan\"\n\"FemaleVoiceName\"=\"Noa\"\n\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\AR]\n\"MaleVoiceName\"=\"Dan\"\n\"FemaleVoiceName\"=\"Noa\"\n");
    }
    fs::path Root() const { return temp_ / "MyRecords"; }
    fs::path Dan() const { return Root() / "Dan"; }
    fs::path Noa() const { return Root() / "Noa"; }

    RunResult Backup(const std::string& arguments) { return Execute(std::string(RAVEK_BACKUP) + " " + arguments); }
    RunResult Restore(const fs::path& archive, const std::string& arguments = "--voice Noa") {
        return Execute(std::string(RAVEK_RESTORE) + " --archive " + Quote(archive.string()) + " " + arguments);
    }
    // The recordings of the usual fixture: sub-folders, a Hebrew name, an empty file, and files
    // that are not recordings.
    void WriteRecordings() {
        std::string wave(40000, '\0');
        for (std::size_t i = 0; i < wave.size(); ++i) wave[i] = static_cast<char>((i * 7) % 251);
        WriteFileBytes(Dan() / "a.wav", wave);
        WriteFileBytes(Dan() / "sub" / "שלום.wav", wave.substr(0, 12345));
        WriteFileBytes(Dan() / "sub" / "x.MP3", "ID3 not really an mp3");
        WriteFileBytes(Dan() / "sub" / "deep" / "zero.mp3", "");
        WriteFileBytes(Dan() / "notes.txt", "not a recording");
        WriteFileBytes(Dan() / "sub" / "a.wav.bak", "not a recording");
        WriteFileBytes(Dan() / "Ravek Log.txt", "journal");
        fs::create_directories(Dan() / "nothing-here");
        SetMTime(Dan() / "a.wav", 1700000001);  // an odd second: the archive keeps even ones
        SetMTime(Dan() / "sub" / "שלום.wav", 1600000000);
    }
    fs::path PackDan() {
        const RunResult run = Backup("--voice Dan --output " + Quote(temp_.Path().string()));
        EXPECT_EQ(run.Exit, 0) << run.Output;
        for (const auto& entry : fs::directory_iterator(temp_.Path()))
            if (entry.path().extension() == ".zip") return entry.path();
        ADD_FAILURE() << "no archive made";
        return {};
    }
    static bool NoTemporaryFiles(const fs::path& folder) {
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.path().filename().string().starts_with(".")) return false;
        return true;
    }

    ravektest::TempFolder temp_;
};

TEST_F(ArchiveTools, BackupPacksTheRecordingsWithTheirFolders) {
    WriteRecordings();
    const RunResult run = Backup("--voice Dan --output " + Quote(temp_.Path().string()));
    ASSERT_EQ(run.Exit, 0) << run.Output;
    fs::path archive;
    for (const auto& entry : fs::directory_iterator(temp_.Path()))
        if (entry.path().extension() == ".zip") archive = entry.path();
    EXPECT_TRUE(std::regex_match(archive.filename().string(), std::regex(R"(Dan_\d{8}_\d\d_\d\d\.zip)"))) << archive;
    // Debian's unzip reads the archive: names, folders and data.
    const RunResult listing = Execute("unzip -Z1 " + Quote(archive.string()));
    std::set<std::string> names;
    std::istringstream lines(listing.Output);
    for (std::string line; std::getline(lines, line);) names.insert(line);
    EXPECT_EQ(names, (std::set<std::string>{"a.wav", "sub/", "sub/deep/", "sub/deep/zero.mp3", "sub/x.MP3", "sub/שלום.wav"}));
    EXPECT_EQ(Execute("unzip -tq " + Quote(archive.string())).Exit, 0);
    // The log lines, in the language's words, one per entry, and the final status.
    EXPECT_NE(run.Output.find("zipping ...   a.wav (deflated "), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find("zipping ...   sub/deep/zero.mp3 (stored 0%)"), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find("Compression completed successfully. Data stored at file: \n" + archive.filename().string()),
              std::string::npos)
        << run.Output;
    // The Hebrew name carries the UTF-8 flag (libzip returns a flagged name unchanged in strict mode).
    zip_t* z = zip_open(archive.c_str(), ZIP_RDONLY, nullptr);
    ASSERT_NE(z, nullptr);
    const zip_int64_t hebrew = zip_name_locate(z, "sub/שלום.wav", ZIP_FL_ENC_RAW);
    ASSERT_GE(hebrew, 0);
    EXPECT_STREQ(zip_get_name(z, static_cast<zip_uint64_t>(hebrew), ZIP_FL_ENC_STRICT), "sub/שלום.wav");
    zip_discard(z);
    // Without --output the archive goes into the recordings folder.
    const RunResult again = Backup("--voice Dan");
    EXPECT_EQ(again.Exit, 0) << again.Output;
    EXPECT_NE(again.Output.find(Root().string() + "/Dan_"), std::string::npos) << again.Output;
}

TEST_F(ArchiveTools, RoundTripKeepsEveryByteAndTime) {
    WriteRecordings();
    // Enough files of different sizes that the two packing threads finish them out of order.
    for (int i = 0; i < 300; ++i) {
        std::string bytes(static_cast<std::size_t>(i * 97 % 4000), '\0');
        for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>((k * (i + 3)) % 253);
        WriteFileBytes(Dan() / "many" / ("w" + std::to_string(i) + ".wav"), bytes);
    }
    const fs::path archive = PackDan();
    const RunResult run = Restore(archive);
    ASSERT_EQ(run.Exit, 0) << run.Output;
    EXPECT_NE(run.Output.find("opens file   sub/שלום.wav"), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find("Extract completed"), std::string::npos);
    auto recordings = Tree(Dan());
    std::erase_if(recordings, [](const auto& file) { return !file.first.ends_with(".wav") && !file.first.ends_with("3"); });
    EXPECT_EQ(recordings.size(), 304u);
    EXPECT_TRUE(Tree(Noa()) == recordings);  // (not printed: recordings are long)
    for (const auto& [name, bytes] : recordings) {
        const std::time_t original = MTime(Dan() / name);
        EXPECT_EQ(MTime(Noa() / name), original - (original & 1)) << name;  // zip keeps even seconds
    }
    EXPECT_TRUE(NoTemporaryFiles(Noa()));
}

struct ModeCase {
    const char* Mode;
    const char* A;  // a.wav after the restore (older in the folder than in the bundle)
    const char* B;  // b.wav after the restore (newer in the folder)
};

class RestoreModes : public ArchiveTools, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(RestoreModes, ExistingRecordingsAreTreatedAsTheModeSays) {
    const std::time_t bundleTime = 1600000000;
    WriteFileBytes(Dan() / "a.wav", "bundle a");
    WriteFileBytes(Dan() / "b.wav", "bundle b");
    WriteFileBytes(Dan() / "c" / "c.wav", "bundle c");
    for (const char* name : {"a.wav", "b.wav", "c/c.wav"}) SetMTime(Dan() / name, bundleTime);
    const fs::path archive = PackDan();
    WriteFileBytes(Noa() / "a.wav", "older a");
    WriteFileBytes(Noa() / "b.wav", "newer b");
    SetMTime(Noa() / "a.wav", bundleTime - 86400);
    SetMTime(Noa() / "b.wav", bundleTime + 86400);

    const RunResult run = Restore(archive, std::string("--voice Noa --mode ") + GetParam().Mode);
    ASSERT_EQ(run.Exit, 0) << run.Output;
    EXPECT_EQ(ReadFileBytes(Noa() / "a.wav"), GetParam().A);
    EXPECT_EQ(ReadFileBytes(Noa() / "b.wav"), GetParam().B);
    EXPECT_EQ(ReadFileBytes(Noa() / "c" / "c.wav"), "bundle c");  // missing files always come
    // A kept file is listed as skipped.
    EXPECT_EQ(run.Output.find("skips: b.wav") != std::string::npos, std::string(GetParam().B) == "newer b") << run.Output;
    EXPECT_TRUE(NoTemporaryFiles(Noa()));
}

INSTANTIATE_TEST_SUITE_P(Modes, RestoreModes,
                         ::testing::Values(ModeCase{"missing", "older a", "newer b"},
                                           ModeCase{"all", "bundle a", "bundle b"},
                                           ModeCase{"newer", "bundle a", "newer b"}),
                         [](const auto& info) { return std::string(info.param.Mode); });

TEST_F(ArchiveTools, ArchivesOfDebianZipAndOfWindowsAreRestoredWithTheirNames) {
    // Debian's zip: UTF-8 names (flagged or not, as its locale decides), folders, times.
    WriteFileBytes(temp_ / "src" / "תיקייה" / "מילה.wav", "from debian zip");
    SetMTime(temp_ / "src" / "תיקייה" / "מילה.wav", 1500000000);
    const fs::path debian = temp_ / "Noa_debian.zip";
    ASSERT_EQ(Execute("cd " + Quote((temp_ / "src").string()) + " && LANG=C.UTF-8 zip -qr " + Quote(debian.string()) + " .").Exit, 0);
    const RunResult fromDebian = Restore(debian, "");  // the voice is recognised from the name
    ASSERT_EQ(fromDebian.Exit, 0) << fromDebian.Output;
    EXPECT_EQ(ReadFileBytes(Noa() / "תיקייה" / "מילה.wav"), "from debian zip");
    EXPECT_EQ(MTime(Noa() / "תיקייה" / "מילה.wav"), 1500000000);

    // Made on a Hebrew Windows: names in Windows-1255 without the UTF-8 flag, backslashes between
    // folders. They are read in the code page of this system's language.
    WriteRegistry("040d");
    const auto& cp1255 = AnsiText::CodecFor(1255);
    const fs::path windows = temp_ / "windows.zip";
    MakeArchive(windows, {{cp1255.ToAnsi("שיר\\בוקר.wav"), "morning"}, {cp1255.ToAnsi("ערב.wav"), "evening"}}, true);
    const RunResult fromWindows = Restore(windows, "--voice Dan");
    ASSERT_EQ(fromWindows.Exit, 0) << fromWindows.Output;
    EXPECT_EQ(ReadFileBytes(Dan() / "שיר" / "בוקר.wav"), "morning") << fromWindows.Output;
    EXPECT_EQ(ReadFileBytes(Dan() / "ערב.wav"), "evening");
}

TEST_F(ArchiveTools, HostileEntriesAreRefusedAndListed) {
    fs::create_directories(temp_ / "elsewhere");
    fs::create_directories(Noa());
    fs::create_directory_symlink(temp_ / "elsewhere", Noa() / "linked");
    const fs::path archive = temp_ / "hostile.zip";
    MakeArchive(archive, {{"../escape.wav", "x"},
                          {"sub/../../escape2.wav", "x"},
                          {(temp_ / "elsewhere" / "absolute.wav").string(), "x"},
                          {"link.wav", "/etc/passwd", true},
                          {"linked/through-link.wav", "x"},
                          {"good.wav", "good"}});
    const RunResult run = Restore(archive);
    EXPECT_EQ(run.Exit, 1) << run.Output;
    for (const char* refused : {"skips: ../escape.wav", "skips: sub/../../escape2.wav", "skips: link.wav (symbolic link)",
                                "skips: linked/through-link.wav (symbolic link in the path)"})
        EXPECT_NE(run.Output.find(refused), std::string::npos) << refused << "\n" << run.Output;
    EXPECT_NE(run.Output.find("Extract completed, but some files were not restored"), std::string::npos) << run.Output;
    EXPECT_EQ(ReadFileBytes(Noa() / "good.wav"), "good");
    EXPECT_TRUE(fs::is_empty(temp_ / "elsewhere"));
    EXPECT_FALSE(fs::exists(Root() / "escape.wav"));
    EXPECT_FALSE(fs::exists(temp_ / "escape2.wav"));
    EXPECT_FALSE(fs::is_symlink(Noa() / "link.wav"));

    // 0x81 and 0xFF are undefined in Windows-1255, and the bytes are no UTF-8 either.
    MakeArchive(archive, {{std::string("bad\x81\xff.wav"), "x"}, {"fine.wav", "fine"}}, true);
    const RunResult badName = Restore(archive);
    EXPECT_EQ(badName.Exit, 1);
    EXPECT_NE(badName.Output.find("skips: bad??.wav (name not valid in any code page)"), std::string::npos) << badName.Output;
    EXPECT_EQ(ReadFileBytes(Noa() / "fine.wav"), "fine");
}

TEST_F(ArchiveTools, OversizedEntriesAreRefusedByName) {
    const fs::path bomb = temp_ / "bomb.zip";
    MakeArchive(bomb, {{"huge.wav", std::string(100000, 'a')}});
    PatchStatedSizes(bomb, 0xC0000000u);  // claims 3 GiB
    const RunResult claims = Restore(bomb);
    EXPECT_EQ(claims.Exit, 1);
    EXPECT_NE(claims.Output.find("skips: huge.wav (claims 3221225472 bytes"), std::string::npos) << claims.Output;
    EXPECT_FALSE(fs::exists(Noa() / "huge.wav"));

    MakeArchive(bomb, {{"grows.wav", std::string(100000, 'a')}});
    PatchStatedSizes(bomb, 1000);  // expands far beyond what it states
    const RunResult grows = Restore(bomb);
    EXPECT_NE(grows.Exit, 0);
    EXPECT_NE(grows.Output.find("grows.wav"), std::string::npos) << grows.Output;
    EXPECT_FALSE(fs::exists(Noa() / "grows.wav"));
    EXPECT_TRUE(NoTemporaryFiles(Noa()));
}

TEST_F(ArchiveTools, BrokenArchivesFailAndLeaveNoHalfFile) {
    WriteRecordings();
    const std::string good = ReadFileBytes(PackDan());
    struct Case {
        const char* Name;
        std::string Bytes;
    };
    std::string corrupt = good;
    for (std::size_t i = 200; i < 400; ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5a);  // inside a.wav's data
    const std::vector<Case> cases = {{"not a zip", "just some text, no archive"},
                                     {"truncated", good.substr(0, good.size() / 2)},
                                     {"corrupt data", corrupt}};
    for (const Case& c : cases) {
        fs::remove_all(Noa());
        WriteFileBytes(temp_ / "broken.zip", c.Bytes);
        const RunResult run = Restore(temp_ / "broken.zip");
        EXPECT_EQ(run.Exit, 1) << c.Name;
        EXPECT_NE(run.Output.find("Extract failed"), std::string::npos) << c.Name << "\n" << run.Output;
        EXPECT_NE(run.Output.find("error: "), std::string::npos) << c.Name << "\n" << run.Output;
        EXPECT_FALSE(fs::exists(Noa() / "a.wav")) << c.Name;
        if (fs::exists(Noa())) {
            EXPECT_TRUE(NoTemporaryFiles(Noa())) << c.Name;
        }
    }
    // A target folder that cannot be made: a file stands where it should be.
    fs::remove_all(Noa());
    WriteFileBytes(Noa(), "a file where the voice folder should be");
    WriteFileBytes(temp_ / "broken.zip", good);
    const RunResult blocked = Restore(temp_ / "broken.zip");
    EXPECT_EQ(blocked.Exit, 1);
    EXPECT_NE(blocked.Output.find("Extract failed"), std::string::npos) << blocked.Output;
}

TEST_F(ArchiveTools, BackupWithoutRecordingsFailsAndWritesNothing) {
    const fs::path output = temp_ / "out.zip";
    const RunResult missing = Backup("--voice Noa --output " + Quote(output.string()));  // no folder Noa
    EXPECT_EQ(missing.Exit, 1);
    EXPECT_NE(missing.Output.find("Compression failed"), std::string::npos) << missing.Output;
    WriteFileBytes(Dan() / "notes.txt", "no recording");
    const RunResult empty = Backup("--voice Dan --output " + Quote(output.string()));
    EXPECT_EQ(empty.Exit, 1);
    EXPECT_NE(empty.Output.find("zip error: Nothing to do!"), std::string::npos) << empty.Output;
    EXPECT_FALSE(fs::exists(output));
    for (const auto& entry : fs::directory_iterator(temp_.Path())) EXPECT_NE(entry.path().extension(), ".zip");
    EXPECT_EQ(Backup("--voice Nobody").Exit, 2);
    {
        // Without the engine's registry file both say which file they could not read.
        ravektest::ScopedEnv noRegistry("RAVEK_REGISTRY", (temp_ / "missing.reg").string());
        WriteFileBytes(temp_ / "any.zip", "any bytes");
        for (const RunResult& run : {Backup("--voice Dan"), Restore(temp_ / "any.zip")}) {
            EXPECT_EQ(run.Exit, 1);
            EXPECT_NE(run.Output.find("no registry file " + (temp_ / "missing.reg").string()), std::string::npos) << run.Output;
        }
    }
    EXPECT_EQ(Backup("--voice Dan --output " + Quote((temp_ / "no" / "such" / "x.zip").string())).Exit, 2);
    EXPECT_EQ(Execute(std::string(RAVEK_BACKUP) + " --help").Exit, 0);
    EXPECT_EQ(Execute(std::string(RAVEK_RESTORE) + " --help").Exit, 0);
}

TEST_F(ArchiveTools, UnknownLanguageNeedsAnEnglishOrArabicUserLocale) {
    WriteRecordings();
    WriteRegistry("0407");  // German: a language the code page manager does not know
    auto userLocale = [&](const std::string& name) {
        WriteFileBytes(temp_ / "user.reg", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Control Panel\\International]\n"
                                           "\"sLanguage\"=\"" + name + "\"\n");
    };
    userLocale("DEU");
    const RunResult refused = Backup("--voice Dan --output " + Quote(temp_.Path().string()));
    EXPECT_EQ(refused.Exit, 1);
    EXPECT_NE(refused.Output.find("Cannot proceed when user locale language is not Arabic or English."), std::string::npos)
        << refused.Output;
    userLocale("ENU");
    EXPECT_EQ(Backup("--voice Dan --output " + Quote(temp_.Path().string())).Exit, 0);
    WriteRegistry("040d");  // Hebrew: no check at all
    userLocale("DEU");
    EXPECT_EQ(Backup("--voice Dan --output " + Quote(temp_.Path().string())).Exit, 0);
}

// The window's progress lines: the log line of each message and the progress line's counts
// and percentage (halves to the even neighbour).
TEST(ArchiveProgress, LinesAsTheWindowsShowThem) {
    ravekbackup::BackupProgress backup(ravekqt::kEnglishOffset, 8);
    EXPECT_FALSE(backup.Handle(QStringLiteral("security check")).has_value());
    EXPECT_FALSE(backup.Handle(QStringLiteral("something else")).has_value());
    const auto first = backup.Handle(QStringLiteral("  adding: a.wav (deflated 3%)\n"));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->LogLine, QStringLiteral("zipping ...   a.wav (deflated 3%)"));
    EXPECT_EQ(first->ProgressLine, QStringLiteral("progress 12% (1 out of  8 )"));  // 12.5 -> 12
    backup.Handle(QStringLiteral("  adding: b.wav (stored 0%)"));
    EXPECT_EQ(backup.Handle(QStringLiteral("  adding: c.wav (stored 0%)"))->ProgressLine,
              QStringLiteral("progress 38% (3 out of  8 )"));  // 37.5 -> 38
    EXPECT_EQ(backup.Handle(QStringLiteral("zip error: Nothing to do!"))->LogLine, QStringLiteral("zip error: Nothing to do!"));

    ravekrestore::RestoreProgress restore(ravekqt::kHebrewOffset, 2);
    const auto opened = restore.Handle(QStringLiteral("  inflating: sub/a.wav"));
    EXPECT_EQ(opened.LogLine, QStringLiteral("פותח קובץ   sub/a.wav"));
    EXPECT_EQ(opened.ProgressLine, QStringLiteral("התקדמות 50%  ( 1 מתוך 2 )"));
    EXPECT_EQ(restore.Handle(QStringLiteral("Skipping: b.wav  Target file newer.")).LogLine, QStringLiteral("מדלג על: b.wav"));
    // Every message counts, so the percentage may pass 100.
    EXPECT_EQ(restore.Handle(QStringLiteral("   creating: sub/")).ProgressLine, QStringLiteral("התקדמות 150%  ( 3 מתוך 2 )"));
}

}  // namespace
