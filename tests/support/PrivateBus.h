#pragma once
// A private D-Bus session bus for tests: a dbus-daemon whose service folder is the build's
// share/dbus-1/services, so the first call to org.ravek.RavekVoice starts the engine from the
// build. Activated services inherit the environment in force when the bus was started.
#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ravektest {

// The outcome of one method call: the reply, or the error name and message.
struct CallResult {
    GVariant* reply = nullptr;  // owned; null on error
    std::string errorName;
    std::string errorMessage;
    CallResult() = default;
    CallResult(const CallResult&) = delete;
    CallResult& operator=(const CallResult&) = delete;
    CallResult(CallResult&& other) noexcept;
    CallResult& operator=(CallResult&& other) noexcept;
    ~CallResult();
    bool ok() const { return reply != nullptr; }
    // The three parts of an engine error message "number|source|description".
    int errorNumber() const;
    std::string errorSource() const;
    std::string errorDescription() const;
};

struct Signal {
    std::string name;
    int wordIndex = 0;  // WordStart only
};

class PrivateBus {
public:
    explicit PrivateBus(const std::string& serviceDir = std::string(RAVEK_BUILD_DIR) + "/share/dbus-1/services");
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& Address() const { return address_; }
    GDBusConnection* Connection() const { return connection_; }

    // Calls a method of the engine object (activating it when needed).
    CallResult Call(const std::string& method, GVariant* parameters = nullptr, int timeoutMs = 20000);
    // Signals of the engine received so far (the main context is iterated to collect them).
    const std::vector<Signal>& Signals();
    // Iterates the main context until `done` holds or the timeout passes; returns done().
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Whether a bus name (by default the engine's) currently has an owner.
    bool EngineRunning(const std::string& name = "org.ravek.RavekVoice");

private:
    std::string address_;
    GPid daemonPid_ = 0;
    std::string configPath_;
    GDBusConnection* connection_ = nullptr;
    guint subscription_ = 0;
    std::vector<Signal> signals_;
};

}  // namespace ravektest
