#include "app/layout.h"

WindowLayout computeLayout(int width, int height)
{
    WindowLayout layout;
    layout.closeButton = QPoint(width - CloseButtonSize.width(), 0);
    layout.pageBox = QPoint(layout.closeButton.x() - PageBoxSize.width() - PageBoxGap, 0);
    // Integer division in C++ truncates toward zero, which is the rounding wanted here.
    layout.panel = QPoint((width - PanelSize.width()) / 2, (height - PanelSize.height()) / 2);
    return layout;
}
