#include "viewer/SingleImageForm.h"

#include "viewer/ElidingStatusBar.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

#include "imaging/BMPExtImage.h"
#include "viewer/BitmapView.h"

namespace {

// The picture inside the scroll box. It paints the copy taken at show time at the form's
// zoom, reports the composite pixel under the mouse, and pans the view when dragged.
class ImageControl : public QWidget {
public:
    ImageControl(TFormSingleImage& form, const QImage& picture, const QImage& reduced, QWidget* parent)
        : QWidget(parent), form_(form), picture_(picture), reduced_(reduced)
    {
        setMouseTracking(true);
        setCursor(Qt::CrossCursor);
    }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QPainter p(this);
        p.fillRect(e->rect(), palette().window());
        const double zoom = form_.Zoom();
        if (zoom == 1.0 || !reduced_.isNull()) {
            const QImage& shown = zoom == 1.0 ? picture_ : reduced_;
            p.drawImage(e->rect().topLeft(), shown, e->rect());
            return;
        }
        // Enlarged: whole composite pixels as square blocks, only those the update needs.
        const QRectF wanted(e->rect().x() / zoom, e->rect().y() / zoom, e->rect().width() / zoom,
                            e->rect().height() / zoom);
        const QRect source = wanted.toAlignedRect() & picture_.rect();
        p.drawImage(QRectF(source.x() * zoom, source.y() * zoom, source.width() * zoom, source.height() * zoom),
                    picture_, source);
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        if (e->button() != Qt::LeftButton) {
            QWidget::mousePressEvent(e);
            return;
        }
        dragging_ = true;
        form_.SetDragging(true);
        dragFrom_ = e->globalPosition().toPoint();
        scrollFrom_ = {form_.ScrollBox()->horizontalScrollBar()->value(), form_.ScrollBox()->verticalScrollBar()->value()};
        setCursor(Qt::ClosedHandCursor);
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (dragging_) {
            form_.ScrollTo(scrollFrom_ - (e->globalPosition().toPoint() - dragFrom_));
        }
        const QPoint global = e->globalPosition().toPoint();
        form_.MouseAt(&global);
    }
    void leaveEvent(QEvent* e) override
    {
        form_.MouseAt(nullptr);
        QWidget::leaveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton && dragging_) {
            dragging_ = false;
            setCursor(Qt::CrossCursor);
            form_.SetDragging(false);
            return;
        }
        QWidget::mouseReleaseEvent(e);
    }
    void contextMenuEvent(QContextMenuEvent* e) override { form_.PopupMenuImage()->popup(e->globalPos()); }

private:
    TFormSingleImage& form_;
    const QImage& picture_;
    const QImage& reduced_;
    bool dragging_ = false;
    QPoint dragFrom_;
    QPoint scrollFrom_;
};

// The next power of two above (+1) or below (-1) the zoom; a fitted zoom between two steps
// goes to the neighbouring one.
double ZoomStep(double zoom, int direction)
{
    const double exponent = std::log2(zoom);
    return std::exp2(direction > 0 ? std::floor(exponent + 1e-9) + 1.0 : std::ceil(exponent - 1e-9) - 1.0);
}

