// ravek-speech-provider: the RavekVoice engine as a Spiel speech provider on the session bus.
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <glib-unix.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "AutomationError.h"
#include "Provider.h"
#include "SpielStream.h"

namespace {

constexpr const char* kBusName = "org.ravek.Speech.Provider";
constexpr const char* kObjectPath = "/org/ravek/Speech/Provider";
constexpr const char* kInterface = "org.freedesktop.Speech.Provider";
constexpr const char* kProviderName = "RavekVoice";

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.freedesktop.Speech.Provider">
    <method name="Synthesize">
      <arg direction="in" type="h" name="pipe_fd"/>
      <arg direction="in" type="s" name="text"/>
      <arg direction="in" type="s" name="voice_id"/>
      <arg direction="in" type="d" name="pitch"/>
      <arg direction="in" type="d" name="rate"/>
      <arg direction="in" type="b" name="is_ssml"/>
      <arg direction="in" type="s" name="language"/>
    </method>
    <property name="Name" type="s" access="read"/>
    <property name="Voices" type="a(ssstas)" access="read"/>
  </interface>
</node>)xml";

constexpr const char* kUsage =
    "Usage: ravek-speech-provider [--idle-exit SECONDS] [--help]\n"
    "\n"
    "The RavekVoice engine as a Spiel speech provider: owns org.ravek.Speech.Provider on the session\n"
    "bus and serves org.freedesktop.Speech.Provider at /org/ravek/Speech/Provider. The bus starts it\n"
    "on the first request (D-Bus activation); it reads the engine's registry file $RAVEK_REGISTRY\n"
    "(default /etc/ravek/registry.reg).\n"
    "\n"
    "Voices: the four engine voices by their registry names, Hebrew (he), in the output format\n"
    "audio/x-spiel,format=S16LE,channels=1,rate=22050 with a WORD event before each word's audio.\n"
    "Synthesize's rate is a speed factor (1 normal); the pitch is accepted and ignored.\n"
    "\n"
    "  --idle-exit SECONDS  leave the bus after SECONDS without a request to serve (default 300;\n"
    "                       0: never); the bus starts the provider again on the next request\n"
    "  --help               show this text\n";

constexpr guint kDefaultIdleExitSeconds = 300;

struct Service {
    std::unique_ptr<ravek::spiel::Provider> provider;
    GMainLoop* loop = nullptr;
    int exitCode = 0;
    guint idleExitSeconds = kDefaultIdleExitSeconds;
    gint64 lastBusy = 0;  // monotonic microseconds
    guint owner = 0;      // the name's ownership; 0 once released
};

// A provider the bus started need not hold the voice in memory for the whole session: after a
// quiet spell it leaves, and the bus starts it again for the next request.
gboolean CheckIdle(gpointer data) {
    auto& service = *static_cast<Service*>(data);
    const gint64 now = g_get_monotonic_time();
    const bool busy = service.provider->Busy();
    if (busy) service.lastBusy = now;
    if (!service.owner) {
        // The name is released; requests that reached this process before are finished first.
        if (busy) return G_SOURCE_CONTINUE;
        g_main_loop_quit(service.loop);
        return G_SOURCE_REMOVE;
    }
    if (now - service.lastBusy >= static_cast<gint64>(service.idleExitSeconds) * G_USEC_PER_SEC) {
        // Released first, so that a new request starts a new provider instead of reaching this one.
        g_bus_unown_name(service.owner);
        service.owner = 0;
    }
    return G_SOURCE_CONTINUE;
}

// Reads the options; returns the exit status for a command line that ends the program (help,
// bad usage), or -1 to go on.
int ParseOptions(int argc, char** argv, Service& service) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--idle-exit") == 0) {
            const char* value = i + 1 < argc ? argv[++i] : "";
            char* end = nullptr;
            const unsigned long long seconds = g_ascii_strtoull(value, &end, 10);
            if (*value && !*end && seconds <= 86400 * 365) {
                service.idleExitSeconds = static_cast<guint>(seconds);
                continue;
            }
            std::fprintf(stderr, "ravek-speech-provider: --idle-exit needs a number of seconds, not \"%s\"\n", value);
            return 2;
        }
        std::fprintf(stderr, "ravek-speech-provider: unknown option \"%s\"\n\n%s", argv[i], kUsage);
        return 2;
    }
    return -1;
}

