#include "DBusAdapter.h"

#include <cstdio>

#include "AnsiText.h"
#include "AutomationError.h"
#include "BusInterface.h"

namespace {

GVariant* EmptyVariant() { return g_variant_new_variant(g_variant_new_string("")); }

GVariant* DictionaryVariant(const Dictionary* dict) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{ss}"));
    if (dict)
        for (const auto& [key, item] : dict->Entries()) g_variant_builder_add(&builder, "{ss}", key.c_str(), item.c_str());
    return g_variant_builder_end(&builder);
}

// Reads an a{ss} argument into a Dictionary; a repeated key is error 457 as for any Add.
void FillDictionary(GVariant* array, Dictionary& dict) {
    GVariantIter iter;
    g_variant_iter_init(&iter, array);
    const gchar* key = nullptr;
    const gchar* value = nullptr;
    while (g_variant_iter_next(&iter, "{&s&s}", &key, &value)) dict.Add(key, value);
}

std::string ErrorMessage(const AutomationError& e) {
    return std::to_string(e.Number()) + "|" + e.Source() + "|" + e.Description();
}

}  // namespace

DBusAdapter::DBusAdapter(IAPI& engine) : engine_(engine) {
    nodeInfo_ = g_dbus_node_info_new_for_xml(RavekInterfaceXml(), nullptr);
    engine_.SetEventSink(this);
}

DBusAdapter::~DBusAdapter() {
    Unregister();
    engine_.SetEventSink(nullptr);
    if (nodeInfo_) g_dbus_node_info_unref(nodeInfo_);
}

bool DBusAdapter::Register(GDBusConnection* connection) {
    static const GDBusInterfaceVTable vtable = {&DBusAdapter::OnMethodCall, nullptr, nullptr, {}};
    GError* error = nullptr;
    GDBusInterfaceInfo* info = g_dbus_node_info_lookup_interface(nodeInfo_, kRavekInterface);
    registrationId_ = g_dbus_connection_register_object(connection, kRavekObjectPath, info, &vtable, this, nullptr, &error);
    if (registrationId_ == 0) {
        std::fprintf(stderr, "RavekVoice: cannot export %s: %s\n", kRavekObjectPath, error ? error->message : "unknown error");
        g_clear_error(&error);
        return false;
    }
    connection_ = G_DBUS_CONNECTION(g_object_ref(connection));
    return true;
}

void DBusAdapter::Unregister() {
    if (connection_ && registrationId_) g_dbus_connection_unregister_object(connection_, registrationId_);
    registrationId_ = 0;
    if (connection_) g_object_unref(connection_);
    connection_ = nullptr;
}

void DBusAdapter::Emit(const char* signal, GVariant* parameters) {
    if (!connection_) {
        if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
        return;
    }
    g_dbus_connection_emit_signal(connection_, nullptr, kRavekObjectPath, kRavekInterface, signal, parameters, nullptr);
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
}

void DBusAdapter::SpeechStart() { Emit("SpeechStart", nullptr); }
void DBusAdapter::WordStart(int32_t wordIndex) { Emit("WordStart", g_variant_new("(i)", wordIndex)); }
void DBusAdapter::Speechend() { Emit("Speechend", nullptr); }

GVariant* DBusAdapter::Dispatch(const std::string& m, GVariant* p) {
    if (m == "Initialise") {
        engine_.Initialise();
        return nullptr;
    }
    if (m == "ListNumberOfVoices") return g_variant_new("(i)", engine_.ListNumberOfVoices());
    if (m == "ListVoiceName") {
        gint32 idx = 0;
        g_variant_get(p, "(i)", &idx);
        return g_variant_new("(s)", engine_.ListVoiceName(idx).c_str());
    }
    if (m == "SelectVoice") {
        gint32 idx = 0;
        g_variant_get(p, "(i)", &idx);
        engine_.SelectVoice(idx);
        return g_variant_new("(v)", g_variant_new_string(""));
    }
    if (m == "Speak") {
        const gchar* text = nullptr;
        g_variant_get(p, "(&s)", &text);
        return g_variant_new("(i)", engine_.Speak(text));
    }
    if (m == "StopSpeak") return g_variant_new("(i)", engine_.StopSpeak());
    if (m == "EnumerateFiles") {
        const gchar *path = nullptr, *search = nullptr;
        gint32 files = 0, dirs = 0;
        GVariant* dictArg = nullptr;
        g_variant_get(p, "(&s&sii@a{ss})", &path, &search, &files, &dirs, &dictArg);
        Dictionary dict;
        std::string pathText = path, searchText = search;
        try {
            FillDictionary(dictArg, dict);
        } catch (...) {
            g_variant_unref(dictArg);
            throw;
        }
        g_variant_unref(dictArg);
        auto result = engine_.EnumerateFiles(pathText, searchText, files, dirs, dict);
        GVariant* value = result ? g_variant_new_int32(*result) : g_variant_new_string("");
        return g_variant_new("(vssii@a{ss})", value, pathText.c_str(), searchText.c_str(), files, dirs, DictionaryVariant(&dict));
    }
    if (m == "GetWordsNumber" || m == "GetDictionary") {
        gint32 idx = 0;
        g_variant_get(p, "(i)", &idx);
        return g_variant_new("(i)", m == "GetWordsNumber" ? engine_.GetWordsNumber(idx) : engine_.GetDictionary(idx));
    }
    if (m == "WindowsMediaPlayer1_PlayStateChange") {
        gint32 oldState = 0, newState = 0;
        g_variant_get(p, "(ii)", &oldState, &newState);
        engine_.WindowsMediaPlayer1_PlayStateChange(oldState, newState);
        return nullptr;
    }
    if (m == "DumpFile") {
        const gchar *folder = nullptr, *word = nullptr;
        gint32 voice = 0;
        g_variant_get(p, "(&si&s)", &folder, &voice, &word);
        engine_.DumpFile(folder, voice, word);
        return nullptr;
    }
    if (m == "GetVoiceNameByVoiceID") {
        gint32 idx = 0;
        g_variant_get(p, "(i)", &idx);
        return g_variant_new("(v)", g_variant_new_string(engine_.GetVoiceNameByVoiceID(idx).c_str()));
    }
    if (m == "ExportRavekDictionary") {
        auto dict = engine_.ExportRavekDictionary();
        return g_variant_new("(@v@a{ss})", EmptyVariant(), DictionaryVariant(dict.get()));
    }
    if (m == "SetSystemVolume") {
        gint16 left = 0, right = 0;
        g_variant_get(p, "(nn)", &left, &right);
        engine_.SetSystemVolume(left, right);
        return nullptr;
    }
    RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "unknown method " + m);
}

void DBusAdapter::OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* methodName,
                               GVariant* parameters, GDBusMethodInvocation* invocation, gpointer userData) {
    auto* self = static_cast<DBusAdapter*>(userData);
    try {
        g_dbus_method_invocation_return_value(invocation, self->Dispatch(methodName, parameters));
    } catch (const AutomationError& e) {
        g_dbus_method_invocation_return_dbus_error(invocation, kRavekErrorName, ErrorMessage(e).c_str());
    } catch (const std::exception& e) {
        AutomationError wrapped = RuntimeErrors::FromException(e, "RavekVoice");
        g_dbus_method_invocation_return_dbus_error(invocation, kRavekErrorName, ErrorMessage(wrapped).c_str());
    }
}
