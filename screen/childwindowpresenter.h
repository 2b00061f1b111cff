#pragma once

#include "screen/framepresenter.h"

// Frames on X: the surface is a native child window of the show's window, drawn into directly
// and presented by swapping its buffers; the window's controls are native windows stacked above
// it.
class ChildWindowPresenter : public FramePresenter
{
    Q_OBJECT

public:
    using FramePresenter::FramePresenter;

    QWidget* embedIn(QWidget* parent) override;
    QSurface* prepareSurface(const QSurfaceFormat& format) override;
    bool bindFrame() override;
    bool showsFrames() const override;
    bool swapWaitsForRefresh(double refreshRate) override;

    // The window's own events, passed on by the surface.
    void windowExposed();
    void updateRequested() { emit frameRequested(); }

protected:
    void handOver() override;
    unsigned readBuffer() const override;

private:
    std::optional<bool> m_swapWaits;
};
