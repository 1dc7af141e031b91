// ravek-say as a client of the engine service: Initialise, SelectVoice, Speak, then the signals
// until Speechend.
#include <gio/gio.h>
#include <glib-unix.h>

#include <csignal>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "BusInterface.h"
#include "SayModes.h"

namespace say {
namespace {

constexpr int kInitialiseTimeoutMs = 120000;  // activation plus loading the voice data
constexpr int kCallTimeoutMs = 60000;

struct ObjectUnref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};
using ConnectionPtr = std::unique_ptr<GDBusConnection, ObjectUnref>;
struct VariantUnref {
    void operator()(GVariant* v) const {
        if (v) g_variant_unref(v);
    }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;
struct ErrorFree {
    void operator()(GError* e) const {
        if (e) g_error_free(e);
    }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
struct LoopUnref {
    void operator()(GMainLoop* loop) const {
        if (loop) g_main_loop_unref(loop);
    }
};

// Prints a failed call: an engine error with its three parts, any other bus error as it stands.
void ReportCallError(const std::string& method, GError* error) {
    char* remote = g_dbus_error_get_remote_error(error);
    const std::string name = remote ? remote : "";
    g_free(remote);
    g_dbus_error_strip_remote_error(error);
    const std::string message = error->message ? error->message : "";
    if (name == kRavekErrorName) {
        if (auto parsed = ParseEngineError(message)) {
            ReportEngineError(method, *parsed);
            return;
        }
    }
    std::fprintf(stderr, "ravek-say: %s failed: %s%s%s\n", method.c_str(), message.c_str(),
                 name.empty() ? "" : " (", name.empty() ? "" : (name + ")").c_str());
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown")
        std::fprintf(stderr,
                     "ravek-say: the session bus cannot start %s; is org.ravek.RavekVoice.service in one of its "
                     "service folders?\n",
                     kRavekBusName);
}

// One conversation with the engine, from the first call to Speechend.
class Session {
public:
    Session(GDBusConnection* connection, const Request& request)
        : connection_(connection), request_(request), printer_(request.text, request.events), loop_(g_main_loop_new(nullptr, FALSE)) {}
    ~Session() {
        // A Speak still unanswered must not reach this object once it is gone.
        g_cancellable_cancel(speakCancel_.get());
        if (subscription_) g_dbus_connection_signal_unsubscribe(connection_, subscription_);
        if (watch_) g_bus_unwatch_name(watch_);
        for (guint source : sources_) g_source_remove(source);
        if (timeoutSource_) g_source_remove(timeoutSource_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int Run();

private:
    // SpeakFailed: the Speak call failed and its error is printed; GaveUp: the same for a failure
    // that is not the engine's own (the speech may have begun and is stopped).
    enum class Outcome { Running, Ended, Busy, TimedOut, Interrupted, EngineGone, SpeakFailed, GaveUp };

    bool Call(const char* method, GVariant* parameters, int timeoutMs, VariantPtr* reply = nullptr);
    std::string EngineOwner();
    void Listen(const std::string& owner);
    void StartSpeaking();
    void OnSpeakReply(GVariant* reply, GError* error);
    // Ended and Busy wait for the reply to Speak (an error in it counts more); giving up does not.
    void Finish(Outcome outcome) {
        const bool givingUp = outcome == Outcome::TimedOut || outcome == Outcome::Interrupted || outcome == Outcome::EngineGone;
        if (outcome_ != Outcome::Running && !givingUp) return;
        outcome_ = outcome;
        if (givingUp || speakAnswered_) g_main_loop_quit(loop_.get());
    }
    void OnSignal(const char* path, const char* name, GVariant* parameters);
    int Conclude();
    void StopSpeech() { Call("StopSpeak", nullptr, kCallTimeoutMs); }

    GDBusConnection* connection_;
    const Request& request_;
    EventPrinter printer_;
    std::unique_ptr<GMainLoop, LoopUnref> loop_;
    guint subscription_ = 0;
    guint watch_ = 0;
    std::vector<guint> sources_;
    guint timeoutSource_ = 0;
    Outcome outcome_ = Outcome::Running;
    bool started_ = false;  // our SpeechStart has come
    bool speakAnswered_ = false;
    std::unique_ptr<GCancellable, ObjectUnref> speakCancel_{g_cancellable_new()};
};

bool Session::Call(const char* method, GVariant* parameters, int timeoutMs, VariantPtr* reply) {
    GError* raw = nullptr;
    VariantPtr result(g_dbus_connection_call_sync(connection_, kRavekBusName, kRavekObjectPath, kRavekInterface, method,
                                                  parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &raw));
    ErrorPtr error(raw);
    if (!result) {
        ReportCallError(method, error.get());
        return false;
    }
    if (reply) *reply = std::move(result);
    return true;
}

// The unique name of the process that serves the engine now, so that only its signals count.
std::string Session::EngineOwner() {
    VariantPtr reply(g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                 "org.freedesktop.DBus", "GetNameOwner", g_variant_new("(s)", kRavekBusName),
                                                 G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr));
    if (!reply) return {};
    const gchar* owner = nullptr;
    g_variant_get(reply.get(), "(&s)", &owner);
    return owner ? owner : "";
}

void Session::Listen(const std::string& owner) {
    // Every engine object of the service: the speech that makes ours ignored may be another
    // object's.
    subscription_ = g_dbus_connection_signal_subscribe(
        connection_, owner.empty() ? nullptr : owner.c_str(), kRavekInterface, nullptr, nullptr, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar* path, const gchar*, const gchar* name, GVariant* parameters,
           gpointer self) { static_cast<Session*>(self)->OnSignal(path, name, parameters); },
        this, nullptr);
    // The engine leaving the bus (a crash, a kill) ends the wait at once.
    watch_ = g_bus_watch_name_on_connection(
        connection_, kRavekBusName, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar*, gpointer self) { static_cast<Session*>(self)->Finish(Outcome::EngineGone); },
        this, nullptr);
}

// A Speak that finds the voice output busy is ignored; the signals that follow then belong to the
// other client's speech, on the shared object or on an engine object of its own, which began
// before ours (no SpeechStart) and ends with its Speechend.
void Session::OnSignal(const char* path, const char* name, GVariant* parameters) {
    const std::string signal = name;
    if (std::string_view(path ? path : "") != kRavekObjectPath) {
        if (!started_ && signal == "Speechend") Finish(Outcome::Busy);
    } else if (signal == "SpeechStart") {
        started_ = true;
        printer_.SpeechStart();
    } else if (!started_) {
        if (signal == "Speechend") Finish(Outcome::Busy);
    } else if (signal == "WordStart" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(i)"))) {
        gint32 index = 0;
        g_variant_get(parameters, "(i)", &index);
        printer_.WordStart(index);
    } else if (signal == "Speechend") {
        printer_.Speechend();
        Finish(Outcome::Ended);
    }
}

int Session::Run() {
    if (!Call("Initialise", nullptr, kInitialiseTimeoutMs)) return kExitFailure;
    Listen(EngineOwner());
    if (!Call("SelectVoice", g_variant_new("(i)", request_.voice), kCallTimeoutMs)) return kExitFailure;

    const int timeoutMs = SpeechTimeoutMilliseconds(request_);
    timeoutSource_ = g_timeout_add(static_cast<guint>(timeoutMs), [](gpointer self) -> gboolean {
        auto* s = static_cast<Session*>(self);
        s->timeoutSource_ = 0;  // removed on return
        s->Finish(Outcome::TimedOut);
        return G_SOURCE_REMOVE;
    }, this);
    for (int signum : {SIGINT, SIGTERM})
        sources_.push_back(g_unix_signal_add(signum, [](gpointer self) -> gboolean {
            static_cast<Session*>(self)->Finish(Outcome::Interrupted);
            return G_SOURCE_CONTINUE;
        }, this));
    StartSpeaking();
    g_main_loop_run(loop_.get());
    return Conclude();
}

// Speak is called without blocking, with the speech time-out as its own: a long preparation is
// waited for as long as the speech itself, and a time-out or an interruption meanwhile is seen
// at once.
void Session::StartSpeaking() {
    g_dbus_connection_call(
        connection_, kRavekBusName, kRavekObjectPath, kRavekInterface, "Speak", g_variant_new("(s)", request_.text.c_str()),
        nullptr, G_DBUS_CALL_FLAGS_NONE, SpeechTimeoutMilliseconds(request_), speakCancel_.get(),
        [](GObject* connection, GAsyncResult* result, gpointer self) {
            GError* raw = nullptr;
            VariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(connection), result, &raw));
            ErrorPtr error(raw);
            // Cancelled only when the session is gone: nothing to tell it.
            if (!g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
                static_cast<Session*>(self)->OnSpeakReply(reply.get(), error.get());
        },
        this);
}

void Session::OnSpeakReply(GVariant* reply, GError* error) {
    speakAnswered_ = true;
    if (!reply) {
        if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
            Finish(Outcome::TimedOut);
            return;
        }
        char* remote = g_dbus_error_get_remote_error(error);
        const bool engineError = remote && std::string_view(remote) == kRavekErrorName;
        g_free(remote);
        ReportCallError("Speak", error);
        // The engine ends a request that fails; any other failure leaves the speech to be stopped.
        outcome_ = engineError ? Outcome::SpeakFailed : Outcome::GaveUp;
        g_main_loop_quit(loop_.get());
        return;
    }
    if (outcome_ != Outcome::Running) g_main_loop_quit(loop_.get());
}

