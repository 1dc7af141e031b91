#pragma once
// One engine object of the RavekVoice service, driven asynchronously over D-Bus: the object is
// made by org.ravek.RavekVoice.Factory.CreateInstance, its IAPI methods are called without ever
// waiting for the engine, and its three events arrive as Qt signals. The object is released when
// the client goes away (the service also drops it when our connection leaves the bus).
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <functional>

class QDBusServiceWatcher;

namespace ravektester {

inline constexpr const char* kService = "org.ravek.RavekVoice";
inline constexpr const char* kFactoryPath = "/org/ravek/RavekVoice";
inline constexpr const char* kFactoryInterface = "org.ravek.RavekVoice.Factory";
inline constexpr const char* kEngineInterface = "org.ravek.RavekVoice.IAPI";

// A failed call as the user sees it: the engine's own error number, source and description, or,
// when the engine could not be reached, 429 (cannot create the engine object) or 462 (the engine
// is unavailable) with the D-Bus error name as source.
struct EngineError {
    qint32 Number = 0;
    QString Source;
    QString Description;
};

// The error of a D-Bus reply: "number|source|description" of org.ravek.RavekVoice.Error, else
// `unreachableNumber` with the D-Bus error name and message.
EngineError ErrorOfReply(const QString& errorName, const QString& message, qint32 unreachableNumber);

class EngineClient : public QObject {
    Q_OBJECT
public:
    using ReplyHandler = std::function<void(const QVariantList& results)>;
    using ErrorHandler = std::function<void(const EngineError& error)>;

    explicit EngineClient(const QDBusConnection& bus, QObject* parent = nullptr);
    ~EngineClient() override;

    bool HasInstance() const { return !instancePath_.isEmpty(); }
    const QString& InstancePath() const { return instancePath_; }
    const QDBusConnection& Bus() const { return bus_; }

    // Asks the factory for an engine object of our own and subscribes to its events.
    void Create(std::function<void()> created, ErrorHandler failed);
    // Calls an IAPI method of our engine object; exactly one handler runs later, on the event loop.
    void Call(const QString& method, const QVariantList& arguments, ReplyHandler replied, ErrorHandler failed,
              int timeoutMs = kCallTimeoutMs);
    // Releases the engine object (without waiting) and forgets it.
    void Release();

    static constexpr int kCallTimeoutMs = 120000;

signals:
    void SpeechStart();
    void WordStart(int wordIndex);
    void Speechend();
    // The service left the bus while we held an engine object: the object is gone.
    void EngineLost();

private slots:
    void OnSpeechStart();
    void OnWordStart(int wordIndex);
    void OnSpeechend();
    void OnServiceGone();

private:
    void Subscribe(bool on);
    void SendAsync(const class QDBusMessage& message, int timeoutMs, qint32 unreachableNumber, ReplyHandler replied,
                   ErrorHandler failed);

    QDBusConnection bus_;
    QString instancePath_;
    QDBusServiceWatcher* serviceWatcher_ = nullptr;
    // Bumped whenever the engine object changes, so that late replies of a lost object are dropped.
    quint64 generation_ = 0;
};

}  // namespace ravektester
