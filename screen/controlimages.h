#pragma once

#include <QObject>
#include <QPointer>

#include <vector>

class QWidget;
class SlideSurface;

// Keeps the images of the window's controls (and of everything in them) on a surface that lies
// above them (see SlideSurface::drawsControlImages): whenever one is painted, shown, hidden,
// moved or resized, the visible ones are taken again, together, once the event loop turns.
class ControlImages : public QObject
{
    Q_OBJECT

public:
    ControlImages(SlideSurface& surface, std::vector<QWidget*> controls, QObject* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch(QWidget* widget);
    void takeImages();

    SlideSurface& m_surface;
    std::vector<QPointer<QWidget>> m_controls;
    bool m_due = false;
    bool m_taking = false;
};
