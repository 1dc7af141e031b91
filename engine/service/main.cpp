// RavekVoice: the engine service. Started by the session bus on the first call to
// org.ravek.RavekVoice; serves one engine object until the bus goes away.
#include <gio/gio.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "DBusAdapter.h"
#include "IAPI.h"
#include "BusInterface.h"

namespace {

struct ServiceContext {
    IAPI engine;
    std::unique_ptr<DBusAdapter> adapter;
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
        "org.ravek.RavekVoice.IAPI). The bus starts it on demand; there is no need to run it by hand.\n"
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
    ctx.adapter = std::make_unique<DBusAdapter>(ctx.engine);
    ctx.loop = g_main_loop_new(nullptr, FALSE);
    guint owner = g_bus_own_name(
        G_BUS_TYPE_SESSION, kRavekBusName, G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection* connection, const gchar*, gpointer data) {
            auto* c = static_cast<ServiceContext*>(data);
            if (!c->adapter->Register(connection)) {
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
    g_main_loop_run(ctx.loop);
    g_bus_unown_name(owner);
    ctx.adapter.reset();
    g_main_loop_unref(ctx.loop);
    return ctx.exitCode;
}
