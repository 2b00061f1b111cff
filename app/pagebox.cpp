#include "app/pagebox.h"

#include "app/layout.h"
#include "app/windowstyle.h"

#include <QTextDocument>
#include <QTextOption>

PageBox::PageBox(QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("E_Page"));
    setAccessibleName(tr("ページ"));
    resize(PageBoxSize);
    setReadOnly(true);
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFont(windowFont(11));
    document()->setDocumentMargin(0);
    QTextOption option = document()->defaultTextOption();
    option.setAlignment(Qt::AlignRight);
    option.setWrapMode(QTextOption::NoWrap);
    document()->setDefaultTextOption(option);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, WindowBlue);
    colours.setColor(QPalette::Text, Qt::white);
    setPalette(colours);
}
