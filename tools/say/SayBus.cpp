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
        if (subscription_) g_dbus_connection_signal_unsubscribe(connection_, subscription_);
        if (watch_) g_bus_unwatch_name(watch_);
        for (guint source : sources_) g_source_remove(source);
        if (timeoutSource_) g_source_remove(timeoutSource_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int Run();

private:
    enum class Outcome { Running, Ended, Busy, TimedOut, Interrupted, EngineGone };

    bool Call(const char* method, GVariant* parameters, int timeoutMs, VariantPtr* reply = nullptr);
    std::string EngineOwner();
    void Listen(const std::string& owner);
    void Finish(Outcome outcome) {
        if (outcome_ != Outcome::Running) return;
        outcome_ = outcome;
        g_main_loop_quit(loop_.get());
    }
    void OnSignal(const char* path, const char* name, GVariant* parameters);
    int Conclude();

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

    const double timeout = SpeechTimeoutSeconds(request_);
    timeoutSource_ = g_timeout_add(static_cast<guint>(timeout * 1000), [](gpointer self) -> gboolean {
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

    if (!Call("Speak", g_variant_new("(s)", request_.text.c_str()), kCallTimeoutMs)) return kExitFailure;
    if (outcome_ == Outcome::Running) g_main_loop_run(loop_.get());
    return Conclude();
}

int Session::Conclude() {
    switch (outcome_) {
        case Outcome::Ended:
            return kExitOk;
        case Outcome::Busy:
            std::fprintf(stderr, "ravek-say: the engine was speaking for another client and ignored this text\n");
            return kExitFailure;
        case Outcome::TimedOut:
            std::fprintf(stderr, "ravek-say: no Speechend from the engine within %.0f s; stopping the speech\n",
                         SpeechTimeoutSeconds(request_));
            Call("StopSpeak", nullptr, kCallTimeoutMs);
            return kExitFailure;
        case Outcome::Interrupted:
            Call("StopSpeak", nullptr, kCallTimeoutMs);
            return 128 + SIGINT;
        case Outcome::EngineGone:
            std::fprintf(stderr, "ravek-say: the engine left the bus before the end of speech\n");
            return kExitFailure;
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