int Session::Conclude() {
    switch (outcome_) {
        case Outcome::Ended:
            return kExitOk;
        case Outcome::Busy:
            std::fprintf(stderr, "ravek-say: the engine was speaking for another client and ignored this text\n");
            return kExitFailure;
        case Outcome::TimedOut:
            StopSpeech();
            std::fprintf(stderr, "ravek-say: no Speechend from the engine within %.0f s; the speech was stopped\n",
                         SpeechTimeoutSeconds(request_));
            return kExitFailure;
        case Outcome::Interrupted:
            StopSpeech();
            return 128 + SIGINT;
        case Outcome::GaveUp:
            StopSpeech();
            return kExitFailure;
        case Outcome::EngineGone:
            std::fprintf(stderr, "ravek-say: the engine left the bus before the end of speech\n");
            return kExitFailure;
        case Outcome::SpeakFailed:
        case Outcome::Running:
            break;
    }
    return kExitFailure;
}

}  // namespace

int SpeakOnBus(const Request& request) {
    GError* raw = nullptr;
    ConnectionPtr connection(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
    ErrorPtr error(raw);
    if (!connection) {
        std::fprintf(stderr, "ravek-say: cannot connect to the session bus: %s\n", error ? error->message : "unknown error");
        return kExitFailure;
    }
    Session session(connection.get(), request);
    return session.Run();
}

}  // namespace say
