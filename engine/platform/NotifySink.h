#pragma once
// Delivers multimedia completion notifications (message 953, MM_MCINOTIFY, with its wParam) to
// the engine's handler on the GLib main loop of the engine's thread, one at a time, in the order
// they were posted. Stands in for the hidden notification window.
#include <cstdint>
#include <functional>
#include <memory>

class NotifySink {
public:
    static constexpr uint32_t MM_MCINOTIFY = 953;
    using Handler = std::function<int32_t(uint32_t message, long wParam, long lParam)>;

    NotifySink();
    ~NotifySink();
    NotifySink(const NotifySink&) = delete;
    NotifySink& operator=(const NotifySink&) = delete;

    // After this, every `message` posted to the sink reaches `handler`.
    void AttachHandler(Handler handler, uint32_t message);
    // Queues a message for the main loop; safe to call from any thread.
    void Post(uint32_t message, long wParam, long lParam = 0);
    // Runs queued messages now (tests and the in-process renderer drive the loop this way).
    void DispatchPending();
    // A number that identifies the sink (the "window handle" named in command texts).
    long Handle() const;

    struct Impl;  // public so that queued messages can refer to it weakly

private:
    std::shared_ptr<Impl> impl_;
};
