#pragma once
// sd_ravek: a speech-dispatcher output module speaking with the engine's renderer. The server
// writes commands to the module's standard input and reads replies, events and audio from its
// standard output; the audio goes to the server ("server" audio output), which plays it and
// reports each index mark to the client when playback reaches it.
//
// One thread reads commands; a speech runs on a worker thread that sends, in order:
//   701 BEGIN, then for each word the client marks placed at or before it (700) and the word's
//   audio in 705 blocks of about 10 KB, then 702 END.
// STOP is answered at once by the reading thread (703 STOP); the worker sends nothing more for
// that speech. PAUSE ends the speech at the next mark the server placed (__spd_...), after
// reporting that mark (704 PAUSE).
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ModuleProtocol.h"
#include "Renderer.h"
#include "SpeechText.h"
#include "Voices.h"

namespace sdravek {

class Module {
public:
    Module(ModuleConfig config, int inFd, int outFd);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Runs the conversation until QUIT or the end of the input; returns the exit status.
    int Run();

    static constexpr std::size_t kChunkSamples = 5120;  // 10 KiB of audio per 705 block

private:
    // What one speech shares between the worker and the reading thread.
    struct Speech {
        ravek::integration::SpeechText text;
        int32_t voice = 3;
        ravek::RenderOptions options;
        bool ended = false;  // 702, 703 or 704 sent (guarded by outMutex_)
        std::atomic<bool> pauseRequested{false};
    };
    class Sink;

    std::optional<std::string> ReadLine();
    // Lines of a data block up to the "." line, dot-unescaped; nullopt at the end of the input.
    std::optional<std::vector<std::string>> ReadBlock();
    void Send(const std::string& text);
    // Sends for a speech unless it has ended; false when it has.
    bool SendForSpeech(Speech& speech, const std::string& text, bool ends = false);
    bool Ended(Speech& speech);

    bool Init();
    void Audio();
    void LogLevel();
    void ListVoices();
    void Set();
    void Speak(const std::string& command);
    void Stop();
    void Pause();
    void EndSpeech();  // stops a speech without a reply and waits for its worker
    void RunSpeech(const std::shared_ptr<Speech>& speech);
    void Log(int level, const std::string& message) const;

    ModuleConfig config_;
    int inFd_;
    int outFd_;
    std::string inBuffer_;
    std::mutex outMutex_;
    std::unique_ptr<ravek::Renderer> renderer_;
    std::vector<ravek::integration::VoiceInfo> voices_;
    int32_t defaultVoice_ = 3;
    VoiceSettings settings_;
    int logLevel_ = 3;
    std::shared_ptr<Speech> speech_;
    std::thread worker_;
};

}  // namespace sdravek