QString ZoomText(double zoom)
{
    if (zoom >= 1.0 && zoom == std::floor(zoom))
        return QStringLiteral("%1:1").arg(static_cast<int>(zoom));
    if (zoom < 1.0 && 1.0 / zoom == std::floor(1.0 / zoom))
        return QStringLiteral("1:%1").arg(static_cast<int>(1.0 / zoom));
    return QStringLiteral("%1 %").arg(std::lround(zoom * 100.0));
}

}  // namespace
QString SingleImageStatusText(int width, int height, int x, int y, float longitude, float latitude,
                              std::uint8_t value, int channelIndex, bool onDisc, int background)
{
    if (!onDisc)
        return QString::asprintf("%d x %d image,  X: %d,  Y: %d,   off the disc", width, height, x, y);
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
        // The background count would read as a plausible cloud top.
        if (value == background) {
            text += QStringLiteral(",  no data");
            break;
        }
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
    setWindowFlags(Qt::Window);
    resize(537, 346 + 25);

    scrollBox_ = new QScrollArea(this);
    scrollBox_->setObjectName("ScrollBox");
    scrollBox_->setWidgetResizable(false);
    scrollBox_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setCentralWidget(scrollBox_);
    scrollBox_->viewport()->installEventFilter(this);

    popupMenuImage_ = new QMenu(this);
    popupMenuImage_->setObjectName("PopupMenuImage");
    QAction* terrivo = popupMenuImage_->addAction("Terrivo process ... ");
    terrivo->setObjectName("PopupTerrivoprocess");
    connect(terrivo, &QAction::triggered, this, [this] { PopupTerrivoprocessClick(); });
    // The zoom, with the keys that do the same shown beside each item.
    popupMenuImage_->addSeparator();
    const std::pair<const char*, std::function<void()>> zooms[] = {
        {"Zoom in\t+", [this] { ZoomIn(); }},
        {"Zoom out\t-", [this] { ZoomOut(); }},
        {"Fit to window\t0", [this] { FitToWindow(); }},
        {"Actual size (1:1)\t1", [this] { SetZoom(1.0, ZoomAnchor()); }},
    };
    for (const auto& [text, act] : zooms)
        connect(popupMenuImage_->addAction(text), &QAction::triggered, this, act);
    // The colour table is found here too, not only by those who know the key.
    popupMenuImage_->addSeparator();
    colourAction_ = popupMenuImage_->addAction("Colour table\tC");
    colourAction_->setObjectName("PopupColour");
    colourAction_->setCheckable(true);
    connect(colourAction_, &QAction::triggered, this, [this] { ToggleColour(); });
    popupMenuImage_->addSeparator()->setObjectName("N1");
    QAction* quit = popupMenuImage_->addAction("Quit");
    quit->setObjectName("PopupQuit");
    connect(quit, &QAction::triggered, this, [this] { PopupQuitClick(); });

    // Scrolling by the user ends the centring of the first showing.
    for (QScrollBar* bar : {scrollBox_->horizontalScrollBar(), scrollBox_->verticalScrollBar()})
        connect(bar, &QAbstractSlider::actionTriggered, this, [this] { centring_ = false; });
    // Scrolling moves another pixel under the mouse.
    for (QScrollBar* bar : {scrollBox_->horizontalScrollBar(), scrollBox_->verticalScrollBar()})
        connect(bar, &QAbstractSlider::valueChanged, this, [this] { UpdateReadout(); });
    // Escape closes too (keyPressEvent); Ctrl+W is what other viewers close with.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this), &QShortcut::activated, this, &QWidget::close);

    image_ = new ImageControl(*this, picture_, reduced_, nullptr);
    image_->setObjectName("Image");
    scrollBox_->setWidget(image_);

    // A narrow window cuts the readout, never the zoom beside it.
    setStatusBar(new TElidingStatusBar(this));
    statusBar()->setObjectName("StatusBar");
    statusBar()->setFixedHeight(25);
    statusBar()->setSizeGripEnabled(false);
    // The zoom sits beside the readout, so the readout's text stays what it always was.
    zoomLabel_ = new QLabel(ZoomText(zoom_), this);
    zoomLabel_->setObjectName("LabelZoom");
    zoomLabel_->setToolTip("Ctrl+wheel or + and - zoom, 0 fits the window, 1 shows 1:1; drag to move");
    tableLabel_ = new QLabel(this);
    tableLabel_->setObjectName("LabelColourTable");
    tableLabel_->setToolTip("The colour table shown; C or the menu switches to grey");
    tableLabel_->hide();
    statusBar()->addPermanentWidget(tableLabel_);
    statusBar()->addPermanentWidget(zoomLabel_);
    colourBar_ = new QLabel(this);
    colourBar_->setObjectName("ColourBar");
    colourBar_->setFixedSize(258, 16);
    colourBar_->setFrameShape(QFrame::Box);
    colourBar_->hide();
    for (const auto& [text, tip, act] : {std::tuple<const char*, const char*, std::function<void()>>{
                                             "Fit window", "The whole image in the window (0)",
                                             [this] { FitToWindow(); }},
                                         {"Actual size", "One image pixel per screen pixel, 1:1 (1)",
                                          [this] { SetZoom(1.0, ZoomAnchor()); }}}) {
        auto* button = new QToolButton(this);
        button->setText(text);
        button->setToolTip(tip);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QToolButton::clicked, this, act);
        statusBar()->addPermanentWidget(button);
    }
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
    renewPending_ = false;
    TakePicture();
    // A zoom to fit chosen before fits this showing too, once the window has its size.
    if (fitting_)
        QTimer::singleShot(0, this, [this] {
            if (fitting_)
                FitToWindow();
        });
}

