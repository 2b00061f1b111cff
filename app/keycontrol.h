#pragma once

#include "show/showkeys.h"

#include <QObject>

#include <functional>
#include <utility>
#include <vector>

class QKeyEvent;
class QPushButton;
class QWidget;

// The window's keys. Escape runs the stop steps. The buttons' accelerator, Alt+C, and the C key
// alone when the focused control takes no typed text, press whichever of the buttons is visible
// and enabled. Once the slideshow runs, key preview lets the window see every key of its own
// controls first, whichever of them has the focus. The show's keys (see showStepForKey()) go to
// the show's handler, which takes them only while the show runs.
class KeyControl : public QObject
{
public:
    // `buttons` in the order they are tried; `stop` runs the stop steps.
    KeyControl(QWidget* window, std::vector<QPushButton*> buttons, std::function<void()> stop);
    ~KeyControl() override;

    // Escape clicks `button` while it is visible and enabled (a cancel button).
    static void clickOnEscape(QPushButton* button);

    // `handler` does a show step and returns whether it did (not during the search).
    void setShowStepHandler(std::function<bool(ShowStep)> handler)
    {
        m_showStep = std::move(handler);
    }

    // Turns key preview on; once on, it stays on.
    void enablePreview();
    // A key that reached the window itself. Returns whether it was one of the window's keys.
    bool handleKey(const QKeyEvent* key);
    // Clicks the first visible and enabled button; returns whether there was one.
    bool pressVisibleButton();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    std::vector<QPushButton*> m_buttons;
    std::function<void()> m_stop;
    std::function<bool(ShowStep)> m_showStep;
    bool m_preview = false;
};
