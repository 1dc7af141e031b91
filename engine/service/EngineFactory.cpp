#include "EngineFactory.h"

#include <cstdio>
#include <vector>

#include "BusInterface.h"

namespace {

bool Speaking(const IAPI& engine) { return engine.State().IsInitialised && !engine.State().IsIdle; }

}  // namespace

EngineFactory::EngineFactory() {
    nodeInfo_ = g_dbus_node_info_new_for_xml(RavekInterfaceXml(), nullptr);
    sharedAdapter_ = std::make_unique<DBusAdapter>(shared_, kRavekObjectPath, "", OutputGate());
}

EngineFactory::~EngineFactory() {
    Unregister();
    sharedAdapter_.reset();
    if (nodeInfo_) g_dbus_node_info_unref(nodeInfo_);
}

DBusAdapter::OutputHeldElsewhere EngineFactory::OutputGate() {
    return [this](const IAPI& asking) { return OutputHeldElsewhere(asking); };
}

bool EngineFactory::Register(GDBusConnection* connection) {
    if (!sharedAdapter_->Register(connection)) return false;
    static const GDBusInterfaceVTable vtable = {&EngineFactory::OnFactoryCall, nullptr, nullptr, {}};
    GError* error = nullptr;
    GDBusInterfaceInfo* info = g_dbus_node_info_lookup_interface(nodeInfo_, kRavekFactoryInterface);
    factoryRegistration_ = g_dbus_connection_register_object(connection, kRavekObjectPath, info, &vtable, this, nullptr, &error);
    if (factoryRegistration_ == 0) {
        std::fprintf(stderr, "RavekVoice: cannot export %s on %s: %s\n", kRavekFactoryInterface, kRavekObjectPath,
                     error ? error->message : "unknown error");
        g_clear_error(&error);
        sharedAdapter_->Unregister();
        return false;
    }
    connection_ = G_DBUS_CONNECTION(g_object_ref(connection));
    return true;
}

void EngineFactory::Unregister() {
    while (!instances_.empty()) Destroy(instances_.begin());
    for (const auto& [owner, watch] : ownerWatches_) g_bus_unwatch_name(watch);
    ownerWatches_.clear();
    if (connection_ && factoryRegistration_) g_dbus_connection_unregister_object(connection_, factoryRegistration_);
    factoryRegistration_ = 0;
    if (connection_) g_object_unref(connection_);
    connection_ = nullptr;
    sharedAdapter_->Unregister();
}

void EngineFactory::OnFactoryCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* methodName,
                                  GVariant* parameters, GDBusMethodInvocation* invocation, gpointer userData) {
    auto* self = static_cast<EngineFactory*>(userData);
    const std::string method = methodName;
    const std::string caller = sender ? sender : "";
    if (method == "CreateInstance") {
        self->CreateInstance(caller, invocation);
    } else if (method == "Release") {
        const gchar* path = nullptr;
        g_variant_get(parameters, "(&o)", &path);
        self->Release(caller, path, invocation);
    } else {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, "unknown method %s",
                                              methodName);
    }
}

void EngineFactory::CreateInstance(const std::string& owner, GDBusMethodInvocation* invocation) {
    if (owner.empty()) {
        // Only a connection through a message bus has a name to own the object by.
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED,
                                              "an engine object needs a caller with a unique bus name");
        return;
    }
    const std::string path = kRavekInstancePathPrefix + std::to_string(++lastInstanceNumber_);
    Instance instance;
    instance.engine = std::make_unique<IAPI>();
    instance.adapter = std::make_unique<DBusAdapter>(*instance.engine, path, owner, OutputGate());
    if (!instance.adapter->Register(connection_)) {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_FAILED, "cannot export %s",
                                              path.c_str());
        return;
    }
    instances_.emplace(path, std::move(instance));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
    // Watched after the reply: an owner that has already left is found at once and its object
    // removed.
    WatchOwner(owner);
}

void EngineFactory::Release(const std::string& caller, const std::string& path, GDBusMethodInvocation* invocation) {
    const auto found = instances_.find(path);
    if (found == instances_.end()) {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT,
                                              "%s is no engine object made by %s", path.c_str(), kRavekFactoryInterface);
        return;
    }
    const std::string owner = found->second.adapter->Owner();
    if (owner != caller) {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED,
                                              "%s belongs to the connection %s", path.c_str(), owner.c_str());
        return;
    }
    Destroy(found);
    UnwatchIfUnused(owner);
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

void EngineFactory::ReleaseOwnedBy(const std::string& owner) {
    std::vector<Instances::iterator> owned;
    for (auto it = instances_.begin(); it != instances_.end(); ++it)
        if (it->second.adapter->Owner() == owner) owned.push_back(it);
    for (auto it : owned) Destroy(it);
    UnwatchIfUnused(owner);
}

// Stops the object's speech as StopSpeak does (its Speechend still goes out from its path), then
// withdraws it from the bus and ends it.
void EngineFactory::Destroy(Instances::iterator instance) {
    IAPI& engine = *instance->second.engine;
    if (Speaking(engine)) engine.StopSpeak();
    instance->second.adapter.reset();
    instance->second.engine.reset();
    instances_.erase(instance);
}

void EngineFactory::WatchOwner(const std::string& owner) {
    if (ownerWatches_.count(owner)) return;
    ownerWatches_[owner] = g_bus_watch_name_on_connection(
        connection_, owner.c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar* name, gpointer self) { static_cast<EngineFactory*>(self)->ReleaseOwnedBy(name); },
        this, nullptr);
}

void EngineFactory::UnwatchIfUnused(const std::string& owner) {
    for (const auto& [path, instance] : instances_)
        if (instance.adapter->Owner() == owner) return;
    const auto watch = ownerWatches_.find(owner);
    if (watch == ownerWatches_.end()) return;
    const guint id = watch->second;
    ownerWatches_.erase(watch);
    g_bus_unwatch_name(id);
}

bool EngineFactory::OutputHeldElsewhere(const IAPI& asking) const {
    if (&asking != &shared_ && Speaking(shared_)) return true;
    for (const auto& [path, instance] : instances_)
        if (instance.engine.get() != &asking && Speaking(*instance.engine)) return true;
    return false;
}