void TFormSingleImage::TakePicture()
{
    if (!SourceImage) {
        picture_ = QImage();
        reduced_ = QImage();
        image_->resize(0, 0);
        UpdateReadout();
        return;
    }
    // A copy: the composite changes while a file is placed, and the view and its readout
    // keep the picture they show until the image is complete and the user is not dragging.
    picture_ = BitmapView(*SourceImage).copy();
    greys_ = picture_.colorTable();
    ApplyColours();
    SizeImageToZoom();
    image_->update();
    UpdateReadout();
}

void TFormSingleImage::RenewPicture(const QString& title)
{
    if (!isVisible()) {
        setWindowTitle(title);
        return;
    }
    if (dragging_) {
        renewPending_ = true;
        pendingTitle_ = title;
        return;
    }
    setWindowTitle(title);
    TakePicture();
}

void TFormSingleImage::SetDragging(bool dragging)
{
    dragging_ = dragging;
    if (!dragging && renewPending_) {
        renewPending_ = false;
        RenewPicture(pendingTitle_);
    }
}

void TFormSingleImage::MouseAt(const QPoint* global)
{
    mouseInside_ = global != nullptr;
    if (global)
        mouseGlobal_ = *global;
    UpdateReadout();
}

void TFormSingleImage::UpdateReadout()
{
    if (mouseInside_ && !picture_.isNull()) {
        // The composite's own pixel: the view's pixels are composite pixels times the zoom.
        const QPointF at = image_->mapFromGlobal(QPointF(mouseGlobal_));
        if (image_->rect().contains(at.toPoint())) {
            ImageMouseMove(static_cast<int>(std::floor(at.x() / zoom_)), static_cast<int>(std::floor(at.y() / zoom_)));
            return;
        }
    }
    if (Notice.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(Notice);
}

void TFormSingleImage::ToggleColour()
{
    showColour_ = !showColour_;
    ApplyColours();
    SizeImageToZoom();
    image_->update();
}

void TFormSingleImage::ApplyColours()
{
    const bool colour = showColour_ && ColourTable.size() == 256;
    if (picture_.format() == QImage::Format_Indexed8 && greys_.size() == 256)
        picture_.setColorTable(colour ? ColourTable : greys_);
    colourAction_->setEnabled(ColourTable.size() == 256);
    colourAction_->setChecked(colour);
    tableLabel_->setText(colour ? ColourTableName : QString());
    tableLabel_->setVisible(colour);
    // The bar shows which colour stands for which grey value, dark (cold) at the left.
    if (colour) {
        QImage bar(256, 1, QImage::Format_RGB32);
        for (int i = 0; i < 256; ++i) bar.setPixel(i, 0, ColourTable[i]);
        colourBar_->setPixmap(QPixmap::fromImage(bar.scaled(colourBar_->size() - QSize(2, 2))));
    }
    colourBar_->setVisible(colour);
    PlaceColourBar();
}

void TFormSingleImage::PlaceColourBar()
{
    const QWidget* view = scrollBox_->viewport();
    const QPoint corner = view->mapTo(this, QPoint(0, view->height()));
    colourBar_->move(corner.x() + 8, corner.y() - colourBar_->height() - 8);
    colourBar_->raise();
}

void TFormSingleImage::SizeImageToZoom()
{
    // Rounded down, so a fitted picture never calls for scroll bars.
    const QSize size(static_cast<int>(std::floor(picture_.width() * zoom_ + 1e-6)),
                     static_cast<int>(std::floor(picture_.height() * zoom_ + 1e-6)));
    reduced_ = zoom_ < 1.0 && !picture_.isNull()
                   ? picture_.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                   : QImage();
    image_->resize(size);
    zoomLabel_->setText(ZoomText(zoom_));
}

void TFormSingleImage::SetZoom(double zoom, QPointF anchor)
{
    fitting_ = false;
    ApplyZoom(zoom, anchor);
}

void TFormSingleImage::ApplyZoom(double zoom, QPointF anchor)
{
    zoom = std::clamp(zoom, MinZoom, MaxZoom);
    if (zoom == zoom_)
        return;
    centring_ = false;
    QScrollBar* h = scrollBox_->horizontalScrollBar();
    QScrollBar* v = scrollBox_->verticalScrollBar();
    const QPointF at = (anchor - QPointF(image_->pos())) / zoom_;  // composite point under the anchor
    zoom_ = zoom;
    // 1:1 keeps the picture at the scroll box's corner, as it always was; other zooms centre
    // a picture smaller than the window.
    scrollBox_->setAlignment(zoom_ == 1.0 ? Qt::AlignLeft | Qt::AlignTop : Qt::AlignCenter);
    SizeImageToZoom();
    h->setValue(static_cast<int>(std::lround(at.x() * zoom_ - anchor.x())));
    v->setValue(static_cast<int>(std::lround(at.y() * zoom_ - anchor.y())));
    image_->update();
    UpdateReadout();
}

QPointF TFormSingleImage::ZoomAnchor() const
{
    const QPoint mouse = scrollBox_->viewport()->mapFromGlobal(QCursor::pos());
    if (scrollBox_->viewport()->rect().contains(mouse))
        return mouse;
    return QRectF(scrollBox_->viewport()->rect()).center();
}

void TFormSingleImage::ZoomIn()
{
    SetZoom(ZoomStep(zoom_, +1), ZoomAnchor());
}

void TFormSingleImage::ZoomOut()
{
    SetZoom(ZoomStep(zoom_, -1), ZoomAnchor());
}

void TFormSingleImage::ScrollTo(QPoint position)
{
    centring_ = false;
    scrollBox_->horizontalScrollBar()->setValue(position.x());
    scrollBox_->verticalScrollBar()->setValue(position.y());
}

void TFormSingleImage::FitToWindow()
{
    if (picture_.isNull())
        return;
    const QSize room = scrollBox_->maximumViewportSize();
    const double zoom = std::min(static_cast<double>(room.width()) / picture_.width(),
                                 static_cast<double>(room.height()) / picture_.height());
    ApplyZoom(zoom, QRectF(scrollBox_->viewport()->rect()).center());
    fitting_ = true;
}

bool TFormSingleImage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == scrollBox_->viewport() && event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->modifiers() & Qt::ControlModifier) {
            // One step per notch (120); finer wheels add up to one.
            wheelRest_ += wheel->angleDelta().y();
            for (; wheelRest_ >= 120; wheelRest_ -= 120)
                SetZoom(ZoomStep(zoom_, +1), wheel->position());
            for (; wheelRest_ <= -120; wheelRest_ += 120)
                SetZoom(ZoomStep(zoom_, -1), wheel->position());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormSingleImage::resizeEvent(QResizeEvent* e)
{
    QMainWindow::resizeEvent(e);
    FormResize();
    PlaceColourBar();
}

void TFormSingleImage::FormResize()
{
    if (fitting_)
        QTimer::singleShot(0, this, [this] {
            if (fitting_)
                FitToWindow();
        });
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
    switch (e->key()) {
    case Qt::Key_Escape:
        close();
        return;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomIn();
        return;
    case Qt::Key_Minus:
        ZoomOut();
        return;
    case Qt::Key_0:
        FitToWindow();
        return;
    case Qt::Key_1:
        SetZoom(1.0, ZoomAnchor());
        return;
    case Qt::Key_C:
        ToggleColour();
        return;
    default:
        QMainWindow::keyPressEvent(e);
    }
}

QString TFormSingleImage::StatusText() const
{
    return statusBar()->currentMessage();
}

void TFormSingleImage::ImageMouseMove(int x, int y)
{
    // The numbers are those of the picture shown, never of a newer image not shown yet.
    if (picture_.isNull() || x < 0 || y < 0 || x >= picture_.width() || y >= picture_.height())
        return;
    float lon = 0.0f, lat = 0.0f;
    const bool onDisc = !PixelToGeo || PixelToGeo(x, y, lon, lat);
    const std::uint8_t v = picture_.format() == QImage::Format_Indexed8 ? picture_.constScanLine(y)[x] : 0;
    statusBar()->showMessage(SingleImageStatusText(picture_.width(), picture_.height(), x, y, lon, lat, v,
                                                   ChannelIndex, onDisc, Background));
}
