#include "Module.h"

#include <glib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "AutomationError.h"

namespace sdravek {
namespace {

constexpr const char* kBadSyntax = "302 ERROR BAD SYNTAX";
constexpr const char* kBadParam = "303 ERROR INVALID PARAMETER OR VALUE";
constexpr const char* kCantSpeak = "301 ERROR CANT SPEAK";
constexpr const char* kUnknownCommand = "300 ERR UNKNOWN COMMAND";
constexpr std::size_t kMaxLine = 1 << 20;   // longer command lines are refused
constexpr std::size_t kMaxText = 16 << 20;  // longer texts are refused

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The text of a KEY command: a single character as it is, a key name with blanks for underscores.
std::string KeyText(const std::string& key) {
    if (key == "space") return " ";
    if (g_utf8_strlen(key.c_str(), -1) == 1) return key;
    std::string text = key;
    for (char& c : text)
        if (c == '_') c = ' ';
    return text;
}

}  // namespace

// Turns the renderer's words and blocks into marks and 705 blocks of one speech.
class Module::Sink : public ravek::RenderSink {
public:
    Sink(Module& module, Speech& speech) : module_(module), speech_(speech) {}

    void Word(int32_t wordIndex, int64_t) override {
        if (module_.Ended(speech_)) return Stop();
        Flush();
        SendMarksBefore(static_cast<uint32_t>(std::max(wordIndex - 1, 0)));
    }
    void Pcm(const ravek::PcmBlock& block) override {
        pending_.insert(pending_.end(), block.samples, block.samples + block.frames * block.channels);
        std::size_t at = 0;
        for (; pending_.size() - at >= kChunkSamples && !stopped_; at += kChunkSamples) SendChunk(pending_.data() + at, kChunkSamples);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    // After the render: the rest of the audio, the marks after the last word.
    void Finish() {
        Flush();
        SendMarksBefore(UINT32_MAX);
    }
    bool Stopped() const { return stopped_; }

private:
    void Flush() {
        if (!pending_.empty() && !stopped_) SendChunk(pending_.data(), pending_.size());
        pending_.clear();
    }
    void SendChunk(const int16_t* samples, std::size_t count) {
        if (!module_.SendForSpeech(speech_, AudioBlock(samples, count))) Stop();
    }
    void SendMarksBefore(uint32_t position) {
        const auto& marks = speech_.text.marks;
        for (; next_ < marks.size() && marks[next_].position <= position && !stopped_; ++next_) {
            const std::string& name = marks[next_].name;
            if (!module_.SendForSpeech(speech_, "700-" + name + "\n700 INDEX MARK\n")) return Stop();
            if (speech_.pauseRequested && StartsWith(name, "__spd_")) {
                module_.SendForSpeech(speech_, "704 PAUSE\n", true);
                return Stop();
            }
        }
    }
    void Stop() {
        stopped_ = true;
        module_.renderer_->Cancel();
    }

    Module& module_;
    Speech& speech_;
    std::vector<int16_t> pending_;
    std::size_t next_ = 0;  // next mark to send
    bool stopped_ = false;
};

Module::Module(ModuleConfig config, int inFd, int outFd) : config_(std::move(config)), inFd_(inFd), outFd_(outFd) {}

Module::~Module() { EndSpeech(); }

void Module::Log(int level, const std::string& message) const {
    if (level <= logLevel_) std::fprintf(stderr, "sd_ravek: %s\n", message.c_str());
}

std::optional<std::string> Module::ReadLine() {
    for (;;) {
        const size_t nl = inBuffer_.find('\n');
        if (nl != std::string::npos) {
            std::string line = inBuffer_.substr(0, nl);
            inBuffer_.erase(0, nl + 1);
            return line;
        }
        if (inBuffer_.size() > kMaxLine) return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::read(inFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        inBuffer_.append(buffer, static_cast<size_t>(n));
    }
}

std::optional<std::vector<std::string>> Module::ReadBlock() {
    std::vector<std::string> lines;
    std::size_t size = 0;
    for (;;) {
        std::optional<std::string> line = ReadLine();
        if (!line) return std::nullopt;
        if (*line == ".") return lines;
        if (StartsWith(*line, ".")) line->erase(0, 1);
        size += line->size() + 1;
        if (size > kMaxText) return std::nullopt;
        lines.push_back(std::move(*line));
    }
}

void Module::Send(const std::string& text) {
    std::lock_guard lock(outMutex_);
    for (size_t at = 0; at < text.size();) {
        const ssize_t n = ::write(outFd_, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the server is gone; the end of the input follows
        at += static_cast<size_t>(n);
    }
}

bool Module::Ended(Speech& speech) {
    std::lock_guard lock(outMutex_);
    return speech.ended;
}

bool Module::SendForSpeech(Speech& speech, const std::string& text, bool ends) {
    std::lock_guard lock(outMutex_);
    if (speech.ended) return false;
    speech.ended = ends;
    for (size_t at = 0; at < text.size();) {
        const ssize_t n = ::write(outFd_, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

int Module::Run() {
    while (std::optional<std::string> line = ReadLine()) {
        const std::string& command = *line;
        if (command == "INIT") {
            if (!Init()) return 1;
        } else if (command == "QUIT") {
            EndSpeech();
            Send("210 OK QUIT\n");
            return 0;
        } else if (command == "STOP") {
            Stop();
        } else if (command == "PAUSE") {
            Pause();
        } else if (command == "AUDIO") {
            Audio();
        } else if (command == "LOGLEVEL") {
            LogLevel();
        } else if (StartsWith(command, "DEBUG")) {
            Send(command == "DEBUG OFF" || StartsWith(command, "DEBUG ON ") ? "200 OK DEBUGGING\n" : std::string(kBadSyntax) + "\n");
        } else if (!renderer_ && (command == "LIST VOICES" || command == "SET" || command == "SPEAK" ||
                                  command == "CHAR" || command == "KEY" || command == "SOUND_ICON")) {
            Send("300-the module was not initialised (INIT)\n300 MODULE ERROR\n");
            if (command != "LIST VOICES" && !ReadBlock()) break;
        } else if (command == "LIST VOICES") {
            ListVoices();
        } else if (command == "SET") {
            Set();
        } else if (command == "SPEAK" || command == "CHAR" || command == "KEY" || command == "SOUND_ICON") {
            Speak(command);
        } else {
            Send(std::string(kUnknownCommand) + "\n");
        }
    }
    EndSpeech();
    return 0;
}

bool Module::Init() {
    if (renderer_) {
        Send("299-already initialised\n299 OK LOADED SUCCESSFULLY\n");
        return true;
    }
    try {
        renderer_ = std::make_unique<ravek::Renderer>(ravek::RendererSettings{config_.registry, 3});
    } catch (const AutomationError& e) {
        const std::string message = "engine error " + std::to_string(e.Number()) + " in " + e.Source() + ": " + e.Description();
        Log(1, message);
        Send("399-" + message + "\n399 ERR CANT INIT MODULE\n");
        return false;
    } catch (const std::exception& e) {
        Send(std::string("399-") + e.what() + "\n399 ERR CANT INIT MODULE\n");
        return false;
    }
    voices_ = ravek::integration::ListVoices(*renderer_);
    if (!config_.defaultVoice.empty()) {
        if (const int32_t named = ravek::integration::VoiceByName(voices_, config_.defaultVoice)) defaultVoice_ = named;
        else Log(1, "RavekDefaultVoice \"" + config_.defaultVoice + "\" names no voice; using the male dictionary voice");
    }
    Send("299-RavekVoice: " + std::to_string(voices_.size()) + " voices\n299 OK LOADED SUCCESSFULLY\n");
    return true;
}

void Module::Audio() {
    Send("207 OK RECEIVING AUDIO SETTINGS\n");
    std::optional<std::vector<std::string>> lines = ReadBlock();
    if (!lines) return;
    const char* reply = "203 OK AUDIO INITIALIZED";
    for (const std::string& line : *lines) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == line.size()) reply = kBadSyntax;
        // The audio goes to the server; any other output method is refused so that the server
        // knows the module cannot play by itself.
        else if (line.compare(0, eq, "audio_output_method") == 0 && line.substr(eq + 1) != "server" && reply[0] == '2')
            reply = kBadParam;
    }
    Send(std::string(reply) + "\n");
}

void Module::LogLevel() {
    Send("207 OK RECEIVING LOGLEVEL SETTINGS\n");
    std::optional<std::vector<std::string>> lines = ReadBlock();
    if (!lines) return;
    const char* reply = "203 OK LOGLEVEL SET";
    for (const std::string& line : *lines) {
        const size_t eq = line.find('=');
        int level = 0;
        if (eq == std::string::npos) reply = kBadSyntax;
        else if (line.compare(0, eq, "log_level") != 0 || !g_ascii_isdigit(line[eq + 1]) ||
                 (level = std::atoi(line.c_str() + eq + 1)) > 5)
            reply = reply[0] == '2' ? kBadParam : reply;
        else logLevel_ = level;
    }
    Send(std::string(reply) + "\n");
}

void Module::ListVoices() {
    if (voices_.empty()) return Send("304 CANT LIST VOICES\n");
    std::string reply;
    for (const auto& voice : voices_) reply += "200-" + voice.name + "\the\t" + VariantOf(voice) + "\n";
    Send(reply + "200 OK VOICE LIST SENT\n");
}

void Module::Set() {
    Send("207 OK RECEIVING SETTINGS\n");
    std::optional<std::vector<std::string>> lines = ReadBlock();
    if (!lines) return;
    const char* reply = "203 OK SETTINGS RECEIVED";
    for (const std::string& line : *lines) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == line.size()) reply = kBadSyntax;
        else if (!ApplySetting(settings_, line.substr(0, eq), line.substr(eq + 1), voices_) && reply[0] == '2')
            reply = kBadParam;
    }
    Send(std::string(reply) + "\n");
}

void Module::Speak(const std::string& command) {
    Send("202 OK RECEIVING MESSAGE\n");
    std::optional<std::vector<std::string>> lines = ReadBlock();
    if (!lines) return;
    std::string data;
    for (size_t i = 0; i < lines->size(); ++i) data += (i ? "\n" : "") + (*lines)[i];
    if (data.empty()) return Send(std::string(kCantSpeak) + "\n");
    if (command != "SPEAK" && lines->size() > 1) return Send("305 DATA MORE THAN ONE LINE\n");
    if (speech_) {
        // The server stops a speech before it sends the next one.
        if (!Ended(*speech_)) return Send(std::string(kCantSpeak) + "\n");
        EndSpeech();
    }
    auto speech = std::make_shared<Speech>();
    if (command == "SPEAK") speech->text = ravek::integration::SsmlText(data);
    else if (command == "CHAR") speech->text = ravek::integration::PlainText(data == "space" ? " " : data);
    else if (command == "KEY") speech->text = ravek::integration::PlainText(KeyText(data));
    // SOUND_ICON: no sound icons of our own; the speech begins and ends without audio.
    speech->voice = VoiceOf(settings_, voices_, defaultVoice_);
    speech->options = {.mono = true, .speed = ravek::Renderer::SpeedOfRate(settings_.rate), .gain = GainOfVolume(settings_.volume)};
    Send("200 OK SPEAKING\n");
    speech_ = speech;
    worker_ = std::thread([this, speech] { RunSpeech(speech); });
}

void Module::RunSpeech(const std::shared_ptr<Speech>& speech) {
    if (!SendForSpeech(*speech, "701 BEGIN\n")) return;
    Sink sink(*this, *speech);
    const std::string& text = speech->text.text;
    const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
    try {
        if (!blank) {
            renderer_->SelectVoice(speech->voice);
            renderer_->Render(text, sink, speech->options);
        }
    } catch (const AutomationError& e) {
        // Nothing of this text can be spoken (error 5: no words); its marks are still reported so
        // that the client's progress goes on.
        Log(2, "engine error " + std::to_string(e.Number()) + ": " + e.Description());
    } catch (const std::exception& e) {
        Log(1, e.what());
    }
    if (sink.Stopped()) return;
    sink.Finish();
    SendForSpeech(*speech, "702 END\n", true);
}

void Module::Stop() {
    if (!speech_) return;
    if (SendForSpeech(*speech_, "703 STOP\n", true)) Log(4, "stopped");
    renderer_->Cancel();
}

void Module::Pause() {
    if (speech_) speech_->pauseRequested = true;
}

void Module::EndSpeech() {
    if (speech_) {
        {
            std::lock_guard lock(outMutex_);
            speech_->ended = true;
        }
        renderer_->Cancel();
    }
    if (worker_.joinable()) worker_.join();
    speech_.reset();
}

}  // namespace sdravek
