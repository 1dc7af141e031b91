#pragma once
// The set of engine objects the service serves: the shared object at /org/ravek/RavekVoice, which
// every caller uses, and the objects clients make for themselves through the interface
// org.ravek.RavekVoice.Factory of that path. A client's object belongs to the connection that
// created it and goes away when that connection calls Release or leaves the bus. The machine has
// one voice output, so a Speak on any object while another object speaks is ignored.
#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "DBusAdapter.h"
#include "IAPI.h"

class EngineFactory {
public:
    EngineFactory();
    ~EngineFactory();
    EngineFactory(const EngineFactory&) = delete;
    EngineFactory& operator=(const EngineFactory&) = delete;

    // Exports the shared object and the factory; false (with a message on stderr) on failure.
    bool Register(GDBusConnection* connection);
    // Removes every client object (stopping its speech) and withdraws everything from the bus.
    void Unregister();

private:
    struct Instance {
        std::unique_ptr<IAPI> engine;
        std::unique_ptr<DBusAdapter> adapter;
    };
    using Instances = std::map<std::string, Instance>;  // by object path

    static void OnFactoryCall(GDBusConnection*, const gchar* sender, const gchar* objectPath, const gchar* interfaceName,
                              const gchar* methodName, GVariant* parameters, GDBusMethodInvocation* invocation,
                              gpointer userData);
    void CreateInstance(const std::string& owner, GDBusMethodInvocation* invocation);
    void Release(const std::string& caller, const std::string& path, GDBusMethodInvocation* invocation);
    void ReleaseOwnedBy(const std::string& owner);
    void Destroy(Instances::iterator instance);
    void WatchOwner(const std::string& owner);
    void UnwatchIfUnused(const std::string& owner);
    bool OutputHeldElsewhere(const IAPI& asking) const;
    DBusAdapter::OutputHeldElsewhere OutputGate();

    IAPI shared_;
    std::unique_ptr<DBusAdapter> sharedAdapter_;
    Instances instances_;
    std::map<std::string, guint> ownerWatches_;  // unique bus name -> name watch
    uint64_t lastInstanceNumber_ = 0;            // numbers are never reused while the service runs
    GDBusConnection* connection_ = nullptr;
    GDBusNodeInfo* nodeInfo_ = nullptr;
    guint factoryRegistration_ = 0;
};
