#include "app/messages.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QRegularExpression>

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

// The error texts that the picture readers, the search and the music raise in Japanese and the
// error box shows in the user's language: whole texts, and texts around a file name or a reason.
constexpr const char* kFixedErrorTexts[] = {
    QT_TRANSLATE_NOOP("ErrorBox", "原因不明のエラー"),
    QT_TRANSLATE_NOOP("ErrorBox", "ストリームからの読み込みエラー"),
};

QString translate(const char* sourceText)
{
    return QCoreApplication::translate("ErrorBox", sourceText);
}

} // namespace

QString translatedErrorText(const QString& errorText)
{
    for (const char* text : kFixedErrorTexts) {
        if (errorText == QString::fromUtf8(text))
            return translate(text);
    }
    static const QRegularExpression openError(
        QStringLiteral("^ファイル \"(.*)\"\\. (.*) は開けません$"),
        QRegularExpression::DotMatchesEverythingOption);
    if (const QRegularExpressionMatch match = openError.match(errorText); match.hasMatch()) {
        return QCoreApplication::translate("ErrorBox", "ファイル \"%1\". %2 は開けません")
            .arg(match.captured(1), match.captured(2));
    }
    const QString threadError = QStringLiteral("スレッド作成エラー：");
    if (errorText.startsWith(threadError)) {
        return QCoreApplication::translate("ErrorBox", "スレッド作成エラー：%1")
            .arg(errorText.mid(threadError.size()));
    }
    return errorText;
}

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
    present(parent, Kind::Error, errorBoxText(translatedErrorText(errorText)));
}

void setPresenterForTesting(Presenter presenter)
{
    testPresenter() = std::move(presenter);
}

} // namespace Messages
