#pragma once

#include <QLabel>

// What a watched show (WATCH=ON) shows while its folder holds no pictures: the window's blue
// with one line naming the folder, shortened to fit as the page box shortens its path.
class WaitingScreen : public QLabel
{
    Q_OBJECT

public:
    explicit WaitingScreen(QWidget* parent);

    // Shows the line for `folder` (its display spelling) over the whole of the parent.
    void showFor(const QString& folder);
};
