#include "viewer/SingleImageForm.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

#include "imaging/BMPExtImage.h"
#include "viewer/BitmapView.h"

namespace {

// The picture inside the scroll box. It paints the copy taken at show time and reports
// mouse positions in image pixels (it sits at the scroll box's origin, unscaled).
class ImageControl : public QWidget {
public:
    ImageControl(TFormSingleImage& form, const QImage& picture, QWidget* parent)
        : QWidget(parent), form_(form), picture_(picture)
    {
        setMouseTracking(true);
        setCursor(Qt::CrossCursor);
    }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QPainter p(this);
        p.fillRect(e->rect(), palette().window());
        p.drawImage(e->rect().topLeft(), picture_, e->rect());
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        const QPoint pos = e->position().toPoint();
        form_.ImageMouseMove(pos.x(), pos.y());
    }
    void contextMenuEvent(QContextMenuEvent* e) override { form_.PopupMenuImage()->popup(e->globalPos()); }

private:
    TFormSingleImage& form_;
    const QImage& picture_;
};

}  // namespace

float CountToKelvin(std::uint8_t count)
{
    return count >= 176 ? 418.0f - static_cast<float>(count) : 330.0f - static_cast<float>(count) / 2.0f;
}

QString SingleImageStatusText(int width, int height, int x, int y, float longitude, float latitude,
                              std::uint8_t value, int channelIndex)
{
    QString text = QString::asprintf("%d x %d image,  X: %d,  Y: %d,   lon: %.1f\u00B0  lat: %.1f\u00B0", width,
                                     height, x, y, static_cast<double>(longitude), static_cast<double>(latitude));
    switch (channelIndex) {
    case 0:
        text += QString::asprintf(",  video: %d", value);
        break;
    case 1:
    case 2:
    case 3:
    case 5: {
        const float kelvin = CountToKelvin(value);
        const float celsius = kelvin - 273.15f;
        text += QString::asprintf(",  T: %.1f\u00B0K (%.1f\u00B0C)", static_cast<double>(kelvin),
                                  static_cast<double>(celsius));
        break;
    }
    default:
        break;
    }
    return text;
}

TFormSingleImage::TFormSingleImage(QWidget* parent) : QMainWindow(parent)
{
    setObjectName("FormSingleImage");
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint);
    resize(537, 346 + 25);

    scrollBox_ = new QScrollArea(this);
    scrollBox_->setObjectName("ScrollBox");
    scrollBox_->setWidgetResizable(false);
    scrollBox_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setCentralWidget(scrollBox_);

    popupMenuImage_ = new QMenu(this);
    popupMenuImage_->setObjectName("PopupMenuImage");
    QAction* terrivo = popupMenuImage_->addAction("Terrivo process ... ");
    terrivo->setObjectName("PopupTerrivoprocess");
    connect(terrivo, &QAction::triggered, this, [this] { PopupTerrivoprocessClick(); });
    popupMenuImage_->addSeparator()->setObjectName("N1");
    QAction* quit = popupMenuImage_->addAction("Quit");
    quit->setObjectName("PopupQuit");
    connect(quit, &QAction::triggered, this, [this] { PopupQuitClick(); });
    // Escape closes too (keyPressEvent); Ctrl+W is what other viewers close with.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this), &QShortcut::activated, this, &QWidget::close);

    // Scrolling by the user ends the centring of the first showing.
    for (QScrollBar* bar : {scrollBox_->horizontalScrollBar(), scrollBox_->verticalScrollBar()})
        connect(bar, &QAbstractSlider::actionTriggered, this, [this] { centring_ = false; });

    image_ = new ImageControl(*this, picture_, nullptr);
    image_->setObjectName("Image");
    scrollBox_->setWidget(image_);

    statusBar()->setObjectName("StatusBar");
    statusBar()->setFixedHeight(25);
    statusBar()->setSizeGripEnabled(false);
    setWindowState(Qt::WindowMaximized);
}

void TFormSingleImage::setVisible(bool visible)
{
    // Another thumbnail clicked while the viewer is open shows it again with another source;
    // the picture must follow the channel it now reads out.
    if (visible && (!isVisible() || SourceImage != pictureSource_))
        FormShow();
    if (!visible)
        centring_ = false;
    QMainWindow::setVisible(visible);
}

void TFormSingleImage::FormShow()
{
    pictureSource_ = SourceImage;
    if (!SourceImage) {
        picture_ = QImage();
        image_->resize(0, 0);
        return;
    }
    // The view keeps the picture as it was when opened; the readout follows the live image.
    picture_ = BitmapView(*SourceImage).copy();
    image_->resize(SourceImage->Width(), SourceImage->Height());
    image_->update();
}

void TFormSingleImage::resizeEvent(QResizeEvent* e)
{
    QMainWindow::resizeEvent(e);
    FormResize();
}

void TFormSingleImage::FormResize()
{
    // A maximised window may get its final size from the window manager only after its first
    // resize; until the user scrolls, every resize of that first showing centres again.
    if (Centred && !centring_)
        return;
    Centred = true;
    centring_ = true;
    // The scroll box learns its new size only after this window's own resize has been
    // handled, so the view is centred once the layout has run, on the client area shown.
    QTimer::singleShot(0, this, [this] {
        if (!centring_)
            return;
        const QWidget* viewport = scrollBox_->viewport();
        scrollBox_->horizontalScrollBar()->setValue(std::max((image_->width() - viewport->width()) / 2, 0));
        scrollBox_->verticalScrollBar()->setValue(std::max((image_->height() - viewport->height()) / 2, 0));
    });
}

void TFormSingleImage::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(e);
}

QString TFormSingleImage::StatusText() const
{
    return statusBar()->currentMessage();
}

void TFormSingleImage::ImageMouseMove(int x, int y)
{
    if (!SourceImage || x < 0 || y < 0 || x >= SourceImage->Width() || y >= SourceImage->Height())
        return;
    float lon = 0.0f, lat = 0.0f;
    if (PixelToGeo)
        PixelToGeo(x, y, lon, lat);
    const std::uint8_t v = SourceImage->PixelFormat() == TPixelFormat::pf8bit ? SourceImage->ScanLine(y)[x] : 0;
    statusBar()->showMessage(
        SingleImageStatusText(SourceImage->Width(), SourceImage->Height(), x, y, lon, lat, v, ChannelIndex));
}
