#pragma once
// Full-size view of one channel's composite, with a readout of the pixel under the mouse.
// The view opens at 1:1 and can be zoomed from 1/8 to 8 times and dragged; the readout always
// names the composite's own pixel.

#include <QMainWindow>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QPointF>
#include <QString>

#include <cstdint>
#include <functional>

#include "netcdf/RadianceToModeAlookup.h"

class QAction;
class QLabel;
class QMenu;
class QScrollArea;
class QStatusBar;
class TExtBitmap;

// The readout for one pixel: position, longitude/latitude, and the raw value (visible
// channel) or the brightness temperature the count stands for (infrared channels). Off the
// Earth's disc there is neither a place nor a value; an infrared pixel still at the
// composite's background value (`background`, -1 for none) was never filled.
QString SingleImageStatusText(int width, int height, int x, int y, float longitude, float latitude,
                              std::uint8_t value, int channelIndex, bool onDisc = true, int background = -1);


class TFormSingleImage : public QMainWindow {
    Q_OBJECT
public:
    using PixelToGeoFn = std::function<bool(int x, int y, float& longitude, float& latitude)>;

    static constexpr double MinZoom = 1.0 / 8.0;
    static constexpr double MaxZoom = 8.0;

    explicit TFormSingleImage(QWidget* parent = nullptr);

    bool Centred = false;
    std::uint8_t ChannelIndex = 0;
    const TExtBitmap* SourceImage = nullptr;   // the main window's composite; not owned
    PixelToGeoFn PixelToGeo;                   // through the main window's segment mapping
    // The colours of the 256 grey values in the colour table the station saves this channel
    // in; empty for none. The key C switches the view between them and grey.
    QList<QRgb> ColourTable;
    // Its name, shown while the view is in colour.
    QString ColourTableName;
    bool ShowsColour() const { return showColour_; }
    // The composite's value where nothing was placed yet; -1 for none.
    int Background = -1;
    // Shown in the status bar while the mouse is not over the picture (e.g. that no image
    // has come yet); empty for none.
    QString Notice;

    QString StatusText() const;
    QScrollArea* ScrollBox() const { return scrollBox_; }
    QWidget* Image() const { return image_; }
    QMenu* PopupMenuImage() const { return popupMenuImage_; }

    void ImageMouseMove(int x, int y);
    // The composite shown has a new image: the picture and the title follow it, keeping the
    // zoom and the position. While the picture is dragged it waits for the drop, so nothing
    // changes under the user's hand.
    void RenewPicture(const QString& title);
    // The mouse over the picture, in global coordinates; nullopt when it left.
    void MouseAt(const QPoint* global);
    void SetDragging(bool dragging);
    void PopupTerrivoprocessClick() {}
    void PopupQuitClick() { close(); }

    // Screen pixels per composite pixel.
    double Zoom() const { return zoom_; }
    // Keeps the composite point under `anchor` (a point of the scroll box's viewport) in place.
    void SetZoom(double zoom, QPointF anchor);
    // One step (a factor of two) in or out, about the mouse when it is over the view.
    void ZoomIn();
    void ZoomOut();
    // The whole composite in the window; later showings fit again until another zoom is chosen.
    void FitToWindow();
    bool Fitting() const { return fitting_; }
    // Moves the view (dragging does); like scrolling by hand, it ends the first centring.
    void ScrollTo(QPoint position);

    // Every way of showing the window goes through here, so the picture is taken and the
    // image control sized before the first resize centres the view.
    void setVisible(bool visible) override;

protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void FormResize();
    void SizeImageToZoom();
    void ApplyColours();
    void ToggleColour();
    // At the view's bottom-left corner, over the picture.
    void PlaceColourBar();
    void TakePicture();
    QPointF ZoomAnchor() const;
    void ApplyZoom(double zoom, QPointF anchor);
    // The readout for the pixel now under the mouse, or the notice when it is not over one.
    void UpdateReadout();

    QScrollArea* scrollBox_ = nullptr;
    QWidget* image_ = nullptr;
    QMenu* popupMenuImage_ = nullptr;
    QLabel* zoomLabel_ = nullptr;
    QLabel* tableLabel_ = nullptr;
    QLabel* colourBar_ = nullptr;
    QAction* colourAction_ = nullptr;
    QImage picture_;
    const TExtBitmap* pictureSource_ = nullptr; // the image the picture was taken from
    bool centring_ = false;                     // the first showing is still being centred
    QImage reduced_;  // the picture smoothed down to the zoom, when below 1:1
    QList<QRgb> greys_;  // the picture's own colours
    bool showColour_ = false;
    double zoom_ = 1.0;
    int wheelRest_ = 0;  // wheel turn not yet worth a step (fine-grained wheels)
    bool fitting_ = false;        // the user chose to fit the window
    bool dragging_ = false;
    bool renewPending_ = false;   // a new image came during a drag
    QString pendingTitle_;
    bool mouseInside_ = false;
    QPoint mouseGlobal_;
};
