#include "Renderer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "AutomationError.h"
#include "ClipAudio.h"
#include "IAPI.h"
#include "mDump.h"
#include "mIndexFiles.h"
#include "mLog.h"
#include "mMedia.h"
#include "mSpeak.h"

namespace fs = std::filesystem;

namespace ravek {
namespace {

// Where the audio of one playlist entry comes from: a whole file, or a byte range (1-based
// position) of a dictionary binary file. No path: the entry plays nothing (the engine skips it).
struct ClipSource {
    std::string path;
    int64_t position = 0;  // 0: the whole file
    int64_t length = 0;

    std::string Key() const { return path + '\n' + std::to_string(position) + ':' + std::to_string(length); }
};

void Log(const mLog::Log& log, const std::string& line) {
    try {
        if (log.Progress()) log.LogWrite(line);
    } catch (...) {
        // Rendering goes on when the log cannot be written.
    }
}

std::string SilencePath() { return (fs::path(mMedia::DataFolder()) / "Silence.mp3").string(); }

const std::string* SystemRecording(const EngineState& state, const std::string& name) {
    const auto& dict = state.SystemDictionaries[EngineState::DataSlot(state.ActiveVoice)];
    return dict ? dict->Find(name) : nullptr;
}

// A file the engine would hand to its media device: the file itself; for no name at all, the
// engine's silence recording; a name of no file plays nothing (the device cannot open it).
ClipSource FileSource(const mLog::Log& log, const std::string& path) {
    if (path.empty()) return ClipSource{SilencePath()};
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        Log(log, "ERROR " + path + " could not be played (no such file); going on with the next entry");
        return ClipSource{};
    }
    return ClipSource{path};
}

// What the engine plays for an item, following its playlist: words their recording or their
// dictionary clip, sounds their file or system recording (silence when there is none), letters
// their system recording. Nothing for what the playlist leaves out (breaks, empty texts, letters
// without a recording); a listed entry whose clip cannot be found has a source without a path.
std::optional<ClipSource> SourceOf(const EngineState& state, const SpeechItem& item) {
    if (item.Text.empty()) return std::nullopt;
    switch (item.Kind) {
        case ItemKind::Word:
            if (item.Source == ItemSource::FromDictionary) {
                try {
                    const mDump::ClipLocation clip = mDump::LocateClip(state, state.ActiveVoice, item.Text);
                    return ClipSource{clip.BinPath, clip.Position, clip.Length};
                } catch (const std::exception& e) {
                    Log(state.Log, "Dump word (" + item.Text + ") FAILED: " + e.what());
                    return ClipSource{};
                }
            }
            return FileSource(state.Log, item.File);
        case ItemKind::Sound: {
            if (!item.File.empty()) return FileSource(state.Log, item.File);
            const std::string* system = SystemRecording(state, item.Text);
            return FileSource(state.Log, system ? *system : std::string());
        }
        case ItemKind::Letter: {
            const std::string* system = SystemRecording(state, item.Text);
            if (!system) return std::nullopt;
            return FileSource(state.Log, *system);
        }
        default:
            return std::nullopt;
    }
}

bool RaisesWordStart(ItemKind kind) { return kind == ItemKind::Word || kind == ItemKind::Sound; }

// A recorded phrase holds its words joined by single blanks.
int32_t WordsSpoken(const SpeechItem& item) {
    if (item.Kind != ItemKind::Word) return 1;
    return 1 + static_cast<int32_t>(std::count(item.Text.begin(), item.Text.end(), ' '));
}

std::vector<char> ReadWholeFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        RuntimeErrors::Raise(RuntimeErrors::FileNotFound, path);
    return mIndexFiles::ReadClip(path, 1, info.st_size);
}

// The engine's device speed (1000 + offset) as a tempo: a speed the media layer refuses (zero,
// negative, above 100000) leaves the device at its normal speed.
double EngineTempo(int32_t offset) {
    int32_t speed = 0;
    if (__builtin_add_overflow(1000, offset, &speed))
        RuntimeErrors::Raise(RuntimeErrors::Overflow, "speed 1000 + " + std::to_string(offset));
    if (speed <= 0 || speed > 100000) return 1.0;
    return speed / 1000.0;
}

uint16_t LevelOfPercent(int16_t percent) {
    const int p = std::clamp<int>(percent, 1, 100);
    return static_cast<uint16_t>(static_cast<int64_t>(65535.0 / (100.0 / p)));  // as SetSystemVolume
}

// Turns mono clips into output blocks: channel levels, gain, frame count, cancellation.
class Output {
public:
    Output(RenderSink& sink, const RenderOptions& options, uint16_t left, uint16_t right, const std::atomic<bool>& cancel)
        : sink_(sink), channels_(options.mono ? 1 : 2), gain_(std::max(0.0, options.gain)), cancel_(cancel) {
        levels_[0] = options.mono ? static_cast<uint16_t>((left + right) / 2) : left;
        levels_[1] = right;
        block_.resize(Renderer::kMaxBlockFrames * static_cast<size_t>(channels_));
    }

    int64_t Frames() const { return frames_; }

    // False when cancelled part way.
    bool Deliver(const std::vector<int16_t>& mono) {
        for (size_t at = 0; at < mono.size();) {
            if (cancel_.load()) return false;
            const size_t n = std::min(Renderer::kMaxBlockFrames, mono.size() - at);
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < channels_; ++c) block_[i * channels_ + c] = Scaled(mono[at + i], levels_[c]);
            sink_.Pcm(PcmBlock{block_.data(), n, channels_, frames_});
            frames_ += static_cast<int64_t>(n);
            at += n;
        }
        return !cancel_.load();
    }

