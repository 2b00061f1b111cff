#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>

class QDBusPendingCallWatcher;

// Asks the desktop on the session bus not to blank the screen: the inhibit portal, the screen
// saver service or the GNOME session manager, the first that answers, each with the flag for
// "idle". Every call is asynchronous, so that a bus that hangs never holds up a frame. No bus,
// or none of the services, is normal on many desktops and is met in silence. An inhibit taken
// belongs to this program's bus connection: the bus drops it when the program dies.
class SessionInhibit : public QObject
{
    Q_OBJECT

public:
    // The services in the order they are asked.
    enum class Service
    {
        Portal,
        ScreenSaver,
        SessionManager,
        None,
    };

    explicit SessionInhibit(QObject* parent = nullptr);
    // Releases an inhibit held, and one still on its way.
    ~SessionInhibit() override;

    // The window the next inhibit is for: `portalWindow` names it to the portal ("x11:1a00003",
    // or empty where there is no such name), `xid` to the session manager (0 for none).
    void setWindow(QString portalWindow, quint32 xid);

    // Takes an inhibit (when none is held or on its way) or releases it.
    void setHeld(bool held);

private:
    // Sends the inhibit to `service`; its answer either holds it or tries the next service.
    void ask(Service service);
    void answered(Service service, QDBusPendingCallWatcher* call);
    // The message that gives back an inhibit `service` granted, which answered `reply`.
    static QDBusMessage releaseMessage(Service service, const QDBusMessage& reply);

    QDBusConnection m_bus = QDBusConnection::sessionBus();
    QString m_portalWindow;
    quint32 m_xid = 0;
    bool m_held = false;
    // The inhibit held: the service's answer, from which its release is made.
    Service m_heldBy = Service::None;
    QDBusMessage m_grant;
    // The inhibit on its way and the service asked, or null.
    QDBusPendingCallWatcher* m_asking = nullptr;
    Service m_asked = Service::None;
};
