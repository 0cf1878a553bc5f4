#include "app/window/OrvantaFormMnemonics.h"

#include <QAbstractButton>
#include <QKeySequence>
#include <QLabel>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>

namespace {

QString Plain(QString marked)
{
    return marked.remove(marked.indexOf('&'), 1);
}

}  // namespace

TMnemonics::TMnemonics(QObject* parent)
{
    setParent(parent);
}

void TMnemonics::Mark(QWidget* control, const QString& marked)
{
    marked_.insert(Plain(marked), marked);
    if (control->style() != this)
        control->setStyle(this);
}

void TMnemonics::Add(QAbstractButton* button, std::initializer_list<QString> marked)
{
    if (marked.size() == 0)
        return;
    for (const QString& m : marked)
        Mark(button, m);
    // Parented to the button, so the shortcut is live only while the button can be seen.
    auto* shortcut = new QShortcut(QKeySequence::mnemonic(*marked.begin()), button);
    connect(shortcut, &QShortcut::activated, button, [button] { button->animateClick(); });
    // Several controls on one letter (the Browse buttons) take the focus in turn instead.
    connect(shortcut, &QShortcut::activatedAmbiguously, button, [button] { button->setFocus(Qt::ShortcutFocusReason); });
}

void TMnemonics::Add(QLabel* label, const QString& marked)
{
    Mark(label, marked);
    auto* shortcut = new QShortcut(QKeySequence::mnemonic(marked), label);
    connect(shortcut, &QShortcut::activated, label, [label] {
        if (label->buddy())
            label->buddy()->setFocus(Qt::ShortcutFocusReason);
    });
}

void TMnemonics::AddPage(QTabWidget* pages, QWidget* page, const QString& marked)
{
    Mark(pages->tabBar(), marked);
    auto* shortcut = new QShortcut(QKeySequence::mnemonic(marked), pages->tabBar());
    connect(shortcut, &QShortcut::activated, pages, [pages, page] {
        const int index = pages->indexOf(page);
        if (index >= 0 && pages->isTabVisible(index) && pages->isTabEnabled(index))
            pages->setCurrentIndex(index);
    });
}

void TMnemonics::drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette, bool enabled,
                              const QString& text, QPalette::ColorRole textRole) const
{
    const auto found = marked_.constFind(text);
    if (found == marked_.cend()) {
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
        return;
    }
    flags |= Qt::TextShowMnemonic;
    if (!styleHint(SH_UnderlineShortcut))
        flags |= Qt::TextHideMnemonic;
    QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, *found, textRole);
}
