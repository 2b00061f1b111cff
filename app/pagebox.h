#pragma once

#include <QPlainTextEdit>

// The page indicator (E_Page) in the top right corner: two right-aligned lines of white on blue,
// the shortened path of the picture shown and its position, such as "12/345". Read-only.
class PageBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit PageBox(QWidget* parent);
};
