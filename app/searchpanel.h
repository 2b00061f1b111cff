#pragma once

#include <QFrame>

class QLabel;
class QLineEdit;
class QPushButton;

// The search screen (Panel1): the splash picture with the status text, the product name and
// the web address over it, the path box that shows the search's progress, and the button that
// stops the search. It shows; the window decides what it shows.
class SearchPanel : public QFrame
{
    Q_OBJECT

public:
    explicit SearchPanel(QWidget* parent);

    QLineEdit* pathBox() const { return m_pathBox; }             // Edit1
    QPushButton* cancelButton() const { return m_cancelButton; } // B_Search_Cancel
    QLabel* statusLabel() const { return m_statusLabel; }        // Label1

    // Says that the search is being stopped, and greys the button so that it can no longer be
    // clicked or reached by Escape.
    void showStopping();

private:
    QLabel* m_splash = nullptr;       // Image1
    QLabel* m_statusLabel = nullptr;  // Label1
    QLabel* m_productLabel = nullptr; // Label2
    QLabel* m_webLabel = nullptr;     // Label3
    QLineEdit* m_pathBox = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
