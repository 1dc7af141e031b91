#include "PrivateBus.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace ravektest {

CallResult::CallResult(CallResult&& other) noexcept { *this = std::move(other); }

CallResult& CallResult::operator=(CallResult&& other) noexcept {
    if (this != &other) {
        if (reply) g_variant_unref(reply);
        reply = other.reply;
        other.reply = nullptr;
        errorName = std::move(other.errorName);
        errorMessage = std::move(other.errorMessage);
    }
    return *this;
}

CallResult::~CallResult() {
    if (reply) g_variant_unref(reply);
}

int CallResult::errorNumber() const {
    try {
        return std::stoi(errorMessage.substr(0, errorMessage.find('|')));
    } catch (...) {
        return -1;
    }
}

std::string CallResult::errorSource() const {
    size_t a = errorMessage.find('|');
    size_t b = errorMessage.find('|', a + 1);
    return a == std::string::npos || b == std::string::npos ? "" : errorMessage.substr(a + 1, b - a - 1);
}

std::string CallResult::errorDescription() const {
    size_t a = errorMessage.find('|');
    size_t b = errorMessage.find('|', a + 1);
    return b == std::string::npos ? "" : errorMessage.substr(b + 1);
}

PrivateBus::PrivateBus(const std::string& serviceDir) {
    char dirTemplate[] = "/tmp/ravek-bus-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir) throw std::runtime_error("cannot create a folder for the test bus");
    configPath_ = std::string(dir) + "/session.conf";
    std::ofstream(configPath_) << "<busconfig>\n"
                                  "  <type>session</type>\n"
                                  "  <listen>unix:dir=" << dir << "</listen>\n"
                                  "  <servicedir>" << serviceDir << "</servicedir>\n"
                                  "  <policy context=\"default\">\n"
                                  "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                                  "    <allow eavesdrop=\"true\"/>\n"
                                  "    <allow own=\"*\"/>\n"
                                  "  </policy>\n"
                                  "</busconfig>\n";
    std::string configArg = "--config-file=" + configPath_;
    const gchar* argv[] = {"dbus-daemon", configArg.c_str(), "--nofork", "--print-address", nullptr};
    gint out = -1;
    GError* error = nullptr;
    if (!g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                  &daemonPid_, nullptr, &out, nullptr, &error)) {
        std::string msg = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot start dbus-daemon: " + msg);
    }
    std::string line;
    char c = 0;
    while (read(out, &c, 1) == 1 && c != '\n') line.push_back(c);
    close(out);
    address_ = line;
    connection_ = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!connection_) {
        std::string msg = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot connect to the test bus at " + address_ + ": " + msg);
    }
    subscription_ = g_dbus_connection_signal_subscribe(
        connection_, nullptr, "org.ravek.RavekVoice.IAPI", nullptr, "/org/ravek/RavekVoice", nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GVariant* params, gpointer data) {
            Signal s{name, 0};
            if (s.name == "WordStart") g_variant_get(params, "(i)", &s.wordIndex);
            static_cast<PrivateBus*>(data)->signals_.push_back(s);
        },
        this, nullptr);
}

PrivateBus::~PrivateBus() {
    if (connection_) {
        g_dbus_connection_signal_unsubscribe(connection_, subscription_);
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    if (daemonPid_ > 0) {
        kill(daemonPid_, SIGTERM);
        waitpid(daemonPid_, nullptr, 0);
        g_spawn_close_pid(daemonPid_);
    }
    // The folder of the bus's configuration and socket goes with it.
    std::error_code ec;
    if (!configPath_.empty()) std::filesystem::remove_all(std::filesystem::path(configPath_).parent_path(), ec);
    // The engine notices the bus going away and exits; give it a moment so that tests that
    // follow do not race with its last log lines.
    g_usleep(20000);
}

CallResult PrivateBus::Call(const std::string& method, GVariant* parameters, int timeoutMs) {
    GError* error = nullptr;
    CallResult result;
    result.reply = g_dbus_connection_call_sync(connection_, "org.ravek.RavekVoice", "/org/ravek/RavekVoice",
                                               "org.ravek.RavekVoice.IAPI", method.c_str(), parameters, nullptr,
                                               G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &error);
    if (error) {
        gchar* remote = g_dbus_error_get_remote_error(error);
        result.errorName = remote ? remote : "";
        g_free(remote);
        g_dbus_error_strip_remote_error(error);
        result.errorMessage = error->message;
        g_clear_error(&error);
    }
    return result;
}

const std::vector<Signal>& PrivateBus::Signals() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    return signals_;
}

bool PrivateBus::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
    }
    return true;
}

bool PrivateBus::EngineRunning(const std::string& name) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner",
                                                  g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"),
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (!reply) {
        g_clear_error(&error);
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned;
}

}  // namespace ravektest
