#pragma once
// Renderer: the engine speaking into memory instead of the sound card. A program that wants the
// speech as samples (a WAVE writer, a speech-dispatcher module, a test) gives it a text and gets
// 16-bit PCM at 22,050 Hz block by block, with the engine's word events placed at the sample
// where each word's audio starts.
//
//   ravek::Renderer renderer({.voice = 4});          // loads the voices once (Initialise)
//   struct Out : ravek::RenderSink {
//       void Word(int32_t index, int64_t frame) override { ... }   // before the word's audio
//       void Pcm(const ravek::PcmBlock& b) override { ... }        // b.frames <= kMaxBlockFrames
//   } out;
//   if (renderer.Render("שלום עולם", out) == ravek::RenderResult::Cancelled) ...
//
// What is heard is what the engine would play for the same text and settings: the same clips in
// the same order, the letters of a spelled word, the prefix sounds, the signal sound, and the
// engine's silence recording where the engine plays it; a clip that cannot be read or decoded is
// left out as the engine skips it. Nothing is written to the disk: dictionary clips are read from
// the voice's binary files and recordings from their folders straight into the decoder. The
// registry values ConvertMP32WAV and AvoidShortNames only change the engine's scratch files, not
// what is heard, and are ignored here.
//
// Word events carry the WordIndex the engine's WordStart event reports (1-based character
// position in the text), in the same order and for the same items: every word or phrase, every
// inserted sound (the prefix sound of a split word, the signal or pre-spell sound of a missing
// word); spelled letters raise none.
//
// Threads: Render, SelectVoice and SetSystemVolume run on one thread at a time; Cancel may be
// called from any thread (also from inside a sink callback).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class IAPI;

namespace ravek {

struct RendererSettings {
    // HKEY_LOCAL_MACHINE registry file; empty: $RAVEK_REGISTRY, or /etc/ravek/registry.reg.
    std::string registryFile;
    int32_t voice = 3;  // 1 to 4, as SelectVoice takes it
};

struct RenderOptions {
    bool mono = false;   // one channel instead of the engine's two
    // Factor on the engine's own speed ((1000 + PlaybackAccelerationRate) / 1000); the product is
    // kept within 0.1 to 10. The pitch is kept.
    double speed = 1.0;
    // Factor on the output levels (0 silent, 1 as the engine plays); samples are clipped to 16 bits.
    double gain = 1.0;
};

// One block of audio: `frames` frames of `channels` interleaved samples (left, right).
struct PcmBlock {
    const int16_t* samples = nullptr;
    std::size_t frames = 0;
    int channels = 2;
    int64_t firstFrame = 0;  // position of the block's first frame in the render
};

class RenderSink {
public:
    virtual ~RenderSink() = default;
    // The text is prepared and the audio follows (the engine's SpeechStart).
    virtual void Started() {}
    // A word starts at `frame` (counted from the start of the render); its audio follows.
    virtual void Word(int32_t wordIndex, int64_t frame) = 0;
    // The same event with the number of words of the text the recording speaks: more than one
    // for a recorded phrase ("בוקר טוב"). Calls Word by default.
    virtual void WordSpan(int32_t wordIndex, int32_t words, int64_t frame) {
        (void)words;
        Word(wordIndex, frame);
    }
    virtual void Pcm(const PcmBlock& block) = 0;
};

// How a render ended. An error of the engine is raised as AutomationError instead.
enum class RenderResult { Completed, Cancelled };

class Renderer {
public:
    static constexpr int kSampleRate = 22050;
    static constexpr std::size_t kMaxBlockFrames = 4096;

    // Starts an engine on the settings (Initialise: the voice data is loaded here, once) and
    // selects the voice. Raises Initialise's AutomationError (e.g. 999 when the INI file is
    // missing), or SelectVoice's.
    explicit Renderer(const RendererSettings& settings = {});
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // The voice of the following renders (1 to 4); errors as the engine's SelectVoice.
    void SelectVoice(int32_t voice);
    // The configured name of a voice (1 to 4), as the engine's ListVoiceName gives it; empty when
    // the registry names none.
    std::string VoiceName(int32_t voice) const;
    // Output levels as the engine's SetSystemVolume takes them (percent, 1 to 100 each; full by
    // default). In mono the mean of the two levels applies.
    void SetSystemVolume(int16_t leftPercent, int16_t rightPercent);

    // Speaks a UTF-8 text into `sink`: Started, then per word its event and its audio in blocks
    // of at most kMaxBlockFrames frames, each word delivered as soon as it is decoded. Returns
    // when all is delivered, or promptly after Cancel. Raises the engine's AutomationError for a
    // text Speak refuses (error 5: empty, not UTF-8) or a voice it cannot use; nothing has been
    // delivered then.
    RenderResult Render(const std::string& text, RenderSink& sink, const RenderOptions& options = {});

    // Stops the render in progress (it returns Cancelled); without one, does nothing.
    void Cancel();

    // The speed factor of a speech-dispatcher rate (-100 to 100): half to double speed.
    static double SpeedOfRate(int rate);

private:
    std::unique_ptr<IAPI> engine_;
    uint16_t leftLevel_ = 65535;
    uint16_t rightLevel_ = 65535;
    std::mutex mutex_;  // guards running_ against Cancel
    bool running_ = false;
    std::atomic<bool> cancel_{false};
};

}  // namespace ravek
