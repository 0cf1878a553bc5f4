#pragma once
// Degree labels for the grid drawer. The canvas has no text of its own, so a label is
// rendered once with Qt into a coverage image (no anti-aliasing: the targets are 8-bit palette
// images) and stamped into the bitmap in the wanted colour, as often as the halo needs.

#include <QFont>
#include <QImage>
#include <QString>

#include "imaging/Canvas.h"

class TGraticuleLabels {
public:
    // Uses the desktop's default sans font at the smallest legible size. Without a GUI
    // application object there are no fonts: metrics are estimated and nothing is drawn.
    TGraticuleLabels();

    bool CanDraw() const { return fontsAvailable_; }
    int TextWidth(const QString& text) const;
    int TextHeight() const;

    // Renders the text once; Stamp then puts it at (x, y) (top-left) in a colour.
    void Prepare(const QString& text);
    void Stamp(TCanvas& canvas, int x, int y, TColor colour) const;

private:
    bool fontsAvailable_ = false;
    QFont font_;
    QImage coverage_;
};
