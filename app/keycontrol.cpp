#include "app/keycontrol.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>

#include <utility>

namespace {

// Whether the focused control takes typed characters, in which case a plain C is its text and
// not the buttons' accelerator.
bool takesTypedText(const QWidget* widget)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(widget))
        return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(widget))
        return !text->isReadOnly();
    return false;
}

// The buttons' accelerator without Alt: the C key in either case, so with or without Shift (as
// Caps Lock may report it), but not with Ctrl or Meta, which belong to other commands.
bool isPlainCKey(const QKeyEvent* key)
{
    return key->key() == Qt::Key_C &&
           (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
}

} // namespace

KeyControl::KeyControl(QWidget* window, std::vector<QPushButton*> buttons,
                       std::function<void()> stop)
    : QObject(window), m_window(window), m_buttons(std::move(buttons)), m_stop(std::move(stop))
{
    // The buttons' accelerator Alt+C presses whichever of them is visible and enabled, at once.
    // (A button's own mnemonic would click only after its pressed look has been shown, which
    // leaves the search running meanwhile.)
    for (QPushButton* button : m_buttons)
        button->setShortcut(QKeySequence());
    auto* altC = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_C), window);
    altC->setContext(Qt::WindowShortcut);
    connect(altC, &QShortcut::activated, this, [this] { pressVisibleButton(); });
}

void KeyControl::clickOnEscape(QPushButton* button)
{
    // A shortcut of a hidden or disabled widget does not fire, which gives exactly that rule.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), button);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, button, &QPushButton::click);
}

KeyControl::~KeyControl()
{
    qApp->removeEventFilter(this);
}

void KeyControl::enablePreview()
{
    if (m_preview)
        return;
    m_preview = true;
    qApp->installEventFilter(this);
}

bool KeyControl::handleKey(const QKeyEvent* key)
{
    if (key->key() == Qt::Key_Escape) {
        m_stop();
        return true;
    }
    const ShowStep step = showStepForKey(key->key(), key->modifiers(), key->isAutoRepeat());
    if (step != ShowStep::None && m_showStep && m_showStep(step))
        return true;
    // The buttons' accelerator without Alt: reached only when the focused control did not take
    // the key as text.
    return isPlainCKey(key) && !takesTypedText(QApplication::focusWidget()) && pressVisibleButton();
}

bool KeyControl::pressVisibleButton()
{
    for (QPushButton* button : m_buttons) {
        if (button->isVisible() && button->isEnabled()) {
            button->click();
            return true;
        }
    }
    return false;
}

bool KeyControl::eventFilter(QObject* watched, QEvent* event)
{
    if (m_preview && event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->window() == m_window &&
            handleKey(static_cast<QKeyEvent*>(event)))
            return true;
    }
    return QObject::eventFilter(watched, event);
}
