#pragma once

#include "screen/childwindowpresenter.h"

#include <QPointer>

// Frames on Wayland as on X: the surface is a native child window, which Wayland makes a
// subsurface of the window, drawn into directly and presented by swapping its buffers; the
// compositor composes it with the window. No frame is read back or composed by the program.
//
// Qt 6.4 draws native child widgets into the window's own buffer, beneath every subsurface, so
// the controls cannot lie above the scene as native windows of their own: ControlImages draws
// their images over the scene instead, and the subsurface takes no input, so that presses and
// keys reach the window and its controls beneath.
//
// Qt 6.4 also gives a child window its subsurface only when the window it lies in is already
// on screen; one made before is never shown. The child window is made again once the window is
// first exposed, and again after the window was hidden (shown again, it is a new surface).
class SubsurfacePresenter : public ChildWindowPresenter
{
    Q_OBJECT

public:
    using ChildWindowPresenter::ChildWindowPresenter;

    QWidget* embedIn(QWidget* parent) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Makes the child window's subsurface again, now that the window is on screen.
    void remakeSubsurface();
    // Lets presses through the subsurface to the window beneath.
    void passInputThrough();

    QPointer<QWindow> m_topLevel;
    bool m_remade = false;
};
