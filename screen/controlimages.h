#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QPointer>

#include <functional>
#include <vector>

class QWidget;

// An image of one of the window's controls and where it lies in the window.
struct ControlImage
{
    QPoint at;
    QImage image;
};

// Keeps the images of the window's controls (and of everything in them) where they are drawn
// over a surface that lies above them (see SlideSurface::drawsControlImages): whenever one is
// painted, shown, hidden, moved or resized, the visible ones are taken again, together, once
// the event loop turns, and handed on.
class ControlImages : public QObject
{
    Q_OBJECT

public:
    using Deliver = std::function<void(std::vector<ControlImage>)>;

    ControlImages(std::vector<QWidget*> controls, Deliver deliver, QObject* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch(QWidget* widget);
    void takeImages();

    std::vector<QPointer<QWidget>> m_controls;
    Deliver m_deliver;
    bool m_due = false;
    bool m_taking = false;
};
