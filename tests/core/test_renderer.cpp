// The renderer on a fixture installation: the audio it delivers is the utterance's clips end to
// end (checked sample by sample against the committed clips), the word events sit where each
// word's audio starts, a render can be cancelled from another thread, one renderer serves several
// renders, and nothing is written to the temporary folder.
#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "AutomationError.h"
#include "CbMpegAudioDecoder.h"
#include "IAPI.h"
#include "Installation.h"
#include "Renderer.h"

using namespace ravektest;
namespace fs = std::filesystem;

namespace {

// A committed clip as mono samples: MP3 through the file decoder, WAVE from after its header.
std::vector<int16_t> ClipSamples(const std::string& name) {
    const fs::path path = Clip(name);
    if (path.extension() == ".wav") {
        const std::string bytes = ReadFileBytes(path);
        std::vector<int16_t> samples((bytes.size() - 44) / 2);
        std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
        return samples;
    }
    std::optional<DecodedMp3> mp3 = DecodeMp3File(path.string());
    EXPECT_TRUE(mp3 && mp3->channels == 1 && mp3->rate == 22050) << name;
    return mp3 ? mp3->samples : std::vector<int16_t>{};
}

std::string LetterClip(const std::string& letter) { return DefaultSystemRecordings().at(letter + ".mp3"); }

struct WordEvent {
    int32_t index;
    int64_t frame;
    bool operator==(const WordEvent&) const = default;
};

// Records what a render delivers, checking the block rules on the way.
struct Recorder : ravek::RenderSink {
    bool started = false;
    std::vector<WordEvent> words;
    std::vector<int16_t> samples;  // interleaved
    int channels = 0;
    std::function<void()> onPcm;

    void Started() override { started = true; }
    void Word(int32_t index, int64_t frame) override {
        EXPECT_EQ(frame, Frames()) << "a word event after its audio";
        words.push_back({index, frame});
    }
    void Pcm(const ravek::PcmBlock& block) override {
        EXPECT_GT(block.frames, 0u);
        EXPECT_LE(block.frames, ravek::Renderer::kMaxBlockFrames);
        EXPECT_EQ(block.firstFrame, Frames());
        channels = block.channels;
        samples.insert(samples.end(), block.samples, block.samples + block.frames * block.channels);
        if (onPcm) onPcm();
    }
    int64_t Frames() const { return channels ? static_cast<int64_t>(samples.size()) / channels : 0; }
    std::vector<int16_t> Channel(int c) const {
        std::vector<int16_t> out;
        for (size_t i = static_cast<size_t>(c); i < samples.size(); i += static_cast<size_t>(channels)) out.push_back(samples[i]);
        return out;
    }
};

// One piece of the expected audio: a clip, after the word event `index` (0: no event).
struct Piece {
    int32_t index;
    std::string clip;
};

struct RenderCase {
    const char* name;
    std::string text;
    int voice;
    bool mono;
    bool spell;  // missing words spelled (else the signal sound)
    std::vector<Piece> pieces;
};

std::vector<int32_t> Indexes(const std::vector<WordEvent>& words) {
    std::vector<int32_t> out;
    for (const WordEvent& w : words) out.push_back(w.index);
    return out;
}

// The WordStart events of the playing engine speaking `text` (to the fixture's fake sink).
std::vector<int32_t> EngineWordStarts(const std::string& text, int voice) {
    struct Events : EngineEvents {
        std::vector<int32_t> words;
        bool ended = false;
        void SpeechStart() override {}
        void WordStart(int32_t index) override { words.push_back(index); }
        void Speechend() override { ended = true; }
    } events;
    IAPI api;
    api.SetEventSink(&events);
    api.Initialise();
    api.SelectVoice(voice);
    api.Speak(text);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!events.ended && std::chrono::steady_clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
    EXPECT_TRUE(events.ended);
    return events.words;
}

class RendererCases : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RendererCases, DeliversTheClipsWithWordEventsAtTheirStart) {
    const RenderCase& c = GetParam();
    InstallationOptions o;
    if (c.spell) o.Ini["General"]["MissingWordPolicy"] = "spell";
    Installation inst(o);
    ravek::Renderer renderer({.registryFile = inst.RegistryFile().string(), .voice = c.voice});
    Recorder out;
    ASSERT_EQ(renderer.Render(c.text, out, {.mono = c.mono}), ravek::RenderResult::Completed);
    EXPECT_TRUE(out.started);

