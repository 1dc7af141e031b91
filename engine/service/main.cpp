// RavekVoice: the engine service. Started by the session bus on the first call to
// org.ravek.RavekVoice; serves the shared engine object and the engine objects clients make
// through the factory until the bus goes away.
#include <gio/gio.h>
#include <glib-unix.h>

#include <csignal>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "BusInterface.h"
#include "EngineFactory.h"

namespace {

struct ServiceContext {
    std::unique_ptr<EngineFactory> engines;
    GMainLoop* loop = nullptr;
    int exitCode = 0;
    bool ownedName = false;
};

void PrintHelp() {
    std::puts(
        "Usage: RavekVoice [--help]\n"
        "\n"
        "The RavekVoice Hebrew text-to-speech engine. It owns the bus name org.ravek.RavekVoice\n"
        "on the session bus and serves the object /org/ravek/RavekVoice (interface\n"
        "org.ravek.RavekVoice.IAPI), one engine shared by every caller. The bus starts it on demand;\n"
        "there is no need to run it by hand.\n"
        "\n"
        "The factory (interface org.ravek.RavekVoice.Factory on the same object) gives a client engine\n"
        "objects of its own: CreateInstance() returns the path of a new, uninitialised engine object\n"
        "/org/ravek/RavekVoice/Instance/N with the IAPI interface and its own signals. Only the\n"
        "connection that created it may call it; it goes away, its speech stopped, on Release(path)\n"
        "or when that connection leaves the bus. There is one voice output: a Speak on any engine\n"
        "object while another object speaks is ignored.\n"
        "\n"
        "Settings come from the registry file $RAVEK_REGISTRY (default /etc/ravek/registry.reg).");
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintHelp();
            return 0;
        }
        std::fprintf(stderr, "RavekVoice: unknown option %s (try --help)\n", argv[i]);
        return 2;
    }
    ServiceContext ctx;
    ctx.engines = std::make_unique<EngineFactory>();
    ctx.loop = g_main_loop_new(nullptr, FALSE);
    guint owner = g_bus_own_name(
        G_BUS_TYPE_SESSION, kRavekBusName, G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection* connection, const gchar*, gpointer data) {
            auto* c = static_cast<ServiceContext*>(data);
            if (!c->engines->Register(connection)) {
                c->exitCode = 1;
                g_main_loop_quit(c->loop);
            }
        },
        [](GDBusConnection*, const gchar*, gpointer data) { static_cast<ServiceContext*>(data)->ownedName = true; },
        [](GDBusConnection* connection, const gchar* name, gpointer data) {
            auto* c = static_cast<ServiceContext*>(data);
            // The bus closing after the service has run (the end of a session) is the normal end.
            if (!(c->ownedName && connection == nullptr)) {
                std::fprintf(stderr, "RavekVoice: lost or could not own the bus name %s\n", name);
                c->exitCode = 1;
            }
            g_main_loop_quit(c->loop);
        },
        &ctx, nullptr);
    // SIGTERM and SIGINT end the service as the end of the session does: the main loop returns
    // and every engine object goes away, stopping its speech and removing its working folder.
    std::vector<guint> signalSources;
    for (int signum : {SIGTERM, SIGINT})
        signalSources.push_back(g_unix_signal_add(signum, [](gpointer data) -> gboolean {
            g_main_loop_quit(static_cast<ServiceContext*>(data)->loop);
            return G_SOURCE_CONTINUE;
        }, &ctx));
    g_main_loop_run(ctx.loop);
    for (guint source : signalSources) g_source_remove(source);
    g_bus_unown_name(owner);
    ctx.engines.reset();
    g_main_loop_unref(ctx.loop);
    return ctx.exitCode;
}
