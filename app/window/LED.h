#pragma once
// A small round indicator lamp, 17 x 17 pixels, lit in its Colour.

#include <QWidget>

#include <cstdint>

// The receive lamp's colours: grey while the station waits, yellow while a cycle runs, red
// between cycles while the station runs but processes nothing.
constexpr std::uint32_t LedIdleColour = 0x808080;
constexpr std::uint32_t LedBusyColour = 0x00FFFF;
constexpr std::uint32_t LedHaltedColour = 0x0000FF;

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
