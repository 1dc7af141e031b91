// Golden files of the speech pipeline: each pipeline/<name>.txt holds one utterance (UTF-8, a
// final line end is not part of it), spoken with voice 3 (user recordings, dictionary, smart
// lookup, prefix split; missing words spelled) on the fixture installation below;
// pipeline/<name>.items holds the items expected, one line each. New pipeline cases go here.
// RAVEK_UPDATE_GOLDEN=1 rewrites the .items files from what the engine produces.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "PipelineFixture.h"

using namespace ravektest;
namespace fs = std::filesystem;

namespace {

const fs::path kCases = fs::path(RAVEK_SOURCE_DIR) / "tests/golden/pipeline";

// The names of the cases: every .txt file of the folder, in name order.
std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(kCases, ec))
        if (entry.path().extension() == ".txt") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

const char* KindName(ItemKind kind) {
    switch (kind) {
        case ItemKind::Word: return "Word";
        case ItemKind::WordBreak: return "WordBreak";
        case ItemKind::SentenceBreak: return "SentenceBreak";
        case ItemKind::Letter: return "Letter";
        case ItemKind::Sound: return "Sound";
    }
    return "?";
}

const char* SourceName(ItemSource source) {
    switch (source) {
        case ItemSource::NoSource: return "NoSource";
        case ItemSource::FromUserRecordings: return "FromUserRecordings";
        case ItemSource::FromDictionary: return "FromDictionary";
    }
    return "?";
}

class GoldenPipelineTest : public PipelineTest, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        InstallationOptions o;
        o.Ini["General"]["MissingWordPolicy"] = "spell";
        o.MaleRecordings["תודה רבה.mp3"] = kToneA;
        o.MaleRecordings["ברוכים הבאים.mp3"] = kToneB;
        o.Male.Words.push_back({"אחת שתיים שלוש", kToneC, 1});
        // A prefix sound whose file name has capitals.
        o.Prefixes.push_back({"ל", "La.MP3", 7});
        o.MaleSystem["La.MP3"] = kToneE;
        Start(o);
    }

    // The utterance as the golden files hold it: a header, then kind, source, found, position,
    // text and file (relative to the working folder, "-" for none), tab-separated; an error of
    // the request is one line with its number and description.
    std::string Render(const std::string& text) {
        std::ostringstream out;
        out << "# kind\tsource\tfound\tposition\ttext\tfile\n";
        try {
            for (const SpeechItem& item : Prepare(text)) {
                const std::string file =
                    item.File.empty() ? "-" : fs::path(item.File).lexically_relative(Work()).string();
                out << KindName(item.Kind) << '\t' << SourceName(item.Source) << '\t' << (item.Found ? "found" : "-")
                    << '\t' << item.Position << '\t' << item.Text << '\t' << file << '\n';
            }
        } catch (const AutomationError& e) {
            out << "error " << e.Number() << '\t' << e.Description() << '\n';
        }
        return out.str();
    }
};

TEST_P(GoldenPipelineTest, ItemsMatchTheGoldenFile) {
    std::string text = ReadFileBytes(kCases / (GetParam() + ".txt"));
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const fs::path expectedFile = kCases / (GetParam() + ".items");
    const std::string actual = Render(text);
    const char* update = std::getenv("RAVEK_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        WriteFileBytes(expectedFile, actual);
        return;
    }
    ASSERT_TRUE(fs::is_regular_file(expectedFile)) << expectedFile << " is missing: run with RAVEK_UPDATE_GOLDEN=1";
    EXPECT_EQ(actual, ReadFileBytes(expectedFile)) << "text: " << text;
}

INSTANTIATE_TEST_SUITE_P(Pipeline, GoldenPipelineTest, ::testing::ValuesIn(CaseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// A folder without cases would pass silently.
TEST(GoldenPipelineCases, FolderHoldsCases) { EXPECT_GE(CaseNames().size(), 8u) << kCases; }

}  // namespace
