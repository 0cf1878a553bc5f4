#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QWheelEvent>
#include <QtTest/QTest>

#include "imaging/BMPExtImage.h"
#include "viewer/BitmapView.h"
#include "viewer/SingleImageForm.h"

namespace {

struct ReadoutCase {
    int channel;
    std::uint8_t value;
    const char* tail;
    bool onDisc = true;
    int background = -1;
};

class ReadoutTest : public ::testing::TestWithParam<ReadoutCase> {};

TEST_P(ReadoutTest, AppendsValueOrTemperatureByChannel)
{
    const auto& c = GetParam();
    const QString text =
        SingleImageStatusText(2816, 3248, 10, 20, -128.0f, 0.0f, c.value, c.channel, c.onDisc, c.background);
    EXPECT_EQ(text.toStdString(), std::string("2816 x 3248 image,  X: 10,  Y: 20,   ") +
                                      (c.onDisc ? "lon: -128.0\u00B0  lat: 0.0\u00B0" : "") + c.tail);
}

INSTANTIATE_TEST_SUITE_P(
    Channels, ReadoutTest,
    ::testing::Values(ReadoutCase{0, 200, ",  video: 200"},
                      ReadoutCase{3, 176, ",  T: 242.0\u00B0K (-31.1\u00B0C)"},
                      ReadoutCase{3, 175, ",  T: 242.5\u00B0K (-30.6\u00B0C)"},
                      ReadoutCase{1, 0, ",  T: 330.0\u00B0K (56.9\u00B0C)"},
                      ReadoutCase{5, 255, ",  T: 163.0\u00B0K (-110.1\u00B0C)"},
                      ReadoutCase{2, 100, ",  T: 280.0\u00B0K (6.9\u00B0C)"},
                      ReadoutCase{4, 100, ""},
                      // space beside the Earth has neither a place nor a value
                      ReadoutCase{3, 240, "off the disc", false, 240},
                      ReadoutCase{0, 16, "off the disc", false, 16},
                      // an infrared pixel never filled is not a -95 C cloud top
                      ReadoutCase{3, 240, ",  no data", true, 240},
                      ReadoutCase{3, 239, ",  T: 179.0\u00B0K (-94.1\u00B0C)", true, 240},
                      ReadoutCase{0, 16, ",  video: 16", true, 16}));

TEST(CountToKelvin, HalfKelvinStepsBelowTheKnee)
{
    EXPECT_FLOAT_EQ(CountToKelvin(176), 242.0f);
    EXPECT_FLOAT_EQ(CountToKelvin(175), 242.5f);
    EXPECT_FLOAT_EQ(CountToKelvin(0), 330.0f);
    EXPECT_FLOAT_EQ(CountToKelvin(255), 163.0f);
}

TExtBitmap MakeComposite(int w, int h, std::uint8_t fill)
{
    TExtBitmap b(w, h);
    b.MakeGreyPalette();
    b.Fill(fill);
    return b;
}

// Opens a viewer on a 1200 x 1100 visible composite whose pixel (x, y) is 201.
struct TOpenViewer {
    TOpenViewer(int x = 0, int y = 0) : composite(MakeComposite(1200, 1100, 16))
    {
        composite.ScanLine(y)[x] = 201;
        form.SourceImage = &composite;
        form.ChannelIndex = 0;
        form.PixelToGeo = [](int, int, float& lon, float& lat) {
            lon = -128.0f;
            lat = 0.0f;
            return true;
        };
        form.show();
        QApplication::processEvents();
    }
    // The readout for the mouse at a point of the scroll box's viewport.
    std::string ReadoutAt(QPoint viewportPoint)
    {
        const QPointF at = form.Image()->mapFrom(form.ScrollBox()->viewport(), QPointF(viewportPoint));
        QMouseEvent move(QEvent::MouseMove, at, form.Image()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(form.Image(), &move);
        return form.StatusText().toStdString();
    }
    TExtBitmap composite;
    TFormSingleImage form;
};

TEST(FormSingleImage, ReadoutNamesThePictureShownUntilItIsRenewed)
{
    TOpenViewer v;
    TExtBitmap& composite = v.composite;
    TFormSingleImage& form = v.form;
    EXPECT_EQ(form.Image()->width(), 1200);
    EXPECT_EQ(form.Image()->height(), 1100);

    // A file being placed changes the composite: the picture and its numbers stay together.
    composite.ScanLine(5)[7] = 200;
    form.ImageMouseMove(7, 5);
    EXPECT_EQ(form.StatusText().toStdString(),
              "1200 x 1100 image,  X: 7,  Y: 5,   lon: -128.0\u00B0  lat: 0.0\u00B0,  video: 16");
    // During a drag the new image waits for the drop.
    form.SetDragging(true);
    form.RenewPicture("new");
    form.ImageMouseMove(7, 5);
    EXPECT_NE(form.StatusText().toStdString().find("video: 16"), std::string::npos);
    EXPECT_EQ(qGray(form.Image()->grab(QRect(7, 5, 1, 1)).toImage().pixel(0, 0)), 16);
    form.SetDragging(false);
    EXPECT_EQ(form.windowTitle(), "new");
    EXPECT_EQ(qGray(form.Image()->grab(QRect(7, 5, 1, 1)).toImage().pixel(0, 0)), 200);
    form.ImageMouseMove(7, 5);
    EXPECT_EQ(form.StatusText().toStdString(),
              "1200 x 1100 image,  X: 7,  Y: 5,   lon: -128.0\u00B0  lat: 0.0\u00B0,  video: 200");
    // Outside the image nothing is read.
    form.ImageMouseMove(1200, 5);
    EXPECT_EQ(form.StatusText().toStdString(),
              "1200 x 1100 image,  X: 7,  Y: 5,   lon: -128.0\u00B0  lat: 0.0\u00B0,  video: 200");
}

// Lets the window system's resizes and the work they post run to the end.
void Settle()
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

TEST(FormSingleImage, CentresOnlyOnTheFirstResize)
{
    TExtBitmap composite = MakeComposite(3000, 3000, 240);
    TFormSingleImage form;
    form.SourceImage = &composite;
    form.ChannelIndex = 3;
    form.show();
    Settle();
    ASSERT_TRUE(form.Centred);
    const int h = form.ScrollBox()->horizontalScrollBar()->value();
    const int v = form.ScrollBox()->verticalScrollBar()->value();
    EXPECT_GT(h, 0);
    EXPECT_GT(v, 0);
    // Centred on the client area shown, which is not the design size once maximised.
    const QWidget* viewport = form.ScrollBox()->viewport();
    EXPECT_EQ(h, (3000 - viewport->width()) / 2);
    EXPECT_EQ(v, (3000 - viewport->height()) / 2);
    // A window manager may hand the maximised size over only after the first layout.
    form.resize(form.width() + 300, form.height() + 200);
    Settle();
    EXPECT_EQ(form.ScrollBox()->horizontalScrollBar()->value(), (3000 - viewport->width()) / 2);
    EXPECT_EQ(form.ScrollBox()->verticalScrollBar()->value(), (3000 - viewport->height()) / 2);

    form.ScrollBox()->horizontalScrollBar()->setValue(0);
    form.close();
    EXPECT_FALSE(form.isVisible());
    form.show();
    QApplication::processEvents();
    EXPECT_EQ(form.ScrollBox()->horizontalScrollBar()->value(), 0);
}

TEST(FormSingleImage, PictureFollowsAnotherChannelShownWhileOpen)
{
    TExtBitmap visible = MakeComposite(1200, 1100, 16);
    TExtBitmap infrared = MakeComposite(1300, 1100, 240);
    TFormSingleImage form;
    form.SourceImage = &visible;
    form.show();
    QApplication::processEvents();
    // Another thumbnail clicked with the viewer still open.
    form.SourceImage = &infrared;
    form.ChannelIndex = 3;
    form.show();
    QApplication::processEvents();
    EXPECT_EQ(form.Image()->width(), 1300);
    EXPECT_EQ(qGray(form.Image()->grab(QRect(0, 0, 1, 1)).toImage().pixel(0, 0)), 240);
}

std::string Readout(int x, int y, int value)
{
    return "1200 x 1100 image,  X: " + std::to_string(x) + ",  Y: " + std::to_string(y) +
           ",   lon: -128.0\u00B0  lat: 0.0\u00B0,  video: " + std::to_string(value);
}

struct ZoomReadoutCase {
    const char* name;
    double zoom;
    QPoint mouse;  // in the image control
    int x, y;      // the composite pixel under it
};

class ZoomReadoutTest : public ::testing::TestWithParam<ZoomReadoutCase> {};

TEST_P(ZoomReadoutTest, ReadsTheCompositePixelUnderTheMouse)
{
    const auto& c = GetParam();
    TOpenViewer v(c.x, c.y);
    v.form.SetZoom(c.zoom, QPointF(0, 0));
    EXPECT_EQ(v.form.Image()->width(), static_cast<int>(1200 * c.zoom));
    QMouseEvent move(QEvent::MouseMove, QPointF(c.mouse), v.form.Image()->mapToGlobal(QPointF(c.mouse)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(v.form.Image(), &move);
    EXPECT_EQ(v.form.StatusText().toStdString(), Readout(c.x, c.y, 201));
}

INSTANTIATE_TEST_SUITE_P(
    Zooms, ZoomReadoutTest,
    ::testing::Values(ZoomReadoutCase{"one", 1.0, {100, 120}, 100, 120},
                      ZoomReadoutCase{"quarter", 0.25, {25, 30}, 100, 120},
                      ZoomReadoutCase{"quarter_last", 0.25, {299, 274}, 1196, 1096},
                      ZoomReadoutCase{"four", 4.0, {403, 401}, 100, 100},
                      ZoomReadoutCase{"eight_last", 8.0, {9599, 8799}, 1199, 1099}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormSingleImage, CtrlWheelZoomsAboutTheMouse)
{
    TOpenViewer v;
    v.form.ScrollBox()->horizontalScrollBar()->setValue(300);
    v.form.ScrollBox()->verticalScrollBar()->setValue(300);
    const QPoint mouse(150, 100);
    const std::string before = v.ReadoutAt(mouse);
    QWheelEvent wheel(QPointF(mouse), v.form.ScrollBox()->viewport()->mapToGlobal(QPointF(mouse)), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(v.form.ScrollBox()->viewport(), &wheel);
    EXPECT_EQ(v.form.Zoom(), 2.0);
    EXPECT_EQ(v.ReadoutAt(mouse), before);
}

struct ViewerKeyCase {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    double zoom;  // 0: the whole composite fits the window
    bool open;
};

class ViewerKeyTest : public ::testing::TestWithParam<ViewerKeyCase> {};

TEST_P(ViewerKeyTest, KeysZoomFitAndClose)
{
    const auto& c = GetParam();
    TOpenViewer v;
    v.form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&v.form));
    QTest::keyClick(&v.form, c.key, c.modifiers);
    QApplication::processEvents();  // the scroll bars come and go after the layout
    EXPECT_EQ(v.form.isVisible(), c.open);
    if (c.zoom > 0) {
        EXPECT_EQ(v.form.Zoom(), c.zoom);
    } else {
        EXPECT_LT(v.form.Zoom(), 1.0);
        EXPECT_LE(v.form.Image()->width(), v.form.ScrollBox()->viewport()->width());
        EXPECT_LE(v.form.Image()->height(), v.form.ScrollBox()->viewport()->height());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ViewerKeyTest,
    ::testing::Values(ViewerKeyCase{"Escape", Qt::Key_Escape, Qt::NoModifier, 1.0, false},
                      ViewerKeyCase{"CtrlW", Qt::Key_W, Qt::ControlModifier, 1.0, false},
                      ViewerKeyCase{"Plus", Qt::Key_Plus, Qt::NoModifier, 2.0, true},
                      ViewerKeyCase{"Minus", Qt::Key_Minus, Qt::NoModifier, 0.5, true},
                      ViewerKeyCase{"ZeroFits", Qt::Key_0, Qt::NoModifier, 0.0, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BitmapView, SharesThePixelMemory)
{
    TExtBitmap b = MakeComposite(10, 3, 7);
    const QImage view = BitmapView(b);
    EXPECT_EQ(view.constBits(), b.Bits());
    EXPECT_EQ(view.bytesPerLine(), b.BytesPerRow());
    EXPECT_EQ(qGray(view.pixel(3, 1)), 7);
}

// The key C shows an infrared composite in the station's colour table, and again in grey.
TEST(FormSingleImage, KeyCSwitchesGreyAndColour)
{
    TOpenViewer v;
    v.form.ColourTable = QList<QRgb>(256, qRgb(255, 0, 0));
    v.form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&v.form));
    QTest::keyClick(&v.form, Qt::Key_C);
    EXPECT_TRUE(v.form.ShowsColour());
    EXPECT_EQ(v.form.Image()->grab().toImage().pixel(3, 3), qRgb(255, 0, 0));
    QTest::keyClick(&v.form, Qt::Key_C);
    EXPECT_EQ(v.form.Image()->grab().toImage().pixel(3, 3), qRgb(16, 16, 16));
}

}  // namespace
