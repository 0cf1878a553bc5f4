#pragma once
// A status bar whose message is cut at the right with an ellipsis before the permanent
// widgets, the whole of it in the tooltip. The plain one lets a long message run under them
// and lose its end.

#include <QStatusBar>

class TElidingStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit TElidingStatusBar(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
