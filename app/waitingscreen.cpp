#include "app/waitingscreen.h"

#include "app/pathfit.h"
#include "app/visiblename.h"
#include "app/windowstyle.h"

#include <QFontMetrics>

WaitingScreen::WaitingScreen(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("WaitingLabel"));
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, WindowBlue);
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    setFont(windowFont(11));
    hide();
}

void WaitingScreen::showFor(const QString& folder)
{
    setGeometry(parentWidget()->rect());
    const QString message = tr("画像ファイルを待っています: %1");
    const QFontMetrics metrics(font());
    // The folder gets what is left of half the window's width after the rest of the line.
    const int room = width() / 2 - metrics.horizontalAdvance(message.arg(QString()));
    const QString shown = fitPathToWidth(
        visibleName(folder), [&metrics](const QString& t) { return metrics.horizontalAdvance(t); },
        room);
    setText(message.arg(shown));
    show();
    raise();
}
