#include "screen/sessioninhibit.h"

#include <QDBusPendingCallWatcher>
#include <QVariantMap>

namespace {

// The flag of every service's Inhibit that asks for the screen not to blank for idleness.
constexpr quint32 IdleFlag = 8;
const QString AppName = QStringLiteral("lumivane");
const QString Reason = QStringLiteral("Slideshow running");

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString ScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString SessionManagerService = QStringLiteral("org.gnome.SessionManager");

} // namespace

SessionInhibit::SessionInhibit(QObject* parent) : QObject(parent) {}

SessionInhibit::~SessionInhibit()
{
    setHeld(false);
    if (m_asking == nullptr)
        return;
    // The answer to an inhibit on its way would be lost with this object, and the inhibit
    // held on until the program ends: the call releases what it brings by itself.
    m_asking->setParent(nullptr);
    m_asking->disconnect(this);
    connect(m_asking, &QDBusPendingCallWatcher::finished, m_asking,
            [bus = m_bus, service = m_asked](QDBusPendingCallWatcher* call) {
                if (call->reply().type() == QDBusMessage::ReplyMessage &&
                    !call->reply().arguments().isEmpty())
                    QDBusConnection(bus).send(releaseMessage(service, call->reply()));
                call->deleteLater();
            });
}

void SessionInhibit::setWindow(QString portalWindow, quint32 xid)
{
    m_portalWindow = std::move(portalWindow);
    m_xid = xid;
}

void SessionInhibit::setHeld(bool held)
{
    m_held = held;
    if (held) {
        if (m_heldBy == Service::None && m_asking == nullptr && m_bus.isConnected())
            ask(Service::Portal);
    } else if (m_heldBy != Service::None) {
        m_bus.send(releaseMessage(m_heldBy, m_grant));
        m_heldBy = Service::None;
    }
}

void SessionInhibit::ask(Service service)
{
    QDBusMessage call;
    switch (service) {
    case Service::Portal:
        call = QDBusMessage::createMethodCall(
            PortalService, QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
        call << m_portalWindow << IdleFlag << QVariantMap{{QStringLiteral("reason"), Reason}};
        break;
    case Service::ScreenSaver:
        call = QDBusMessage::createMethodCall(ScreenSaverService,
                                              QStringLiteral("/org/freedesktop/ScreenSaver"),
                                              ScreenSaverService, QStringLiteral("Inhibit"));
        call << AppName << Reason;
        break;
    case Service::SessionManager:
        call = QDBusMessage::createMethodCall(SessionManagerService,
                                              QStringLiteral("/org/gnome/SessionManager"),
                                              SessionManagerService, QStringLiteral("Inhibit"));
        call << AppName << m_xid << Reason << IdleFlag;
        break;
    case Service::None:
        return;
    }
    m_asked = service;
    m_asking = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(m_asking, &QDBusPendingCallWatcher::finished, this,
            [this, service](QDBusPendingCallWatcher* call) { answered(service, call); });
}

void SessionInhibit::answered(Service service, QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    m_asking = nullptr;
    const QDBusMessage reply = call->reply();
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        if (m_held) {
            m_heldBy = service;
            m_grant = reply;
        } else {
            // Released while the answer was on its way.
            m_bus.send(releaseMessage(service, reply));
        }
        return;
    }
    // No such service on this desktop, or it refused: the next one.
    if (m_held)
        ask(Service(int(service) + 1));
}

QDBusMessage SessionInhibit::releaseMessage(Service service, const QDBusMessage& reply)
{
    const QVariant grant = reply.arguments().constFirst();
    switch (service) {
    case Service::Portal:
        // The portal's answer is a request object; closing it ends the inhibit.
        return QDBusMessage::createMethodCall(PortalService, grant.value<QDBusObjectPath>().path(),
                                              QStringLiteral("org.freedesktop.portal.Request"),
                                              QStringLiteral("Close"));
    case Service::ScreenSaver:
        return QDBusMessage::createMethodCall(ScreenSaverService,
                                              QStringLiteral("/org/freedesktop/ScreenSaver"),
                                              ScreenSaverService, QStringLiteral("UnInhibit"))
               << grant.toUInt();
    case Service::SessionManager:
        return QDBusMessage::createMethodCall(SessionManagerService,
                                              QStringLiteral("/org/gnome/SessionManager"),
                                              SessionManagerService, QStringLiteral("Uninhibit"))
               << grant.toUInt();
    case Service::None:
        break;
    }
    return {};
}
