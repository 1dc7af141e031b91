#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "AtomicFile.h"
#include "Installation.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

size_t EntriesIn(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

}  // namespace

// Both ways of keeping the file until it is committed: a hidden named file, or an unnamed one.
class AtomicFileStaging : public ::testing::TestWithParam<AtomicFile::Staging> {};

TEST_P(AtomicFileStaging, TargetChangesOnlyOnCommitAndNothingIsLeftBehind) {
    const bool unnamed = GetParam() == AtomicFile::Staging::Unnamed;
    ravektest::TempFolder dir;
    const fs::path target = dir.Path() / "voice.bin";
    AtomicFile::WriteWhole(target, "old");
    {
        AtomicFile file(target, GetParam());
        file.Write("new header");
        file.WriteAt(0, "NEW", 3);
        EXPECT_EQ(Read(target), "old");  // abandoned: the target stays as it was
        EXPECT_EQ(EntriesIn(dir.Path()), unnamed ? 1u : 2u) << "an unnamed file is not in the folder";
    }
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);

    // Over an existing target, and under a new name.
    for (const fs::path& name : {target, dir.Path() / "new.bin"}) {
        AtomicFile file(name, GetParam());
        file.Write("new header");
        file.WriteAt(0, "NEW", 3);
        file.Commit();
        EXPECT_EQ(Read(name), "NEW header");
        struct stat st {};
        ASSERT_EQ(::stat(name.c_str(), &st), 0);
        EXPECT_NE(st.st_mode & 0044, 0u) << "a committed file has the permissions of any new file";
    }
    EXPECT_EQ(EntriesIn(dir.Path()), 2u);
}

TEST_P(AtomicFileStaging, AFolderThatCannotHoldTheFileIsAnErrorNamingTheTarget) {
    ravektest::TempFolder dir;
    const fs::path target = dir.Path() / "missing" / "out.wav";
    try {
        AtomicFile file(target, GetParam());
        FAIL() << "created a file in a missing folder";
    } catch (const fs::filesystem_error& e) {
        EXPECT_NE(std::string(e.what()).find(target.string()), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Staging, AtomicFileStaging,
                         ::testing::Values(AtomicFile::Staging::Named, AtomicFile::Staging::Unnamed),
                         [](const auto& info) { return info.param == AtomicFile::Staging::Named ? "Named" : "Unnamed"; });

TEST(AtomicFile, UnflushedCommitsOfABatchAreWholeAndFlushedOnce) {
    ravektest::TempFolder dir;
    for (int i = 0; i < 3; ++i) {
        AtomicFile file(dir.Path() / ("clip" + std::to_string(i) + ".wav"));
        file.Write("data " + std::to_string(i));
        EXPECT_EQ(EntriesIn(dir.Path()), static_cast<size_t>(i + 1));  // the temporary file, not the target yet
        file.CommitUnflushed();
    }
    EXPECT_EQ(EntriesIn(dir.Path()), 3u);
    EXPECT_EQ(Read(dir.Path() / "clip2.wav"), "data 2");
    EXPECT_TRUE(AtomicFile::FlushFileSystem(dir.Path()));
    EXPECT_FALSE(AtomicFile::FlushFileSystem(dir.Path() / "missing"));
}
