#pragma once
// Alt+letter mnemonics for the window's buttons, labels and pages that leave the controls' texts
// as they are: those texts are what the log, the settings and people's scripts know. The letter
// is underlined only where this style paints the text, and the shortcut acts only while its
// control is visible and enabled, so the Setup page's letters are free on the other pages.

#include <QHash>
#include <QProxyStyle>
#include <QString>

#include <initializer_list>

class QAbstractButton;
class QLabel;
class QTabWidget;

class TMnemonics : public QProxyStyle {
    Q_OBJECT
public:
    explicit TMnemonics(QObject* parent);

    // `marked` is the text with '&' before its letter. A button whose text changes (Start /
    // Stop) gets all its marked texts; the letter of the first one presses it.
    void Add(QAbstractButton* button, std::initializer_list<QString> marked);
    // The letter moves the focus to the label's buddy.
    void Add(QLabel* label, const QString& marked);
    void AddPage(QTabWidget* pages, QWidget* page, const QString& marked);

    void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette, bool enabled,
                      const QString& text, QPalette::ColorRole textRole = QPalette::NoRole) const override;

private:
    void Mark(QWidget* control, const QString& marked);

    QHash<QString, QString> marked_;  // plain text -> marked text
};
