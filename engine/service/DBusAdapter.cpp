#include "DBusAdapter.h"

#include <cstdio>
#include <string_view>
#include <unordered_map>

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

gint32 IndexArgument(GVariant* p) {
    gint32 idx = 0;
    g_variant_get(p, "(i)", &idx);
    return idx;
}

// ---- one handler per method of org.ravek.RavekVoice.IAPI ----

GVariant* Initialise(IAPI& engine, GVariant*) {
    engine.Initialise();
    return nullptr;
}

GVariant* ListNumberOfVoices(IAPI& engine, GVariant*) { return g_variant_new("(i)", engine.ListNumberOfVoices()); }

GVariant* ListVoiceName(IAPI& engine, GVariant* p) {
    return g_variant_new("(s)", engine.ListVoiceName(IndexArgument(p)).c_str());
}

GVariant* SelectVoice(IAPI& engine, GVariant* p) {
    engine.SelectVoice(IndexArgument(p));
    return g_variant_new("(v)", g_variant_new_string(""));
}

GVariant* Speak(IAPI& engine, GVariant* p) {
    const gchar* text = nullptr;
    g_variant_get(p, "(&s)", &text);
    return g_variant_new("(i)", engine.Speak(text));
}

GVariant* StopSpeak(IAPI& engine, GVariant*) { return g_variant_new("(i)", engine.StopSpeak()); }

GVariant* EnumerateFiles(IAPI& engine, GVariant* p) {
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
    auto result = engine.EnumerateFiles(pathText, searchText, files, dirs, dict);
    GVariant* value = result ? g_variant_new_int32(*result) : g_variant_new_string("");
    return g_variant_new("(vssii@a{ss})", value, pathText.c_str(), searchText.c_str(), files, dirs, DictionaryVariant(&dict));
}

GVariant* GetWordsNumber(IAPI& engine, GVariant* p) { return g_variant_new("(i)", engine.GetWordsNumber(IndexArgument(p))); }

GVariant* GetDictionary(IAPI& engine, GVariant* p) { return g_variant_new("(i)", engine.GetDictionary(IndexArgument(p))); }

GVariant* PlayStateChange(IAPI& engine, GVariant* p) {
    gint32 oldState = 0, newState = 0;
    g_variant_get(p, "(ii)", &oldState, &newState);
    engine.WindowsMediaPlayer1_PlayStateChange(oldState, newState);
    return nullptr;
}

GVariant* DumpFile(IAPI& engine, GVariant* p) {
    const gchar *folder = nullptr, *word = nullptr;
    gint32 voice = 0;
    g_variant_get(p, "(&si&s)", &folder, &voice, &word);
    engine.DumpFile(folder, voice, word);
    return nullptr;
}

GVariant* GetVoiceNameByVoiceID(IAPI& engine, GVariant* p) {
    return g_variant_new("(v)", g_variant_new_string(engine.GetVoiceNameByVoiceID(IndexArgument(p)).c_str()));
}

GVariant* ExportRavekDictionary(IAPI& engine, GVariant*) {
    auto dict = engine.ExportRavekDictionary();
    return g_variant_new("(@v@a{ss})", EmptyVariant(), DictionaryVariant(dict.get()));
}

GVariant* SetSystemVolume(IAPI& engine, GVariant* p) {
    gint16 left = 0, right = 0;
    g_variant_get(p, "(nn)", &left, &right);
    engine.SetSystemVolume(left, right);
    return nullptr;
}

struct Method {
    GVariant* (*handler)(IAPI&, GVariant*);
    bool speaks = false;  // starts speech on the one voice output
};

const std::unordered_map<std::string_view, Method>& Methods() {
    static const std::unordered_map<std::string_view, Method> methods = {
        {"Initialise", {Initialise}},
        {"ListNumberOfVoices", {ListNumberOfVoices}},
        {"ListVoiceName", {ListVoiceName}},
        {"SelectVoice", {SelectVoice}},
        {"Speak", {Speak, true}},
        {"StopSpeak", {StopSpeak}},
        {"EnumerateFiles", {EnumerateFiles}},
        {"GetWordsNumber", {GetWordsNumber}},
        {"GetDictionary", {GetDictionary}},
        {"WindowsMediaPlayer1_PlayStateChange", {PlayStateChange}},
        {"DumpFile", {DumpFile}},
        {"GetVoiceNameByVoiceID", {GetVoiceNameByVoiceID}},
        {"ExportRavekDictionary", {ExportRavekDictionary}},
        {"SetSystemVolume", {SetSystemVolume}},
    };
    return methods;
}

}  // namespace

DBusAdapter::DBusAdapter(IAPI& engine, std::string objectPath, std::string owner, OutputHeldElsewhere outputHeldElsewhere)
    : engine_(engine),
      objectPath_(std::move(objectPath)),
      owner_(std::move(owner)),
      outputHeldElsewhere_(std::move(outputHeldElsewhere)) {
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
    registrationId_ = g_dbus_connection_register_object(connection, objectPath_.c_str(), info, &vtable, this, nullptr, &error);
    if (registrationId_ == 0) {
        std::fprintf(stderr, "RavekVoice: cannot export %s: %s\n", objectPath_.c_str(), error ? error->message : "unknown error");
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
    g_dbus_connection_emit_signal(connection_, nullptr, objectPath_.c_str(), kRavekInterface, signal, parameters, nullptr);
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
}

void DBusAdapter::SpeechStart() { Emit("SpeechStart", nullptr); }
void DBusAdapter::WordStart(int32_t wordIndex) { Emit("WordStart", g_variant_new("(i)", wordIndex)); }
void DBusAdapter::Speechend() { Emit("Speechend", nullptr); }

GVariant* DBusAdapter::Dispatch(const std::string& name, GVariant* parameters) {
    const auto found = Methods().find(name);
    if (found == Methods().end()) RuntimeErrors::Raise(RuntimeErrors::InvalidProcedureCall, "unknown method " + name);
    const Method& method = found->second;
    // One voice output: while another object speaks, a Speak here is ignored like a Speak to a
    // busy engine (result 0, no signals).
    if (method.speaks && outputHeldElsewhere_ && outputHeldElsewhere_(engine_)) return g_variant_new("(i)", 0);
    return method.handler(engine_, parameters);
}

void DBusAdapter::OnMethodCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* methodName,
                               GVariant* parameters, GDBusMethodInvocation* invocation, gpointer userData) {
    auto* self = static_cast<DBusAdapter*>(userData);
    if (!self->owner_.empty() && self->owner_ != (sender ? sender : "")) {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED,
                                              "%s belongs to the connection %s", self->objectPath_.c_str(),
                                              self->owner_.c_str());
        return;
    }
    try {
        g_dbus_method_invocation_return_value(invocation, self->Dispatch(methodName, parameters));
    } catch (const AutomationError& e) {
        g_dbus_method_invocation_return_dbus_error(invocation, kRavekErrorName, ErrorMessage(e).c_str());
    } catch (const std::exception& e) {
        AutomationError wrapped = RuntimeErrors::FromException(e, "RavekVoice");
        g_dbus_method_invocation_return_dbus_error(invocation, kRavekErrorName, ErrorMessage(wrapped).c_str());
    }
}
