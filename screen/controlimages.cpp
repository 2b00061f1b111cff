#include "screen/controlimages.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <utility>

ControlImages::ControlImages(std::vector<QWidget*> controls, Deliver deliver, QObject* parent)
    : QObject(parent), m_deliver(std::move(deliver))
{
    for (QWidget* control : controls) {
        if (control == nullptr)
            continue;
        m_controls.emplace_back(control);
        watch(control);
    }
    takeImages();
}

void ControlImages::watch(QWidget* widget)
{
    widget->installEventFilter(this);
    for (QWidget* child : widget->findChildren<QWidget*>())
        child->installEventFilter(this);
}

bool ControlImages::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Paint:
        // Taking an image paints the control: that paint changes nothing.
        if (m_taking)
            break;
        [[fallthrough]];
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
        if (!m_due) {
            m_due = true;
            QTimer::singleShot(0, this, &ControlImages::takeImages);
        }
        break;
    case QEvent::ChildAdded:
        if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child()))
            child->installEventFilter(this);
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void ControlImages::takeImages()
{
    m_due = false;
    m_taking = true;
    std::vector<ControlImage> images;
    for (const QPointer<QWidget>& control : m_controls) {
        if (control == nullptr || !control->isVisible())
            continue;
        const QPoint at = control->mapTo(control->window(), QPoint(0, 0));
        images.push_back({at, control->grab().toImage()});
    }
    m_taking = false;
    m_deliver(std::move(images));
}