private:
    // The level as the media layer applies it (truncated toward zero), then the gain.
    int16_t Scaled(int16_t sample, uint16_t level) const {
        const int32_t leveled = level == 65535 ? sample : int32_t{sample} * level / 65535;
        if (gain_ == 1.0) return static_cast<int16_t>(leveled);
        return static_cast<int16_t>(std::clamp<long>(std::lround(leveled * gain_), INT16_MIN, INT16_MAX));
    }

    RenderSink& sink_;
    int channels_;
    double gain_;
    const std::atomic<bool>& cancel_;
    uint16_t levels_[2] = {65535, 65535};
    std::vector<int16_t> block_;
    int64_t frames_ = 0;
};

// Decoded clips of one render, by source: a text repeats words, and decoding dominates the time.
class ClipCache {
public:
    std::shared_ptr<const std::vector<int16_t>> Find(const std::string& key) const {
        auto it = clips_.find(key);
        return it == clips_.end() ? nullptr : it->second;
    }
    void Add(const std::string& key, std::shared_ptr<const std::vector<int16_t>> clip) {
        if (samples_ + clip->size() > kLimit) return;
        samples_ += clip->size();
        clips_.emplace(key, std::move(clip));
    }

private:
    static constexpr size_t kLimit = 16 * 1024 * 1024;  // samples (32 MB)
    std::map<std::string, std::shared_ptr<const std::vector<int16_t>>> clips_;
    size_t samples_ = 0;
};

// The item's audio at the render's tempo; null when it cannot be played (logged) or the render
// was cancelled while the tempo changed.
std::shared_ptr<const std::vector<int16_t>> ClipAudioOf(const mLog::Log& log, const ClipSource& source, double tempo,
                                                        ClipCache& cache,
                                                        const std::atomic<bool>& cancel) {
    if (source.path.empty()) return nullptr;
    const std::string key = source.Key();
    if (auto cached = cache.Find(key)) return cached;
    std::string reason;
    std::optional<std::vector<int16_t>> samples;
    try {
        const std::vector<char> bytes = source.position > 0 ? mIndexFiles::ReadClip(source.path, source.position, source.length)
                                                            : ReadWholeFile(source.path);
        samples = ClipAudio::DecodeMono(bytes, reason);
        if (samples && tempo != 1.0) samples = ClipAudio::ChangeTempo(*samples, tempo, cancel, reason);
    } catch (const std::exception& e) {
        reason = e.what();
    }
    if (!samples) {
        if (!cancel.load()) Log(log, "ERROR " + source.path + " could not be played (" + reason + "); going on with the next entry");
        return nullptr;
    }
    auto clip = std::make_shared<const std::vector<int16_t>>(std::move(*samples));
    cache.Add(key, clip);
    return clip;
}

}  // namespace

Renderer::Renderer(const RendererSettings& settings) : engine_(std::make_unique<IAPI>()) {
    engine_->SetRegistryFile(settings.registryFile);
    engine_->Initialise();
    // Scratch-file settings: the renderer writes no files, and what is heard does not depend on them.
    engine_->State().Settings.ConvertMP32WAV = false;
    engine_->State().Settings.AvoidShortNames = false;
    engine_->SelectVoice(settings.voice);
}

Renderer::~Renderer() = default;

void Renderer::SelectVoice(int32_t voice) { engine_->SelectVoice(voice); }

std::string Renderer::VoiceName(int32_t voice) const { return engine_->ListVoiceName(voice); }

void Renderer::SetSystemVolume(int16_t leftPercent, int16_t rightPercent) {
    leftLevel_ = LevelOfPercent(leftPercent);
    rightLevel_ = LevelOfPercent(rightPercent);
}

void Renderer::Cancel() {
    std::lock_guard lock(mutex_);
    if (running_) cancel_ = true;
}

double Renderer::SpeedOfRate(int rate) { return std::pow(2.0, std::clamp(rate, -100, 100) / 100.0); }

RenderResult Renderer::Render(const std::string& text, RenderSink& sink, const RenderOptions& options) {
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        cancel_ = false;
    }
    struct Running {
        Renderer& r;
        ~Running() {
            std::lock_guard lock(r.mutex_);
            r.running_ = false;
            r.cancel_ = false;
        }
    } running{*this};

    EngineState& state = engine_->State();
    const std::vector<SpeechItem> items = mSpeak::PrepareForRender(state, text);
    const double tempo = std::clamp(EngineTempo(state.Settings.PlaybackAccelerationRate) * options.speed, 0.1, 10.0);
    if (cancel_.load()) return RenderResult::Cancelled;
    sink.Started();
    Output output(sink, options, leftLevel_, rightLevel_, cancel_);
    ClipCache cache;
    for (const SpeechItem& item : items) {
        if (cancel_.load()) return RenderResult::Cancelled;
        const std::optional<ClipSource> source = SourceOf(state, item);
        if (!source) continue;
        if (RaisesWordStart(item.Kind)) sink.WordSpan(item.Position, WordsSpoken(item), output.Frames());
        if (cancel_.load()) return RenderResult::Cancelled;
        const auto clip = ClipAudioOf(state.Log, *source, std::abs(tempo - 1.0) < 1e-9 ? 1.0 : tempo, cache, cancel_);
        if (clip && !output.Deliver(*clip)) return RenderResult::Cancelled;
    }
    return cancel_.load() ? RenderResult::Cancelled : RenderResult::Completed;
}

}  // namespace ravek