    std::vector<WordEvent> words;
    std::vector<int16_t> expected;
    for (const Piece& p : c.pieces) {
        if (p.index) words.push_back({p.index, static_cast<int64_t>(expected.size())});
        const std::vector<int16_t> clip = ClipSamples(p.clip);
        expected.insert(expected.end(), clip.begin(), clip.end());
    }
    EXPECT_EQ(out.words, words);
    EXPECT_EQ(Indexes(out.words), EngineWordStarts(c.text, c.voice)) << "the engine raises other WordStart events";
    EXPECT_EQ(out.channels, c.mono ? 1 : 2);
    ASSERT_EQ(out.Frames(), static_cast<int64_t>(expected.size()));
    EXPECT_TRUE(out.Channel(0) == expected) << "the audio differs from the clips";
    if (!c.mono) {
        EXPECT_TRUE(out.Channel(1) == expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RendererCases,
    ::testing::Values(
        // A dictionary word and one reached by the smart lookup (עולם -> עוֹלָם).
        RenderCase{"MaleDictionary", "שלום עולם", 3, false, false, {{1, kToneA}, {6, kToneC}}},
        RenderCase{"FemaleMono", "שלום עולם", 4, true, false, {{1, kToneH}, {6, kToneF}}},
        // User recordings, MP3 and WAVE.
        RenderCase{"UserRecordings", "תודה, בוקר", 1, false, false, {{1, kToneH}, {7, kToneWav}}},
        // A prefix split: the prefix sound and the word both raise an event at the same position.
        RenderCase{"PrefixSplit", "שלום ובית", 3, true, false, {{1, kToneA}, {6, kToneA}, {6, kToneD}}},
        // A missing word: the signal sound; spelled: the pre-spell word, then letters (no events).
        RenderCase{"MissingSignal", "קנגורו", 3, false, false, {{1, kSignalWav}}},
        RenderCase{"MissingSpelled", "גד", 3, true, true,
                   {{1, kToneC}, {0, LetterClip("ג")}, {0, LetterClip("ד")}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A long text whose render waits in its sink, so that it is surely under way when cancelled.
std::string LongText() {
    std::string text;
    for (int i = 0; i < 200; ++i) text += "שלום עולם ";
    return text;
}

TEST(Renderer, CancelFromAnotherThreadEndsTheRenderPromptly) {
    Installation inst;
    ravek::Renderer renderer;
    renderer.Cancel();  // no render in progress: nothing happens, the next render runs
    Recorder out;
    std::promise<void> firstBlock;
    out.onPcm = [&] {
        if (out.Frames() <= static_cast<int64_t>(ravek::Renderer::kMaxBlockFrames)) firstBlock.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    auto result = std::async(std::launch::async, [&] { return renderer.Render(LongText(), out); });
    firstBlock.get_future().wait();
    const auto cancelledAt = std::chrono::steady_clock::now();
    renderer.Cancel();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(result.get(), ravek::RenderResult::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, std::chrono::milliseconds(500));
    EXPECT_LT(out.words.size(), 400u);

    // The renderer serves the next render in full.
    Recorder again;
    EXPECT_EQ(renderer.Render("שלום", again), ravek::RenderResult::Completed);
    EXPECT_EQ(again.Frames(), static_cast<int64_t>(ClipSamples(kToneA).size()));
}

TEST(Renderer, RendersInARowWithSpeedLevelsAndErrorsAndWritesNoFile) {
    Installation inst;
    TempFolder tmp;
    const char* savedTmp = std::getenv("TMPDIR");
    const std::string saved = savedTmp ? savedTmp : "";
    ::setenv("TMPDIR", tmp.Path().c_str(), 1);
    // The registry file comes from the settings, not from the environment.
    ::unsetenv("RAVEK_REGISTRY");
    ravek::Renderer renderer({.registryFile = inst.RegistryFile().string()});
    ::setenv("RAVEK_REGISTRY", inst.RegistryFile().c_str(), 1);

    const std::string text = "שלום עולם סֵפֶר";  // A + C + E: 150 + 250 + 350 ms
    Recorder first, second, fast, leveled;
    EXPECT_EQ(renderer.Render(text, first), ravek::RenderResult::Completed);
    EXPECT_EQ(renderer.Render(text, second), ravek::RenderResult::Completed);
    EXPECT_EQ(second.samples, first.samples);
    EXPECT_EQ(second.words, first.words);

    // Double speed: half as long, pitch kept by GStreamer's pitch element; the words in step.
    EXPECT_EQ(renderer.Render(text, fast, {.speed = 2.0}), ravek::RenderResult::Completed);
    EXPECT_NEAR(static_cast<double>(fast.Frames()) / first.Frames(), 0.5, 0.05);
    ASSERT_EQ(fast.words.size(), 3u);
    EXPECT_NEAR(static_cast<double>(fast.words[2].frame) / first.words[2].frame, 0.5, 0.05);

    // Left at half level, right at full, both with gain 0.5: a quarter and a half of the clip.
    renderer.SetSystemVolume(50, 100);
    EXPECT_EQ(renderer.Render(text, leveled, {.gain = 0.5}), ravek::RenderResult::Completed);
    const std::vector<int16_t> original = first.Channel(0), left = leveled.Channel(0), right = leveled.Channel(1);
    ASSERT_EQ(left.size(), original.size());
    for (size_t i = 0; i < original.size(); i += 97) {
        EXPECT_NEAR(left[i], original[i] / 4, 1) << i;
        EXPECT_NEAR(right[i], original[i] / 2, 1) << i;
    }

    // The engine's errors reach the caller: an empty text and text that is not UTF-8 (error 5).
    for (const std::string& bad : {std::string(), std::string("\xff\xfe")}) {
        Recorder none;
        try {
            renderer.Render(bad, none);
            ADD_FAILURE() << "no error for \"" << bad << "\"";
        } catch (const AutomationError& e) {
            EXPECT_EQ(e.Number(), 5);
        }
        EXPECT_FALSE(none.started);
    }
    EXPECT_TRUE(fs::is_empty(tmp.Path()));
    if (savedTmp) ::setenv("TMPDIR", saved.c_str(), 1);
    else ::unsetenv("TMPDIR");
}

}  // namespace
