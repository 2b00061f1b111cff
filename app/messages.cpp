#include "app/messages.h"

#include <QMessageBox>

namespace Messages {
namespace {

Presenter& testPresenter()
{
    static Presenter presenter;
    return presenter;
}

void present(QWidget* parent, Kind kind, const QString& text)
{
    if (testPresenter()) {
        testPresenter()(kind, text);
        return;
    }
    QMessageBox box(kind == Kind::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QStringLiteral("Lumivane"), text, QMessageBox::Ok, parent);
    box.setObjectName(kind == Kind::Error ? QStringLiteral("ErrorBox")
                                          : QStringLiteral("MessageBox"));
    box.exec();
}

} // namespace

QString errorBoxText(const QString& errorText)
{
    if (!errorText.isEmpty() && errorText.back().unicode() > u'.')
        return errorText + u'.';
    return errorText;
}

void showPlain(QWidget* parent, const QString& text)
{
    present(parent, Kind::Plain, text);
}

void showError(QWidget* parent, const QString& errorText)
{
    present(parent, Kind::Error, errorBoxText(errorText));
}

void setPresenterForTesting(Presenter presenter)
{
    testPresenter() = std::move(presenter);
}

} // namespace Messages
