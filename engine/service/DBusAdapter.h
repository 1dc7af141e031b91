#pragma once
// Serves one IAPI over the session bus at one object path: methods in, signals out,
// AutomationErrors as org.ravek.RavekVoice.Error "number|source|description".
#include <gio/gio.h>

#include <functional>
#include <string>

#include "IAPI.h"

class DBusAdapter : public EngineEvents {
public:
    // Whether the voice output is held by the speech of an engine object other than `asking`;
    // a Speak is then ignored as a busy engine ignores it.
    using OutputHeldElsewhere = std::function<bool(const IAPI& asking)>;

    // `owner`: the unique bus name of the only connection allowed to call the object (others get
    // org.freedesktop.DBus.Error.AccessDenied); empty for an object that serves every caller.
    DBusAdapter(IAPI& engine, std::string objectPath, std::string owner, OutputHeldElsewhere outputHeldElsewhere);
    ~DBusAdapter() override;
    DBusAdapter(const DBusAdapter&) = delete;
    DBusAdapter& operator=(const DBusAdapter&) = delete;

    // Exports the object on the connection; false (with a message on stderr) on failure.
    bool Register(GDBusConnection* connection);
    void Unregister();

    const std::string& ObjectPath() const { return objectPath_; }
    const std::string& Owner() const { return owner_; }

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
    const std::string objectPath_;
    const std::string owner_;
    OutputHeldElsewhere outputHeldElsewhere_;
    GDBusConnection* connection_ = nullptr;
    GDBusNodeInfo* nodeInfo_ = nullptr;
    guint registrationId_ = 0;
};
