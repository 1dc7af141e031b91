#include "EngineClient.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QTimer>

namespace ravektester {

namespace {

constexpr qint32 kCannotCreateObject = 429;
constexpr qint32 kEngineUnavailable = 462;
const QString kEngineErrorName = QStringLiteral("org.ravek.RavekVoice.Error");

}  // namespace

EngineError ErrorOfReply(const QString& errorName, const QString& message, qint32 unreachableNumber) {
    if (errorName == kEngineErrorName) {
        const int first = message.indexOf(QLatin1Char('|'));
        const int second = first < 0 ? -1 : message.indexOf(QLatin1Char('|'), first + 1);
        bool isNumber = false;
        const qint32 number = first < 0 ? 0 : message.left(first).toInt(&isNumber);
        if (isNumber && second > first)
            return {number, message.mid(first + 1, second - first - 1), message.mid(second + 1)};
    }
    return {unreachableNumber, errorName, message};
}

EngineClient::EngineClient(const QDBusConnection& bus, QObject* parent) : QObject(parent), bus_(bus) {
    serviceWatcher_ = new QDBusServiceWatcher(QString::fromLatin1(kService), bus_,
                                              QDBusServiceWatcher::WatchForUnregistration, this);
    connect(serviceWatcher_, &QDBusServiceWatcher::serviceUnregistered, this, &EngineClient::OnServiceGone);
}

EngineClient::~EngineClient() { Release(); }

void EngineClient::SendAsync(const QDBusMessage& message, int timeoutMs, qint32 unreachableNumber,
                             ReplyHandler replied, ErrorHandler failed) {
    if (!bus_.isConnected()) {
        const EngineError error{unreachableNumber, QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
                                QStringLiteral("There is no connection to the session bus: ") + bus_.lastError().message()};
        QTimer::singleShot(0, this, [failed, error] { failed(error); });
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, timeoutMs), this);
    const quint64 generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, generation, unreachableNumber, replied = std::move(replied), failed = std::move(failed)] {
                watcher->deleteLater();
                const QDBusMessage reply = watcher->reply();
                if (reply.type() == QDBusMessage::ReplyMessage) {
                    replied(reply.arguments());
                    return;
                }
                EngineError error = ErrorOfReply(reply.errorName(), reply.errorMessage(), unreachableNumber);
                // A reply that comes after its engine object was lost tells only that.
                if (generation != generation_ && !error.Description.isEmpty())
                    error.Description += QStringLiteral(" (the engine object was lost meanwhile)");
                failed(error);
            });
}

void EngineClient::Create(std::function<void()> created, ErrorHandler failed) {
    Release();
    QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kFactoryPath),
                                                          QString::fromLatin1(kFactoryInterface),
                                                          QStringLiteral("CreateInstance"));
    SendAsync(message, kCallTimeoutMs, kCannotCreateObject,
              [this, created, failed](const QVariantList& results) {
                  const QString path = results.isEmpty() ? QString() : results[0].value<QDBusObjectPath>().path();
                  if (path.isEmpty()) {
                      failed({kCannotCreateObject, QString::fromLatin1(kFactoryInterface),
                              QStringLiteral("CreateInstance returned no engine object")});
                      return;
                  }
                  Release();
                  instancePath_ = path;
                  ++generation_;
                  Subscribe(true);
                  created();
              },
              failed);
}

void EngineClient::Call(const QString& method, const QVariantList& arguments, ReplyHandler replied, ErrorHandler failed,
                        int timeoutMs) {
    if (!HasInstance()) {
        const EngineError error{kEngineUnavailable, QString::fromLatin1(kEngineInterface),
                                QStringLiteral("There is no engine object to call ") + method};
        QTimer::singleShot(0, this, [failed, error] { failed(error); });
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(kService), instancePath_,
                                                          QString::fromLatin1(kEngineInterface), method);
    message.setArguments(arguments);
    // Our engine object lives in the running service: a call must never start a fresh service,
    // which would not know the object.
    message.setAutoStartService(false);
    SendAsync(message, timeoutMs, kEngineUnavailable, std::move(replied), std::move(failed));
}

void EngineClient::Release() {
    if (!HasInstance()) return;
    Subscribe(false);
    QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kFactoryPath),
                                                          QString::fromLatin1(kFactoryInterface), QStringLiteral("Release"));
    message << QVariant::fromValue(QDBusObjectPath(instancePath_));
    message.setAutoStartService(false);
    bus_.send(message);
    instancePath_.clear();
    ++generation_;
}

void EngineClient::Subscribe(bool on) {
    struct Event {
        const char* name;
        const char* slot;
    };
    const Event events[] = {{"SpeechStart", SLOT(OnSpeechStart())},
                            {"WordStart", SLOT(OnWordStart(int))},
                            {"Speechend", SLOT(OnSpeechend())}};
    for (const Event& event : events) {
        if (on)
            bus_.connect(QString::fromLatin1(kService), instancePath_, QString::fromLatin1(kEngineInterface),
                         QString::fromLatin1(event.name), this, event.slot);
        else
            bus_.disconnect(QString::fromLatin1(kService), instancePath_, QString::fromLatin1(kEngineInterface),
                            QString::fromLatin1(event.name), this, event.slot);
    }
}

void EngineClient::OnSpeechStart() { emit SpeechStart(); }
void EngineClient::OnWordStart(int wordIndex) { emit WordStart(wordIndex); }
void EngineClient::OnSpeechend() { emit Speechend(); }

void EngineClient::OnServiceGone() {
    if (!HasInstance()) return;
    Subscribe(false);
    instancePath_.clear();
    ++generation_;
    emit EngineLost();
}

}  // namespace ravektester
