#include "Provider.h"

#include <glib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "AutomationError.h"
#include "SpielStream.h"

namespace ravek::spiel {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = other.Release();
    }
    return *this;
}

int UniqueFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

// One request: what the render thread produces and the writer thread sends.
struct Provider::Job {
    UniqueFd pipe;
    integration::SpeechText text;
    int32_t voice = 3;
    double speed = 1.0;

    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::string> chunks;  // framed chunks not yet written
    bool rendered = false;           // no more chunks will come
    std::atomic<bool> cancelled{false};  // the client closed its end
    std::atomic<bool> writerDone{false};

    void Push(std::string chunk) {
        std::lock_guard lock(mutex);
        chunks.push_back(std::move(chunk));
        ready.notify_one();
    }
    void Finish() {
        std::lock_guard lock(mutex);
        rendered = true;
        ready.notify_one();
    }
};

// Frames the renderer's words and blocks of one job: a WORD event before each word's audio
// (one per word: a prefix sound and its word share the word's range), then its samples.
class Provider::Sink : public RenderSink {
public:
    Sink(Renderer& renderer, Job& job) : renderer_(renderer), job_(job) {}
    void Word(int32_t wordIndex, int64_t frame) override { WordSpan(wordIndex, 1, frame); }
    void WordSpan(int32_t wordIndex, int32_t words, int64_t) override {
        if (CancelIfClosed()) return;
        const uint32_t start = static_cast<uint32_t>(std::max(wordIndex - 1, 0));
        if (start == lastStart_) return;
        lastStart_ = start;
        const auto& positions = job_.text.sourcePositions;
        // A recorded phrase is one event over all its words.
        const uint32_t end = integration::WordEnd(job_.text.text, start, static_cast<uint32_t>(std::max(words, 1)));
        if (end >= positions.size()) return;
        job_.Push(EventChunk(EventType::Word, positions[start], positions[end]));
    }
    void Pcm(const PcmBlock& block) override {
        if (CancelIfClosed()) return;
        job_.Push(AudioChunk(block.samples, block.frames * static_cast<size_t>(block.channels)));
    }

private:
    bool CancelIfClosed() {
        if (!job_.cancelled) return false;
        renderer_.Cancel();
        return true;
    }
    Renderer& renderer_;
    Job& job_;
    uint32_t lastStart_ = UINT32_MAX;
};

Provider::Provider(const RendererSettings& settings) : renderer_(settings) {
    voices_ = integration::ListVoices(renderer_);
    renderThread_ = std::thread([this] { RenderLoop(); });
}

Provider::~Provider() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        for (auto& [job, thread] : writers_) job->cancelled = true;
        queued_.notify_all();
    }
    renderer_.Cancel();
    renderThread_.join();
    for (auto& [job, thread] : writers_) {
        job->Finish();
        thread.join();
    }
}

std::string Provider::Synthesize(SynthesisRequest request) {
    if (request.pipe.Get() < 0) return "no pipe descriptor";
    int32_t voice = 3;
    if (!request.voiceId.empty() && !(voice = integration::VoiceByName(voices_, request.voiceId)))
        return "unknown voice \"" + request.voiceId + "\"";
    if (!std::isfinite(request.rate) || request.rate <= 0 || request.rate > 10) return "rate must be above 0 and at most 10";
    if (!std::isfinite(request.pitch) || request.pitch <= 0) return "pitch must be above 0";
    if (!request.language.empty() && g_ascii_strncasecmp(request.language.c_str(), "he", 2) != 0)
        return "language \"" + request.language + "\" is not spoken; the voices speak Hebrew (he)";
    auto job = std::make_shared<Job>();
    job->text = request.isSsml ? integration::SsmlText(request.text) : integration::PlainText(request.text);
    if (job->text.text.find_first_not_of(" \t\r\n") == std::string::npos) return "the text is empty";
    job->pipe = std::move(request.pipe);
    job->voice = voice;
    job->speed = request.rate;  // 1 normal; the pitch is kept whatever the client asks
    std::lock_guard lock(mutex_);
    ReapWriters();
    writers_.emplace_back(job, std::thread([this, job] { WriteLoop(*job); }));
    queue_.push_back(job);
    queued_.notify_one();
    return "";
}

bool Provider::Busy() {
    std::lock_guard lock(mutex_);
    ReapWriters();
    return !writers_.empty();
}

void Provider::ReapWriters() {
    for (auto it = writers_.begin(); it != writers_.end();) {
        if (it->first->writerDone) {
            it->second.join();
            it = writers_.erase(it);
        } else {
            ++it;
        }
    }
}

void Provider::RenderLoop() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(mutex_);
            queued_.wait(lock, [&] { return quit_ || !queue_.empty(); });
            if (quit_) return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        if (!job->cancelled) RenderJob(*job);
        job->Finish();
    }
}

void Provider::RenderJob(Job& job) {
    try {
        renderer_.SelectVoice(job.voice);
        Sink sink(renderer_, job);
        renderer_.Render(job.text.text, sink, {.mono = true, .speed = job.speed});
    } catch (const AutomationError& e) {
        // The stream ends without audio; the client sees the end of the pipe.
        std::fprintf(stderr, "ravek-speech-provider: engine error %d: %s\n", e.Number(), e.Description().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ravek-speech-provider: %s\n", e.what());
    }
}

void Provider::WriteLoop(Job& job) {
    // Non-blocking writes with a wait in between, so that a job dropped at shutdown does not
    // hang on a client that stopped reading.
    ::fcntl(job.pipe.Get(), F_SETFL, ::fcntl(job.pipe.Get(), F_GETFL) | O_NONBLOCK);
    auto writeAll = [&](const std::string& bytes) {
        for (size_t at = 0; at < bytes.size();) {
            if (job.cancelled) return false;
            const ssize_t n = ::write(job.pipe.Get(), bytes.data() + at, bytes.size() - at);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                pollfd out{job.pipe.Get(), POLLOUT, 0};
                ::poll(&out, 1, 200);
                continue;
            }
            if (n <= 0) return false;  // EPIPE: the client closed its end
            at += static_cast<size_t>(n);
        }
        return true;
    };
    bool open = writeAll(StreamHeader());
    while (open) {
        std::unique_lock lock(job.mutex);
        job.ready.wait(lock, [&] { return !job.chunks.empty() || job.rendered; });
        if (job.chunks.empty()) break;
        std::string chunk = std::move(job.chunks.front());
        job.chunks.pop_front();
        lock.unlock();
        open = writeAll(chunk) && !job.cancelled;
    }
    if (!open) job.cancelled = true;
    job.pipe.Reset();  // the end of the stream
    {
        std::lock_guard lock(job.mutex);
        job.chunks.clear();
    }
    job.writerDone = true;
}

}  // namespace ravek::spiel
