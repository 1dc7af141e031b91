#include "NotifySink.h"

#include <glib.h>

#include <map>

struct NotifySink::Impl {
    GMainContext* context = nullptr;
    std::map<uint32_t, Handler> handlers;
    ~Impl() {
        if (context) g_main_context_unref(context);
    }
};

namespace {
struct Posted {
    std::weak_ptr<NotifySink::Impl> sink;  // a message outliving its sink is dropped
    uint32_t message;
    long wParam;
    long lParam;
};
}  // namespace

NotifySink::NotifySink() : impl_(std::make_shared<Impl>()) {
    impl_->context = g_main_context_ref_thread_default();
}

NotifySink::~NotifySink() = default;

void NotifySink::AttachHandler(Handler handler, uint32_t message) { impl_->handlers[message] = std::move(handler); }

void NotifySink::Post(uint32_t message, long wParam, long lParam) {
    auto posted = std::make_unique<Posted>(Posted{impl_, message, wParam, lParam});
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            auto* p = static_cast<Posted*>(data);
            if (auto sink = p->sink.lock()) {
                auto it = sink->handlers.find(p->message);
                if (it != sink->handlers.end()) {
                    Handler handler = it->second;  // the handler may re-attach while running
                    handler(p->message, p->wParam, p->lParam);
                }
            }
            return G_SOURCE_REMOVE;
        },
        posted.release(),  // the source owns it from here and frees it below
        [](gpointer data) { std::unique_ptr<Posted>(static_cast<Posted*>(data)); });
    g_source_attach(source, impl_->context);
    g_source_unref(source);
}

void NotifySink::DispatchPending() {
    while (g_main_context_pending(impl_->context)) g_main_context_iteration(impl_->context, FALSE);
}

long NotifySink::Handle() const { return static_cast<long>(reinterpret_cast<intptr_t>(impl_.get()) & 0x7fffffff); }
