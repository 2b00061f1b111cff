#include "app/searchpanel.h"

#include "app/layout.h"
#include "app/windowstyle.h"

#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>

namespace {

// The web address shown on the search screen.
const QString kWebAddress = QStringLiteral("lumivane.example.org");

// A red, bold, transparent caption over the splash picture. Its width follows its text, so that
// a longer text (the stop message) is not cut off.
QLabel* makeCaption(QWidget* parent, const char* name, const QString& text, QPoint position,
                    int pixelHeight)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(windowFont(pixelHeight, true));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, CaptionRed);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->adjustSize();
    label->move(position);
    return label;
}

} // namespace

SearchPanel::SearchPanel(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("Panel1"));
    resize(PanelSize);
    setFrameShape(QFrame::NoFrame);

    // Drawn unscaled from its top left corner; the panel cuts off what does not fit.
    m_splash = new QLabel(this);
    m_splash->setObjectName(QStringLiteral("Image1"));
    m_splash->setGeometry(0, 0, 469, 257);
    m_splash->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_splash->setPixmap(QPixmap(QStringLiteral(":/lumivane/splash.bmp")));
    m_splash->setAccessibleName(QStringLiteral("Lumivane"));

    m_statusLabel = makeCaption(this, "Label1", tr("フォルダ内の画像ファイルを探しています。"),
                                QPoint(8, 4), 16);
    m_productLabel = makeCaption(this, "Label2", QStringLiteral("Lumivane"), QPoint(104, 148), 35);
    m_webLabel = makeCaption(this, "Label3", kWebAddress, QPoint(280, 236), 16);

    m_pathBox = new QLineEdit(this);
    m_pathBox->setObjectName(QStringLiteral("Edit1"));
    m_pathBox->setGeometry(4, 24, 462, 19);
    m_pathBox->setFont(windowFont(11));
    m_pathBox->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_pathBox->setAccessibleName(tr("検索中のファイル"));
    QPalette pathPalette = m_pathBox->palette();
    pathPalette.setColor(QPalette::Text, Qt::black);
    pathPalette.setColor(QPalette::Base, Qt::white);
    m_pathBox->setPalette(pathPalette);

    // White text needs a darker face than the platform's default grey to stay readable.
    m_cancelButton = new QPushButton(tr("検索中止(&C)"), this);
    m_cancelButton->setObjectName(QStringLiteral("B_Search_Cancel"));
    m_cancelButton->setGeometry(140, 68, 159, 25);
    m_cancelButton->setFont(windowFont(13));
    QPalette cancelPalette = m_cancelButton->palette();
    cancelPalette.setColor(QPalette::ButtonText, Qt::white);
    cancelPalette.setColor(QPalette::Button, QColor(40, 70, 200));
    m_cancelButton->setPalette(cancelPalette);

    setTabOrder(m_pathBox, m_cancelButton);
}

void SearchPanel::showStopping()
{
    m_statusLabel->setText(tr("ファイル検索の中止処理をしています"));
    m_statusLabel->adjustSize();
    m_cancelButton->setText(tr("中止処理中"));
    m_cancelButton->setEnabled(false);
    m_statusLabel->update();
}
