#pragma once
// A small round indicator lamp, 17 x 17 pixels, lit in its Colour.

#include <QWidget>

#include <cstdint>

class TLED : public QWidget {
    Q_OBJECT
public:
    explicit TLED(QWidget* parent = nullptr);

    // Red + green << 8 + blue << 16; lime when created.
    std::uint32_t Colour() const { return colour_; }
    void SetColour(std::uint32_t colour);

    static QColor ToQColor(std::uint32_t colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::uint32_t colour_ = 0x00FF00;
};
