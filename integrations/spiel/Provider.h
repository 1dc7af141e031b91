#pragma once
// The engine as a Spiel speech provider: each Synthesize request becomes a job that renders the
// text and writes the framed stream into the client's pipe.
//
// One thread renders the jobs in the order they came (the renderer serves one text at a time, and
// it renders much faster than speech plays); each job has its own writer thread that feeds the
// client's pipe at the client's pace, so a slow reader holds up nobody else. A client cancels by
// closing its end: the writer sees EPIPE, the job is dropped, and its render is cancelled if it
// is running.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Renderer.h"
#include "SpeechText.h"
#include "Voices.h"

namespace ravek::spiel {

// A file descriptor closed on destruction.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    int Get() const { return fd_; }
    int Release();
    void Reset();

private:
    int fd_;
};

struct SynthesisRequest {
    UniqueFd pipe;
    std::string text;
    std::string voiceId;  // empty: the default voice
    double pitch = 1.0;
    double rate = 1.0;
    bool isSsml = false;
    std::string language;  // empty or Hebrew
};

class Provider {
public:
    explicit Provider(const RendererSettings& settings = {});
    ~Provider();
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;

    const std::vector<integration::VoiceInfo>& Voices() const { return voices_; }
    // Checks the request and queues it; returns an error message for a request it refuses
    // (nothing is written to the pipe then), or "".
    std::string Synthesize(SynthesisRequest request);
    // True while a request is queued, rendering or still being written to its client.
    bool Busy();

private:
    struct Job;
    class Sink;
    void RenderLoop();
    void RenderJob(Job& job);
    void WriteLoop(Job& job);
    void ReapWriters();

    Renderer renderer_;
    std::vector<integration::VoiceInfo> voices_;
    std::mutex mutex_;  // guards queue_, writers_, quit_
    std::condition_variable queued_;
    std::deque<std::shared_ptr<Job>> queue_;
    std::list<std::pair<std::shared_ptr<Job>, std::thread>> writers_;
    bool quit_ = false;
    std::thread renderThread_;
};

}  // namespace ravek::spiel
