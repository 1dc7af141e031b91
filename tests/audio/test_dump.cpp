// Extracting a dictionary word's clip into a file, and exporting the voice's index.
#include <filesystem>

#include "mDump.h"
#include "PipelineFixture.h"

using namespace ravektest;
namespace fs = std::filesystem;

namespace {

class DumpTest : public PipelineTest {
protected:
    void SetUp() override {
        InstallationOptions o;
        o.Male.Words.push_back({"אב-גד", kToneC, 1});
        o.Male.Words.push_back({"ab/cd", kToneD, 1});
        o.Male.Words.push_back({"ק\"ש", kToneE, 1});
        o.Male.MaxBinSize = 6000;  // the clips spread over several binary files
        Start(o);
        out = inst->Root() / "out";
        fs::create_directories(out);
    }
    std::string Dumped(const std::string& name) { return ReadFileBytes(out / name); }
    bool Logged(const std::string& prefix) { return inst->LogContains(prefix); }
    fs::path out;
};

TEST_F(DumpTest, FileNameReplacesDashSlashAndQuote) {
    EXPECT_EQ(mDump::DumpNameOf("a-b/c\"d"), "a==b==c_d");
    for (const auto& [word, name, clip] :
         {std::tuple{"אב-גד", "אב==גד.mp3", kToneC}, {"ab/cd", "ab==cd.mp3", kToneD}, {"ק\"ש", "ק_ש.mp3", kToneE}}) {
        api->DumpFile(out.string(), 2, word);
        EXPECT_EQ(Dumped(name), ReadFileBytes(Clip(clip))) << word;
    }
}

TEST_F(DumpTest, RepeatedAndOverwritingDumpsHoldExactlyTheClip) {
    const std::string clip = ReadFileBytes(Clip(kToneA));
    WriteFileBytes(out / "שלום.mp3", std::string(clip.size() * 3, 'z'));
    api->DumpFile(out.string() + "/", 2, "שלום");
    EXPECT_EQ(Dumped("שלום.mp3"), clip);
    api->DumpFile(out.string(), 2, "שלום");
    EXPECT_EQ(Dumped("שלום.mp3"), clip);
}

TEST_F(DumpTest, VoiceArgumentChoosesIndexAndBinaryFileTogether) {
    State().ActiveVoice = 2;
    api->DumpFile(out.string(), 3, "שלום");  // voice 4: female slot
    EXPECT_EQ(Dumped("שלום.mp3"), ReadFileBytes(Clip(kToneH)));
    api->DumpFile(out.string(), 0, "שלום");  // voice 1: male slot
    EXPECT_EQ(Dumped("שלום.mp3"), ReadFileBytes(Clip(kToneA)));
    EXPECT_FALSE(fs::exists(State().CurrentDumpFolder + "שלום.mp3"));
}

TEST_F(DumpTest, FailuresWriteNoFileRaiseNothingAndAreLogged) {
    EXPECT_NO_THROW(api->DumpFile(out.string(), 2, "אין"));
    EXPECT_FALSE(fs::exists(out / "אין.mp3"));
    EXPECT_TRUE(Logged("Dump word (אין) FAILED: "));

    EXPECT_NO_THROW(api->DumpFile((out / "missing").string(), 2, "שלום"));
    EXPECT_FALSE(fs::exists(out / "missing"));
    EXPECT_TRUE(Logged("Dump word (שלום) FAILED: Path not found: dump folder"));

    for (int voice : {-1, 4, 8}) EXPECT_NO_THROW(api->DumpFile(out.string(), voice, "שלום"));
    EXPECT_TRUE(fs::is_empty(out));

    fs::remove(inst->BinFile(0, 1));
    EXPECT_NO_THROW(api->DumpFile(out.string(), 2, "שלום"));
    EXPECT_FALSE(fs::exists(out / "שלום.mp3"));
    // The other binary files of the slot still serve.
    api->DumpFile(out.string(), 2, "ק\"ש");
    EXPECT_EQ(Dumped("ק_ש.mp3"), ReadFileBytes(Clip(kToneE)));
}

TEST_F(DumpTest, RequestLinesOnlyAboveLevelFive) {
    api->DumpFile(out.string(), 2, "שלום");
    EXPECT_TRUE(Logged("Dump word (שלום) request arrived at"));
    EXPECT_TRUE(Logged("Dump word (שלום) done in "));
    inst->Options().Registry["LogLevel"] = RegValue::Dword(5);
    inst->Write();
    api.emplace();
    api->Initialise();
    fs::create_directories(out);
    api->DumpFile(out.string(), 2, "שלום");
    EXPECT_FALSE(Logged("Dump word ("));
    EXPECT_EQ(Dumped("שלום.mp3"), ReadFileBytes(Clip(kToneA)));
}

TEST_F(DumpTest, ExportHandsOutTheLiveIndexOfTheActiveVoice) {
    api->SelectVoice(4);
    api->Speak("שלום");
    std::shared_ptr<Dictionary> index = api->ExportRavekDictionary();
    EXPECT_EQ(index, State().IndexDictionaries[1]);
    ASSERT_TRUE(index);
    EXPECT_TRUE(index->Exists("סֵפֶר"));
}

}  // namespace
