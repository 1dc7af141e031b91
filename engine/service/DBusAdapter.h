#pragma once
// Serves one IAPI over the session bus: methods in, signals out, AutomationErrors as
// org.ravek.RavekVoice.Error "number|source|description".
#include <gio/gio.h>

#include <memory>

#include "IAPI.h"

class DBusAdapter : public EngineEvents {
public:
    explicit DBusAdapter(IAPI& engine);
    ~DBusAdapter() override;
    DBusAdapter(const DBusAdapter&) = delete;
    DBusAdapter& operator=(const DBusAdapter&) = delete;

    // Exports the object on the connection; false (with a message on stderr) on failure.
    bool Register(GDBusConnection* connection);
    void Unregister();

    void SpeechStart() override;
    void WordStart(int32_t wordIndex) override;
    void Speechend() override;

private:
    static void OnMethodCall(GDBusConnection*, const gchar* sender, const gchar* objectPath, const gchar* interfaceName,
                             const gchar* methodName, GVariant* parameters, GDBusMethodInvocation* invocation,
                             gpointer userData);
    GVariant* Dispatch(const std::string& method, GVariant* parameters);
    void Emit(const char* signal, GVariant* parameters);

    IAPI& engine_;
    GDBusConnection* connection_ = nullptr;
    GDBusNodeInfo* nodeInfo_ = nullptr;
    guint registrationId_ = 0;
};