GVariant* VoicesVariant(const ravek::spiel::Provider& provider) {
    GVariantBuilder voices;
    g_variant_builder_init(&voices, G_VARIANT_TYPE("a(ssstas)"));
    for (const auto& voice : provider.Voices()) {
        const char* languages[] = {"he", nullptr};
        g_variant_builder_add(&voices, "(ssst^as)", voice.name.c_str(), voice.name.c_str(), ravek::spiel::kOutputFormat,
                              static_cast<guint64>(ravek::spiel::kEventsWord), languages);
    }
    return g_variant_builder_end(&voices);
}

void HandleSynthesize(Service& service, GVariant* parameters, GDBusMethodInvocation* invocation) {
    gint32 handle = -1;
    const gchar *text = nullptr, *voice = nullptr, *language = nullptr;
    gdouble pitch = 1, rate = 1;
    gboolean ssml = FALSE;
    g_variant_get(parameters, "(h&s&sddb&s)", &handle, &text, &voice, &pitch, &rate, &ssml, &language);
    ravek::spiel::SynthesisRequest request;
    // The descriptor is taken out of the message: a copy left in it would keep the pipe open.
    GUnixFDList* fds = g_dbus_message_get_unix_fd_list(g_dbus_method_invocation_get_message(invocation));
    if (fds && handle >= 0 && handle < g_unix_fd_list_get_length(fds)) {
        gint count = 0;
        gint* stolen = g_unix_fd_list_steal_fds(fds, &count);
        for (gint i = 0; i < count; ++i) {
            if (i == handle) request.pipe = ravek::spiel::UniqueFd(stolen[i]);
            else ravek::spiel::UniqueFd discard(stolen[i]);
        }
        g_free(stolen);
    }
    request.text = text;
    request.voiceId = voice;
    request.pitch = pitch;
    request.rate = rate;
    request.isSsml = ssml;
    request.language = language;
    const std::string error = service.provider->Synthesize(std::move(request));
    if (!error.empty())
        return g_dbus_method_invocation_return_error_literal(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, error.c_str());
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

const GDBusInterfaceVTable kVTable = {
    [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* parameters,
       GDBusMethodInvocation* invocation, gpointer data) {
        if (std::strcmp(method, "Synthesize") == 0) return HandleSynthesize(*static_cast<Service*>(data), parameters, invocation);
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, "no method %s", method);
    },
    [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property, GError** error,
       gpointer data) -> GVariant* {
        const Service& service = *static_cast<Service*>(data);
        if (std::strcmp(property, "Name") == 0) return g_variant_new_string(kProviderName);
        if (std::strcmp(property, "Voices") == 0) return VoicesVariant(*service.provider);
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", property);
        return nullptr;
    },
    nullptr,
    {}};

void OnBusAcquired(GDBusConnection* connection, const gchar*, gpointer data) {
    GError* error = nullptr;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, &error);
    if (node) {
        g_dbus_connection_register_object(connection, kObjectPath, node->interfaces[0], &kVTable, data, nullptr, &error);
        g_dbus_node_info_unref(node);
    }
    if (error) {
        std::fprintf(stderr, "ravek-speech-provider: cannot serve %s: %s\n", kObjectPath, error->message);
        g_error_free(error);
    }
}

void OnNameLost(GDBusConnection* connection, const gchar*, gpointer data) {
    auto& service = *static_cast<Service*>(data);
    // Without a connection the bus has gone away: a normal end of the session.
    if (connection) std::fprintf(stderr, "ravek-speech-provider: cannot own %s on the session bus\n", kBusName);
    service.exitCode = 1;
    g_main_loop_quit(service.loop);
}

}  // namespace

int main(int argc, char** argv) {
    Service service;
    if (const int status = ParseOptions(argc, argv, service); status >= 0) return status;
    // A client that closes its pipe must not end the provider; the write reports EPIPE instead.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        service.provider = std::make_unique<ravek::spiel::Provider>();
    } catch (const AutomationError& e) {
        std::fprintf(stderr, "ravek-speech-provider: engine error %d in %s: %s\n", e.Number(), e.Source().c_str(),
                     e.Description().c_str());
        return 1;
    }
    service.loop = g_main_loop_new(nullptr, FALSE);
    service.owner = g_bus_own_name(G_BUS_TYPE_SESSION, kBusName, G_BUS_NAME_OWNER_FLAGS_NONE, OnBusAcquired, nullptr,
                                   OnNameLost, &service, nullptr);
    for (int signum : {SIGINT, SIGTERM})
        g_unix_signal_add(signum, [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        }, service.loop);
    service.lastBusy = g_get_monotonic_time();
    if (service.idleExitSeconds > 0) g_timeout_add_seconds(1, CheckIdle, &service);
    g_main_loop_run(service.loop);
    if (service.owner) g_bus_unown_name(service.owner);
    g_main_loop_unref(service.loop);
    return service.exitCode;
}
