#include "app/window/OrvantaForm.h"

#include "app/headless/NotifierDBus.h"
#include "app/window/OrvantaFormMnemonics.h"
#include "product/outputs/Publisher.h"
#include "mapping/CompositeLayout.h"
#include "viewer/BitmapView.h"
#include "viewer/ElidingStatusBar.h"
#include "viewer/SingleImageForm.h"

#include <QStringList>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QBoxLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QTextCursor>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <filesystem>
#include <initializer_list>
#include <utility>

#include "Version.h"
#include "product/outputs/ColourTables.h"
#include "product/EventPump.h"
#include "base/Files.h"
#include "base/DateTime.h"
#include "netcdf/Sector.h"
#include "settings/ProgramPaths.h"
#include "settings/RegistryFile.h"

namespace {

constexpr int kClientWidth = 744;
constexpr int kClientHeight = 346;

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The thumbnail's smallest size; it grows with the page, keeping this shape.
constexpr int kThumbWidth = 120;
constexpr int kThumbHeight = 138;

// One channel on the Images page: the thumbnail, its channel label 3 pixels under it and the
// time label under that, both centred on the thumbnail. Placed by hand so the labels keep
// exactly that place whatever width the column gets from the fonts.
class TThumbnailCell : public QWidget {
public:
    explicit TThumbnailCell(QWidget* parent) : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

    QLabel* Image = nullptr;
    QLabel* Label = nullptr;
    QLabel* Time = nullptr;
    // The least height of the thumbnail: the design's while the page holds the GOES-15
    // channels alone, less once ABI bands share the page, which must not grow the window.
    int ThumbMinimum = kThumbHeight;
    // The thumbnail changed size: its picture is to be drawn again for it.
    std::function<void()> OnImageResized;

    QSize minimumSizeHint() const override
    {
        // Room for the widest time label before there is one, so the row does not jump when
        // it comes and neighbouring labels never meet.
        int timeWidth = 0;
        for (const char* sector : {"FD", "NH", "SH"})
            timeWidth = std::max(timeWidth, Time->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00  ") + sector));
        const int width = std::max({ThumbMinimum * kThumbWidth / kThumbHeight, Label->sizeHint().width(),
                                    Time->sizeHint().width(), timeWidth});
        return {width + Gap(), ThumbMinimum + LabelsHeight()};
    }
    QSize sizeHint() const override { return minimumSizeHint(); }

    void Place()
    {
        // As large as the cell allows, in the thumbnail's shape.
        const int room = std::max(ThumbMinimum * kThumbWidth / kThumbHeight, width() - Gap());
        const int tall = std::max(ThumbMinimum, height() - LabelsHeight());
        const int w = std::min(room, tall * kThumbWidth / kThumbHeight);
        const QSize size(w, w * kThumbHeight / kThumbWidth);
        if (Image->size() != size) {
            Image->resize(size);
            if (OnImageResized) OnImageResized();
        }
        Image->move((width() - Image->width()) / 2, 0);
        for (QLabel* label : {Label, Time}) {
            label->adjustSize();
            const int top = label == Label ? Image->y() + Image->height() + 3 : Label->y() + Label->height() + 1;
            label->move(Image->x() + (Image->width() - label->width()) / 2, top);
        }
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        Place();
    }

private:
    static int Gap() { return 2; }
    int LabelsHeight() const { return 3 + Label->sizeHint().height() + 1 + Time->fontMetrics().height() + 2; }
};

// What the receive LED's colours mean, for someone who has not read the manual.
const char* const LedMeaning = "Receive lamp\n"
                               "grey: waiting for the next cycle, or stopped\n"
                               "yellow: a cycle is processing the incoming files\n"
                               "red: running, but nothing is processed (the reason is above)";

// "newest image 14 min ago": whether images still come, readable from across the room.
QString NewestImageText(TDateTime newest, TDateTime now)
{
    if (newest == 0) return QStringLiteral("no image yet");
    const auto minutes = static_cast<long long>(std::max(0.0, (now - newest) * 1440.0));
    const QString age = minutes < 1      ? QStringLiteral("under a minute")
                        : minutes < 120  ? QStringLiteral("%1 min").arg(minutes)
                        : minutes < 2880 ? QStringLiteral("%1 h").arg(minutes / 60)
                                         : QStringLiteral("%1 days").arg(minutes / 1440);
    return QStringLiteral("newest image %1 ago").arg(age);
}

// The cycle's own rhythm is kept (a Start after a cycle waits for the timer); the operator
// sees the wait instead of wondering why waiting files are not taken.
QString NextCycleText(int remainingMs, std::size_t waiting)
{
    QString text = QStringLiteral("next cycle in %1 s").arg((std::max(remainingMs, 0) + 999) / 1000);
    if (waiting > 0) text += QStringLiteral(", %1 file%2 waiting").arg(waiting).arg(waiting == 1 ? "" : "s");
    return text;
}

QIcon LampGlyph(QColor colour)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(48, 48, 48), 1));
    p.setBrush(colour);
    p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
    return QIcon(pm);
}

}  // namespace

TFormRadaDedOVI::TFormRadaDedOVI(TCommandLine commandLine, QWidget* parent)
    : QWidget(parent), commandLine_(std::move(commandLine))
{
    setObjectName("FormRadaDedOVI");
    thumbnailThread_.setMaxThreadCount(1);
    setWindowTitle(QStringLiteral("Orvanta V") + ORVANTA_FILE_VERSION + " from Quillon, Brackmoor");

    PageControlMain = new QTabWidget(this);
    PageControlMain->setObjectName("PageControlMain");
    TabSheetImages = new QWidget;
    TabSheetLog = new QWidget;
    TabSheetSetup = new QWidget;
    TabSheetDiags = new QWidget;
    TabSheetImages->setObjectName("TabSheetImages");
    TabSheetLog->setObjectName("TabSheetLog");
    TabSheetSetup->setObjectName("TabSheetSetup");
    TabSheetDiags->setObjectName("TabSheetDiags");
    PageControlMain->addTab(TabSheetImages, "Images");
    PageControlMain->addTab(TabSheetLog, "Log");
    PageControlMain->addTab(TabSheetSetup, "Setup");
    PageControlMain->addTab(TabSheetDiags, "Diags");

    MemoLogProcessing = new QPlainTextEdit(TabSheetLog);
    MemoLogProcessing->setObjectName("MemoLogProcessing");
    MemoLogProcessing->setReadOnly(true);
    MemoLogProcessing->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoLogProcessing->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoLogProcessing->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont mono = MemoLogProcessing->font();
    mono.setStyleHint(QFont::TypeWriter);
    mono.setFamily("monospace");
    MemoLogProcessing->setFont(mono);
    connect(PageControlMain, &QTabWidget::currentChanged, this, [this](int index) {
        if (PageControlMain->widget(index) == TabSheetLog) ScrollLogToEnd();  // TabSheetLogShow
    });

    MemoDiags = new QPlainTextEdit(TabSheetDiags);
    MemoDiags->setObjectName("MemoDiags");
    MemoDiags->setReadOnly(true);
    MemoDiags->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoDiags->setFont(mono);
    MemoDiags->setPlainText("Interpretation of the geo-location data.");

    BuildImagesPage();
    BuildSetupPage();

    BitBtnStartStop = new QPushButton("Start  ", this);
    BitBtnStartStop->setObjectName("BitBtnStartStop");
    BitBtnStartStop->setLayoutDirection(Qt::RightToLeft);  // the glyph at its right
    BitBtnStartStop->setMinimumWidth(92);
    connect(BitBtnStartStop, &QPushButton::clicked, this, &TFormRadaDedOVI::BitBtnStartStopClick);

    LEDrx = new TLED(this);
    LEDrx->setObjectName("LEDrx");
    LEDrx->SetColour(LedIdleColour);
    LEDrx->setToolTip(LedMeaning);

    LabelProgress = new QLabel(this);
    LabelProgress->setObjectName("LabelProgress");
    LabelProgress->setTextFormat(Qt::PlainText);
    // A long file name must not widen the window.
    LabelProgress->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    ButtonSupport = new QPushButton("Support", this);
    ButtonSupport->setObjectName("ButtonSupport");
    ButtonSupport->setToolTip("Go to support group");
    ButtonSupport->setMinimumWidth(80);
    connect(ButtonSupport, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(SupportPage)); });

    ButtonClose = new QPushButton("Close", this);
    ButtonClose->setObjectName("ButtonClose");
    ButtonClose->setMinimumWidth(80);
    connect(ButtonClose, &QPushButton::clicked, this, &QWidget::close);

    StatusBar = new TElidingStatusBar(this);
    StatusBar->setObjectName("StatusBar");
    StatusBar->setSizeGripEnabled(false);
    LabelNextCycle = new QLabel(StatusBar);
    LabelNextCycle->setObjectName("LabelNextCycle");
    LabelNextCycle->setToolTip("Files waiting in the source path are taken at the next cycle; "
                               "a new file closed there brings it forward");
    LabelNextCycle->setContentsMargins(0, 0, 6, 0);
    LabelNewestImage = new QLabel(StatusBar);
    LabelNewestImage->setObjectName("LabelNewestImage");
    LabelNewestImage->setToolTip("The image time of the newest image saved, of any band");
    LabelNewestImage->setContentsMargins(0, 0, 6, 0);
    StatusBar->addPermanentWidget(LabelNewestImage);
    StatusBar->addPermanentWidget(LabelNextCycle);
    // Also while stopped: the age goes on, and a mended setting clears its alarm at once.
    nextCycleTick_.setInterval(1000);
    connect(&nextCycleTick_, &QTimer::timeout, this, [this] {
        if (assembly_)
            Cycle().Recheck();
        ShowNextCycle();
    });

    TimerOnStartup.setSingleShot(true);
    TimerOnStartup.setInterval(250);
    connect(&TimerOnStartup, &QTimer::timeout, this, &TFormRadaDedOVI::TimerOnStartupTimer);

    BuildLayout();
    BuildKeyboard();
    FormCreate();
}

void TFormRadaDedOVI::BuildLayout()
{
    for (QPlainTextEdit* memo : {MemoLogProcessing, MemoDiags}) {
        auto* page = new QVBoxLayout(memo->parentWidget());
        page->setContentsMargins(4, 4, 4, 4);
        page->addWidget(memo);
    }
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(8, 5, 8, 3);
    bottom->setSpacing(8);
    bottom->addWidget(BitBtnStartStop);
    bottom->addWidget(LEDrx);
    bottom->addWidget(LabelProgress, 1);
    bottom->addWidget(ButtonSupport);
    bottom->addWidget(ButtonClose);
    auto* window = new QVBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->setSpacing(0);
    window->addWidget(PageControlMain, 1);
    window->addLayout(bottom);
    window->addWidget(StatusBar);
    // The design size; a larger font or a finer screen makes the layout ask for more, and
    // the layout wins.
    resize(kClientWidth, kClientHeight);
}

void TFormRadaDedOVI::BuildKeyboard()
{
    // Made after the controls it marks, so it outlives them when the window goes.
    auto* mnemonics = new TMnemonics(this);
    mnemonics->AddPage(PageControlMain, TabSheetImages, "&Images");
    mnemonics->AddPage(PageControlMain, TabSheetLog, "&Log");
    mnemonics->AddPage(PageControlMain, TabSheetSetup, "&Setup");
    mnemonics->AddPage(PageControlMain, TabSheetDiags, "&Diags");
    mnemonics->Add(BitBtnStartStop, {"S&tart  ", "S&top   "});
    mnemonics->Add(ButtonSupport, {"S&upport"});
    mnemonics->Add(ButtonClose, {"&Close"});
    mnemonics->Add(LabeledEditSourcePath->EditLabel(), "Sou&rce path");
    mnemonics->Add(LabeledEditNetCDFPath->EditLabel(), "Saved &NetCDF files path");
    mnemonics->Add(LabeledEditSavePath->EditLabel(), "Saved image &files path");
    for (QPushButton* browse : {ButtonSourceSearch, ButtonNetCDFsaveSearch, ButtonSaveSearch})
        mnemonics->Add(browse, {"&Browse ..."});
    const std::pair<const char*, const char*> boxes[] = {
        {"CheckBoxBoundaries", "Boundari&es"},        {"CheckBoxClearImages", "Cle&ar images"},
        {"CheckBoxGammaVisual", "&Gamma correct"},    {"CheckBoxIncludeNorth", "Include n&orth image"},
        {"CheckBoxIncludeSouth", "Include sout&h image"}, {"CheckBoxMaskImage", "Mas&k image"},
        {"CheckBoxShortImageNames", "Short i&mage names"}, {"CheckBoxSaveAsNetCDF", "Sa&ve as NetCDF"},
        {"CheckBoxSaveAsJPEG", "Save as &JPEG"},      {"CheckBoxSaveAsPNG", "Save as &PNG"},
    };
    for (const auto& [name, marked] : boxes)
        if (auto* box = TabSheetSetup->findChild<TvrnCheckBox*>(name)) mnemonics->Add(box, {marked});

    const auto bind = [this](QKeySequence key, auto action) {
        connect(new QShortcut(key, this), &QShortcut::activated, this, action);
    };
    bind(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { BitBtnStartStop->click(); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); });
    QWidget* const pages[] = {TabSheetImages, TabSheetLog, TabSheetSetup, TabSheetDiags};
    for (int i = 0; i < 4; ++i) {
        bind(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)), [this, page = pages[i]] {
            const int index = PageControlMain->indexOf(page);
            if (PageControlMain->isTabVisible(index)) PageControlMain->setCurrentIndex(index);
        });
    }
}

TFormRadaDedOVI::~TFormRadaDedOVI()
{
    thumbnailThread_.waitForDone();
    SetWaitPump({});
    // The cycle's "LastSaved" values and the placement are written here; the Setup page's
    // controls write theirs as Qt deletes them after this.
    assembly_.reset();
    formInfo_.reset();
}

void TFormRadaDedOVI::FormCreate()
{
    formInfo_ = std::make_unique<TRegistryFormInfo>(this);
    glyphOff_ = LampGlyph(QColor(96, 96, 96));
    glyphOn_ = LampGlyph(QColor(0, 230, 0));
    glyphHalted_ = LampGlyph(TLED::ToQColor(LedHaltedColour));
    BitBtnStartStop->setIcon(glyphOff_);

    assembly_ = std::make_unique<TStationAssembly>(options_, *this, commandLine_.FindSwitch("geo"));
    assembly_->Log().SetSink(this);
    TProcessingCycle& cycle = assembly_->Cycle();
    assembly_->GeoRoute().OnReport = [this](const TLines& lines) {
        // The answer on top, the whole report under it.
        QStringList text;
        const TLines summary = DiagsSummary(lines);
        for (const std::string& line : summary)
            text << QString::fromStdString(line);
        if (!summary.empty())
            text << QString() << QString(72, '-') << QString();
        for (const std::string& line : lines)
            text << QString::fromStdString(line);
        MemoDiags->setPlainText(text.join('\n'));
    };
    connect(&cycle, &TProcessingCycle::CycleFinished, this, [this] {
        if (closePending_)
            FinishClosing();
    });
    cycle.ProgressAbove = 0;
    cycle.OnProgress = [this](std::size_t done, std::size_t found, const std::string& file) {
        LabelProgress->setText(file.empty() ? QString() : QString::fromStdString(ProgressText(done, found, file)));
        LabelProgress->repaint();
    };
    PageControlMain->setTabVisible(PageControlMain->indexOf(TabSheetDiags), cycle.GeoMode);

    assembly_->MakeStation(std::make_unique<TDBusAnimationNotifier>(), TComposites::AllNow);
    TStation& station = assembly_->Station();
    TGoesProduct& product = station.Product;
    product.OnStatusText = [this](const std::string& text) { SetStatusText(text); };
    product.OnCaption = [this](const std::string& text) { setWindowTitle(QString::fromStdString(text)); };
    product.OnThumbnailHint = [this](std::uint8_t channel, const std::string& hint) {
        // An ABI band's thumbnail comes with its first image.
        if (IsAbiChannel(channel) && !Thumbnail(channel))
            AddThumbnail(channel);
        if (QLabel* image = Thumbnail(channel))
            image->setToolTip(QString::fromStdString(hint));
    };
    // While a file is decoded or its images encoded on another thread, the window answers
    // its user: pages switch, thumbnails open. Stop and Close are safe there (the cycle and
    // the close wait for the file in hand).
    SetWaitPump([] { QCoreApplication::processEvents(); });
    for (std::size_t i = 0; i < AllChannelCount; ++i)
        if (Images[i])
            WatchComposite(i);
    station.RestoreComposites(
        cycle.LastSavedSettings,
        [this](std::uint8_t channel, const std::string& hint) {
            // An ABI band restored on its first use has no thumbnail and no LastSaved value.
            QLabel* image = Thumbnail(channel);
            if (!image)
                return;
            image->setToolTip(QString::fromStdString(hint));
            // The saved image carries its image time as its file time; which sector came last
            // is not kept, so the label gives the time alone.
            if (const auto taken = GetFileDateTime(Cycle().LastSavedSettings[channel]->Value))
                ShowImageTime(channel, ImageTimeText(ImageSlot(*taken), SectorUnknown));
        },
        [this](const std::string& line) { linesAfterStart_.push_back(line); });
    for (std::size_t i = 0; i < ChannelCount; ++i)
        if (ChannelExists(i)) RefreshThumbnail(i, true);
    assembly_->RunOn([this](const std::string& line) { linesAfterStart_.push_back(line); });
}

void TFormRadaDedOVI::RefreshThumbnail(std::size_t channel, bool now)
{
    thumbnailDirty_[channel] = false;
    if (!Images[channel] || !assembly_)
        return;
    if (thumbnailScaling_[channel]) {
        thumbnailAgain_[channel] = true;
        return;
    }
    const QImage view = BitmapView(Station().Composites.Images[channel]);
    if (view.isNull()) return;
    // Drawn in the screen's own pixels, so a scaled screen shows it as sharp as any other.
    const qreal ratio = Images[channel]->devicePixelRatioF();
    const QSize size = Images[channel]->contentsRect().size() * ratio;
    const auto show = [this, channel, ratio](const QImage& scaled) {
        QPixmap pixmap = QPixmap::fromImage(scaled);
        pixmap.setDevicePixelRatio(ratio);
        Images[channel]->setPixmap(pixmap);
    };
    if (now) {
        show(view.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        return;
    }
    // The composite goes on changing here while its copy is scaled.
    thumbnailScaling_[channel] = true;
    thumbnailThread_.start([this, channel, show, size, picture = view.copy()] {
        YieldProcessorToUser();
        QImage scaled = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        // Delivered through the window's own queue; the window waits for this thread before it
        // goes, and a call still queued then goes with it.
        QMetaObject::invokeMethod(
            this,
            [this, channel, show, scaled = std::move(scaled)] {
                thumbnailScaling_[channel] = false;
                show(scaled);
                if (std::exchange(thumbnailAgain_[channel], false)) RefreshThumbnail(channel);
            },
            Qt::QueuedConnection);
    });
}

void TFormRadaDedOVI::BuildImagesPage()
{
    ImagePopupMenu = new QMenu(this);
    ImagePopupMenu->setObjectName("ImagePopupMenu");
    // A window being resized draws the thumbnails again once, when it rests.
    thumbnailResize_.setSingleShot(true);
    thumbnailResize_.setInterval(120);
    connect(&thumbnailResize_, &QTimer::timeout, this, [this] {
        for (std::size_t i = 0; i < AllChannelCount; ++i)
            if (Images[i])
                RefreshThumbnail(i);
    });
    thumbnailGrid_ = new QGridLayout(TabSheetImages);
    // The columns share the page: at the design size that is the old 144-pixel pitch.
    thumbnailGrid_->setContentsMargins(10, 16, 10, 4);
    thumbnailGrid_->setSpacing(6);
    TabSheetImages->installEventFilter(this);
    for (std::size_t i = 0; i < ChannelCount; ++i)
        if (ChannelExists(i))
            AddThumbnail(i);
}

void TFormRadaDedOVI::AddThumbnail(std::size_t i)
{
    const TChannelInfo& ch = ChannelInfo(i);
    // GOES-15's keep their names; an ABI band's carries its satellite too.
    const QString name = IsAbiChannel(i) ? Q(ChannelNameTag(i)) : Q(ch.ChannelDigit);
    auto* cell = new TThumbnailCell(TabSheetImages);
    auto* image = new QLabel(cell);
    image->setObjectName(QStringLiteral("Image") + name);
    image->resize(kThumbWidth, kThumbHeight);
    image->setScaledContents(true);
    image->setFrameShape(QFrame::Box);
    const int grey = CompositeBackground(NearestGoes15Channel(i));
    // Reached with Tab and the arrow keys too; Enter opens the viewer.
    image->setFocusPolicy(Qt::StrongFocus);
    image->setStyleSheet(QStringLiteral("QLabel { background: rgb(%1,%1,%1) } "
                                        "QLabel:focus { border: 3px solid palette(highlight) }")
                             .arg(grey));
    image->setCursor(Qt::PointingHandCursor);
    image->setProperty("Tag", static_cast<int>(i));
    image->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(image, &QWidget::customContextMenuRequested, this, [this, image](const QPoint& pos) {
        ImagePopupMenuPopup();
        // A menu without items shows nothing; popping it would leave an empty frame.
        if (!ImagePopupMenu->isEmpty())
            ImagePopupMenu->popup(image->mapToGlobal(pos));
    });
    image->installEventFilter(this);
    Images[i] = image;

    auto* label = new QLabel(cell);
    label->setObjectName(QStringLiteral("Label") + name);
    // An ABI band's label is as short as a GOES-15 channel's: its wavelength and satellite.
    const std::string text = IsAbiChannel(i)
                                 ? std::string(ch.Wavelength) + " \xC2\xB5m  G" + std::to_string(AbiSatelliteOf(i))
                                 : std::string(ch.ChannelDescription);
    label->setText(Q(std::string(ch.ChannelDigit)) + QStringLiteral(":  ") + Q(text));
    label->setToolTip(Q(ch.ChannelHint));
    Labels[i] = label;

    auto* time = new QLabel(cell);
    time->setObjectName(QStringLiteral("LabelTime") + name);
    time->setTextFormat(Qt::PlainText);
    LabelTimes[i] = time;

    cell->Image = image;
    cell->Label = label;
    cell->Time = time;
    cell->OnImageResized = [this] { thumbnailResize_.start(); };
    cell->Place();
    thumbnailCells_.push_back(cell);
    // Two rows of five on the page as it was made for five.
    if (thumbnailCells_.size() > ChannelCount - 1)
        for (QWidget* c : thumbnailCells_)
            static_cast<TThumbnailCell*>(c)->ThumbMinimum = kThumbHeight / 2;
    // All columns as wide as the widest needs, so the thumbnails share one size.
    int widest = 0;
    for (QWidget* c : thumbnailCells_)
        c->setMinimumWidth(0);
    for (const QWidget* c : thumbnailCells_)
        widest = std::max(widest, c->minimumSizeHint().width());
    for (QWidget* c : thumbnailCells_)
        c->setMinimumWidth(widest);
    thumbnailColumns_ = 0;
    FlowThumbnails();
    if (!assembly_)
        return;
    WatchComposite(i);
    RefreshThumbnail(i, !isVisible());
}

void TFormRadaDedOVI::WatchComposite(std::size_t i)
{
    // Many changes land on a composite while one file is placed; the thumbnail is repainted
    // once, when the event loop next runs.
    Station().Composites.Images[i].OnChange = [this, i] {
        if (thumbnailDirty_[i])
            return;
        thumbnailDirty_[i] = true;
        QTimer::singleShot(0, this, [this, i] { RefreshThumbnail(i); });
    };
}

// The first table the colour setting names, for any band, that cannot be read or parsed.
static std::string ColourSettingProblem(const std::string& setting)
{
    for (std::size_t i = 1; i < ChannelCount; ++i) {
        if (!ChannelExists(i)) continue;
        const std::string name = ColourTableForBand(setting, ChannelCatalogue[i].ChannelDigit);
        if (name.empty()) continue;
        TColourTable table;
        if (std::string problem = LoadColourTable(ColourTablePath(name), table); !problem.empty())
            return "Colour table " + name + ": " + problem;
    }
    return {};
}

static int ThumbnailColumns(QSize page, int count, int spacing, int labelsHeight, int cellMinimum)
{
    // As many columns as give the largest thumbnails: one row on a wide page, a grid on a
    // tall or large one, where one row would leave most of the page empty. Never more than
    // the page holds at the cells' least width: the window would grow instead (an ABI band's
    // thumbnail joining the row).
    int best = count, bestWidth = 0;
    for (int columns = count; columns >= 1; --columns) {
        const int rows = (count + columns - 1) / columns;
        const int cellWidth = (page.width() - spacing * (columns - 1)) / columns;
        if (columns > 1 && cellWidth < cellMinimum) {
            best = columns - 1;
            continue;
        }
        const int cellHeight = (page.height() - spacing * (rows - 1)) / rows - labelsHeight;
        const int width = std::min(cellWidth, cellHeight * kThumbWidth / kThumbHeight);
        // Of the same size, fewer columns: rows of three and two, not four and one.
        if (width >= bestWidth && width > 0) {
            bestWidth = width;
            best = columns;
        }
    }
    return best;
}

void TFormRadaDedOVI::FlowThumbnails()
{
    if (thumbnailCells_.empty()) return;
    const QMargins m = thumbnailGrid_->contentsMargins();
    const QSize page = TabSheetImages->size().shrunkBy(m);
    auto* cell = static_cast<TThumbnailCell*>(thumbnailCells_.front());
    const int labels = cell->minimumSizeHint().height() - kThumbHeight;
    const int count = static_cast<int>(thumbnailCells_.size());
    const int columns = TabSheetImages->isVisible() || count > static_cast<int>(ChannelCount) - 1
                            ? ThumbnailColumns(page, count, thumbnailGrid_->spacing(), labels, cell->minimumWidth())
                            : count;
    if (columns == thumbnailColumns_) return;
    thumbnailColumns_ = columns;
    for (QWidget* c : thumbnailCells_) thumbnailGrid_->removeWidget(c);
    for (int i = 0; i < thumbnailGrid_->columnCount(); ++i) thumbnailGrid_->setColumnStretch(i, 0);
    for (int i = 0; i < thumbnailGrid_->rowCount(); ++i) thumbnailGrid_->setRowStretch(i, 0);
    for (int i = 0; i < count; ++i) {
        thumbnailGrid_->addWidget(thumbnailCells_[static_cast<std::size_t>(i)], i / columns, i % columns);
        thumbnailGrid_->setColumnStretch(i % columns, 1);
        thumbnailGrid_->setRowStretch(i / columns, 1);
    }
}

TvrnLabeledEdit* TFormRadaDedOVI::AddEdit(const TSettingInfo& s, QWidget* parent)
{
    auto* edit = new TvrnLabeledEdit(parent ? parent : TabSheetSetup);
    edit->setObjectName(Q(s.ControlName));
    edit->SetNamedAs(Q(s.ValueName));
    edit->setText(Q(s.DefaultText));
    if (!s.Example.empty()) edit->setPlaceholderText("e.g.  " + Q(s.Example));
    edit->EditLabel()->setText(Q(s.Caption));
    edit->EditLabel()->setToolTip(Q(s.Hint));
    edit->Loaded();
    options_.Add(edit);
    // A settings problem said in the status bar goes as soon as it is mended, not at the next
    // cycle.
    connect(edit, &QLineEdit::textChanged, this, [this] {
        if (assembly_)
            Cycle().Recheck();
        const QString shown = StatusBar->currentMessage();
        if (!shown.endsWith(QString::fromUtf8(SettingsProblemSuffix)))
            return;
        const std::string problem = options_.SettingsProblem();
        StatusBar->showMessage(problem.empty() ? QString() : QString::fromStdString(LogSafe(problem + SettingsProblemSuffix)));
    });
    return edit;
}

TvrnLabeledEdit* TFormRadaDedOVI::AddShortEdit(QBoxLayout* row, const TSettingInfo& s, QWidget* parent)
{
    TvrnLabeledEdit* edit = AddEdit(s, parent);
    edit->setToolTip(Q(s.Hint));
    edit->setFixedWidth(48);
    edit->SetLabelLeft(true);
    // The label places itself; the layout only leaves the room for it.
    row->addSpacing(edit->EditLabel()->sizeHint().width() + TvrnLabeledEdit::LabelSpacing);
    row->addWidget(edit);
    return edit;
}

TvrnLabeledEdit* TFormRadaDedOVI::AddPathEdit(QBoxLayout* page, const TSettingInfo& s, QPushButton*& browse)
{
    TvrnLabeledEdit* edit = AddEdit(s);

    browse = new QPushButton("Browse ...", TabSheetSetup);
    browse->setMinimumWidth(100);
    connect(browse, &QPushButton::clicked, this, &TFormRadaDedOVI::ButtonBrowsePathClick);
    // The edit keeps its label above itself; the layout only leaves the room for it.
    page->addSpacing(edit->EditLabel()->sizeHint().height() + 3);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(edit, 1);
    row->addWidget(browse);
    page->addLayout(row);
    return edit;
}

void TFormRadaDedOVI::BuildSetupPage()
{
    auto* page = new QVBoxLayout(TabSheetSetup);
    // Tight, so that the colour row fits in the window's fixed height.
    page->setContentsMargins(16, 0, 16, 0);
    page->setSpacing(0);
    LabeledEditSourcePath = AddPathEdit(page, *FindSetting("SourcePath"), ButtonSourceSearch);
    LabeledEditNetCDFPath = AddPathEdit(page, *FindSetting("NetCDFPath"), ButtonNetCDFsaveSearch);
    LabeledEditSavePath = AddPathEdit(page, *FindSetting("SavePath"), ButtonSaveSearch);
    page->addSpacing(1);
    ButtonSourceSearch->setObjectName("ButtonSourceSearch");
    ButtonNetCDFsaveSearch->setObjectName("ButtonNetCDFsaveSearch");
    ButtonSaveSearch->setObjectName("ButtonSaveSearch");

    auto* program = new QGroupBox(" Program options ", TabSheetSetup);
    auto* save = new QGroupBox(" Save options ", TabSheetSetup);
    auto* programGrid = new QGridLayout(program);
    // Four rows each, further options in further columns, so the page keeps its height.
    auto* saveGrid = new QGridLayout(save);
    for (QLayout* l : std::initializer_list<QLayout*>{programGrid, saveGrid}) {
        l->setContentsMargins(10, 0, 10, 0);
        l->setSpacing(0);
    }
    programGrid->setHorizontalSpacing(12);
    saveGrid->setHorizontalSpacing(12);
    auto* groups = new QHBoxLayout;
    groups->setSpacing(12);
    groups->addWidget(program, 4);
    groups->addWidget(save, 3);
    page->addLayout(groups);

    // The retention days and the free-space limit: short numbers in one row, each label on
    // its left, so the page keeps its height.
    auto* numbers = new QHBoxLayout;
    int editHeight = 0;
    numbers->setSpacing(0);
    for (const TSettingInfo& s : ProgramSettings) {
        if (s.Kind != TSettingKind::Number) continue;
        editHeight = AddShortEdit(numbers, s, TabSheetSetup)->sizeHint().height();
        numbers->addSpacing(16);
    }
    // The colour table in a row of its own, wide enough for names by band: the tables found
    // to choose from, or any name or path typed.
    auto* colour = new QHBoxLayout;
    colour->setSpacing(0);
    for (const TSettingInfo& s : ProgramSettings) {
        if (s.Kind != TSettingKind::Text || !s.ControlName.starts_with("ComboBox")) continue;
        auto* combo = new TvrnComboBox(TabSheetSetup);
        combo->setObjectName(Q(s.ControlName));
        combo->SetNamedAs(Q(s.ValueName));
        // "(none)" chooses no table; the setting is then empty, as it always was for none.
        combo->addItem(QStringLiteral("(none)"));
        for (const std::string& name : ColourTableNames()) combo->addItem(Q(name));
        combo->setEditText(Q(s.DefaultText));
        combo->lineEdit()->setPlaceholderText(QStringLiteral("(none)"));
        connect(combo, &QComboBox::activated, combo, [combo](int index) {
            if (index == 0) combo->setEditText(QString());
        });
        const QString hint = Q(s.Hint);
        combo->setToolTip(hint);
        // Room for the by-band form, "4=enhanced-ir,3=water-vapour", which the row has.
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->setMinimumContentsLength(4);
        combo->setMinimumWidth(combo->fontMetrics().horizontalAdvance(QStringLiteral("4=enhanced-ir,3=water-vapour")) + 40);
        // A table that does not parse is said at the field, not only in the log a cycle later.
        connect(combo, &QComboBox::currentTextChanged, this, [this, combo, hint](const QString& text) {
            const std::string problem = ColourSettingProblem(text.toStdString());
            combo->setStyleSheet(problem.empty() ? QString() : QStringLiteral("QComboBox { border: 2px solid #d00000 }"));
            combo->setToolTip(problem.empty() ? hint : Q(problem) + "\n\n" + hint);
            if (!problem.empty() && shown_) StatusBar->showMessage(Q(LogSafe(problem)));
        });
        if (editHeight > 0) combo->setMaximumHeight(editHeight);
        auto* label = new QLabel(Q(s.Caption), TabSheetSetup);
        label->setBuddy(combo);
        colour->addWidget(label);
        colour->addSpacing(TvrnLabeledEdit::LabelSpacing);
        colour->addWidget(combo);
        combo->Loaded();
        options_.Add(combo);
    }
    numbers->addStretch(1);
    page->addLayout(numbers);
    colour->addStretch(1);
    page->addLayout(colour);
    page->addStretch(1);

    int programSlot = 0, saveSlot = 0, switchHeight = 0;
    for (const TSettingInfo& s : ProgramSettings) {
        if (s.Kind != TSettingKind::Option) continue;
        const bool isSave =
            s.ValueName.rfind("SaveAs", 0) == 0 || s.ValueName == "ShortImageNames" || s.ValueName == "ImageStamp";
        QGroupBox* group = isSave ? save : program;
        int& slot = isSave ? saveSlot : programSlot;
        auto* box = new TvrnCheckBox(group);
        box->setObjectName(Q(s.ControlName));
        box->SetNamedAs(Q(s.ValueName));
        box->setText(Q(s.Caption));
        if (!s.Hint.empty()) box->setToolTip(Q(s.Hint));
        box->setChecked(s.DefaultTicked);
        box->setVisible(s.Visible);
        switchHeight = box->sizeHint().height();
        if (s.Visible) {
            (isSave ? saveGrid : programGrid)->addWidget(box, slot % 4, slot / 4);
            ++slot;
        }
        box->Loaded();
        options_.Add(box);
    }
    // The satellite's longitude and the ABI bands in the free places under the save switches,
    // from the bottom up, as high as they are: neither the row of numbers nor the program's
    // switches have room for them.
    int row = 3;
    for (const TSettingInfo& s : ProgramSettings) {
        if (s.Kind != TSettingKind::Text || !s.ControlName.starts_with("LabeledEdit")) continue;
        auto* cell = new QHBoxLayout;
        cell->setSpacing(0);
        TvrnLabeledEdit* edit = AddShortEdit(cell, s, save);
        edit->setMaximumHeight(switchHeight);
        // Wide enough for its default: a list of bands is longer than a number.
        edit->setFixedWidth(std::max(edit->width(), edit->fontMetrics().horizontalAdvance(Q(s.DefaultText)) + 14));
        cell->addStretch(1);
        saveGrid->addLayout(cell, row--, saveSlot / 4);
    }
}

bool TFormRadaDedOVI::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == TabSheetImages && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        FlowThumbnails();
    if (event->type() == QEvent::KeyPress && ThumbnailKey(watched, static_cast<QKeyEvent*>(event)->key()))
        return true;
    if (event->type() == QEvent::Enter) {
        ImageMouseEnter(watched);
    } else if (event->type() == QEvent::MouseButtonRelease) {
        const auto* me = static_cast<QMouseEvent*>(event);
        auto* w = qobject_cast<QWidget*>(watched);
        if (me->button() == Qt::LeftButton && w && w->rect().contains(me->position().toPoint()))
            ImageThumbClick(watched);
    }
    return QWidget::eventFilter(watched, event);
}

static int ThumbnailChannel(const std::array<QLabel*, AllChannelCount>& images, QObject* sender)
{
    for (std::size_t i = 0; i < AllChannelCount; ++i)
        if (images[i] && images[i] == sender) return static_cast<int>(i);
    return -1;
}

bool TFormRadaDedOVI::ThumbnailKey(QObject* sender, int key)
{
    const int channel = ThumbnailChannel(Images, sender);
    if (channel < 0) return false;
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        ThumbnailUnderMouse = static_cast<std::uint8_t>(channel);
        ImageThumbClick(sender);
        return true;
    }
    const int step = key == Qt::Key_Left || key == Qt::Key_Up ? -1 : key == Qt::Key_Right || key == Qt::Key_Down ? 1 : 0;
    if (step == 0) return false;
    for (int i = channel + step; i >= 0 && i < static_cast<int>(AllChannelCount); i += step) {
        if (Images[static_cast<std::size_t>(i)]) {
            Images[static_cast<std::size_t>(i)]->setFocus(Qt::OtherFocusReason);
            break;
        }
    }
    return true;
}

void TFormRadaDedOVI::ImageMouseEnter(QObject* sender)
{
    if (ThumbnailChannel(Images, sender) < 0) return;
    ThumbnailUnderMouse = static_cast<std::uint8_t>(sender->property("Tag").toInt());
}

bool TFormRadaDedOVI::ImageThumbClick(QObject* sender)
{
    const int channel = ThumbnailChannel(Images, sender);
    if (channel < 0 || !viewer_ || !assembly_)
        return false;
    const TExtBitmap& composite = Station().Composites.Images[static_cast<std::size_t>(channel)];
    if (composite.Height() <= 1000) return false;
    // A thumbnail without an image: the viewer says so instead of showing a grey field
    // under the program's name.
    const QString hint = Images[static_cast<std::size_t>(channel)]->toolTip();
    const auto index = static_cast<std::size_t>(channel);
    const TChannelInfo& info = ChannelInfo(index);
    // An ABI band reads out as the GOES-15 channel nearest to it (the same greys), placed by
    // its own satellite.
    const std::uint8_t nearest = NearestGoes15Channel(index);
    viewedChannel_ = index;
    viewer_->Notice = hint.isEmpty() ? QStringLiteral("No image has come yet for channel %1, %2")
                                           .arg(Q(info.ChannelDigit))
                                           .arg(Q(info.ChannelDescription))
                                     : QString();
    viewer_->setWindowTitle(hint.isEmpty() ? viewer_->Notice : hint);
    viewer_->Background = CompositeBackground(nearest);
    viewer_->SourceImage = &composite;
    viewer_->ChannelIndex = nearest;
    viewer_->ColourTable.clear();
    viewer_->ColourTableName.clear();
    const std::string tableName =
        nearest == 0 ? std::string()
                     : ColourTableForBand(options_.PathText("ColourTable"), ChannelCatalogue[nearest].ChannelDigit);
    TColourTable table;
    if (!tableName.empty() && LoadColourTable(ColourTablePath(tableName), table).empty())
        for (const TColor c : table.GreyPalette()) viewer_->ColourTable.append(qRgb(c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF));
    if (!viewer_->ColourTable.isEmpty()) viewer_->ColourTableName = Q(tableName);
    // A minimised viewer would take the picture and its title and stay out of sight.
    if (viewer_->isMinimized())
        viewer_->showNormal();
    else
        viewer_->show();
    viewer_->raise();
    viewer_->activateWindow();
    return true;
}

void TFormRadaDedOVI::AttachViewer(TFormSingleImage* viewer)
{
    viewer_ = viewer;
    if (!viewer_) return;
    viewer_->PixelToGeo = [this](int x, int y, float& lon, float& lat) {
        return Station().PixelToGeo(viewedChannel_, x, y, lon, lat);
    };
}

void TFormRadaDedOVI::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TFormRadaDedOVI::FormShow()
{
    formInfo_->Restore();
    formInfo_->RestoreClientSize();
    TimerOnStartup.start();
    nextCycleTick_.start();
    ShowNextCycle();
    for (TvrnLabeledEdit* e : {LabeledEditSourcePath, LabeledEditNetCDFPath, LabeledEditSavePath})
        e->setText(QString::fromStdString(WithTrailingDelimiter(e->text().toStdString())));
    // Asked before "Starting" reaches the file: a first run has no log until then.
    std::error_code ec;
    logFoundAtStart_ = std::filesystem::exists(Log().Path(), ec);
    Log().LoadFromFile();
    // What went wrong while the window was made waits for the log to be loaded.
    assembly_->LogStart();
    for (const std::string& line : linesAfterStart_)
        Log().AddLogLine(line, 0);
    linesAfterStart_.clear();
}

void TFormRadaDedOVI::TimerOnStartupTimer()
{
    TimerOnStartup.stop();
    Cycle().SingleFileMode = false;
    std::error_code ec;
    const bool ready = logFoundAtStart_ && options_.SettingsProblem().empty();
    if (ready) {
        if (commandLine_.FindSwitch("start")) BitBtnStartStopClick();
        if (commandLine_.FindSwitch("log")) PageControlMain->setCurrentWidget(TabSheetLog);
        const std::string first = commandLine_.FirstArgument();
        if (!first.empty() && std::filesystem::is_regular_file(first, ec)) {
            Cycle().SingleFileMode = true;
            Cycle().SingleFileName = first;
            BitBtnStartStopClick();
        }
    } else {
        PageControlMain->setCurrentWidget(TabSheetSetup);
    }
    ScrollLogToEnd();
}

void TFormRadaDedOVI::BitBtnStartStopClick() { Cycle().BitBtnStartStopClick(); }

void TFormRadaDedOVI::ButtonBrowsePathClick()
{
    TvrnLabeledEdit* edit = sender() == ButtonSourceSearch       ? LabeledEditSourcePath
                            : sender() == ButtonNetCDFsaveSearch ? LabeledEditNetCDFPath
                            : sender() == ButtonSaveSearch       ? LabeledEditSavePath
                                                                 : nullptr;
    if (!edit) return;
    const QString chosen = QFileDialog::getExistingDirectory(this, edit->EditLabel()->text(), edit->text());
    if (chosen.isEmpty()) return;
    edit->setText(QString::fromStdString(WithTrailingDelimiter(chosen.toStdString())));
    edit->SaveNow();
}

void TFormRadaDedOVI::closeEvent(QCloseEvent* event)
{
    if (closed_) {
        event->accept();
        return;
    }
    // While processing is on, closing asks first; the timer is held while asking, and a
    // refusal keeps the window open with the timer as it was.
    const bool timerWasOn = Cycle().TimerProcess.isActive();
    Cycle().TimerProcess.stop();
    bool canClose = true;
    if (Cycle().Running) {
        canClose = ConfirmExit ? ConfirmExit()
                               : QMessageBox::question(this, "Orvanta - Confirm program exit",
                                                       "You are still running, are you sure you wish to exit?",
                                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                                     == QMessageBox::Yes;
    }
    if (!canClose) {
        if (timerWasOn)
            Cycle().TimerProcess.start();
        event->ignore();
        return;
    }
    Cycle().StopProcessing();
    if (Cycle().InCycle()) {
        // Asked from inside a file's work: the file is finished, then the window closes, so
        // its "Processed" line is in the saved log.
        closePending_ = true;
        afterClose_ = [this] { close(); };
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TFormRadaDedOVI::FormClose()
{
    if (closed_) return;
    closed_ = true;
    // The viewer would keep the program alive with its main window gone.
    if (viewer_) viewer_->hide();
    assembly_->Close();
}

void TFormRadaDedOVI::ShutdownRequested(const std::string& why, std::function<void()> then)
{
    Cycle().StopProcessing();
    TimerOnStartup.stop();
    BitBtnStartStop->setText("Closing  ");
    BitBtnStartStop->setIcon(glyphOff_);
    if (closePending_) {
        // Asked again while the file in hand is finished: one close, ending if either asks.
        if (then) afterClose_ = std::move(then);
        return;
    }
    Log().AddLogLine(why, UtcNow());
    closePending_ = true;
    afterClose_ = std::move(then);
    // Logging "Closing" in the middle of a file would leave that file's line out of the log.
    if (!Cycle().InCycle())
        FinishClosing();
}

void TFormRadaDedOVI::FinishClosing()
{
    closePending_ = false;
    const bool ending = static_cast<bool>(afterClose_);
    FormClose();
    // A session that goes on after all keeps a window that logs and saves when it closes.
    if (!ending) closed_ = false;
    if (auto then = std::exchange(afterClose_, {})) then();
}

void TFormRadaDedOVI::SetLamp(TLamp lamp)
{
    LEDrx->SetColour(lamp == TLamp::Busy ? LedBusyColour : lamp == TLamp::Halted ? LedHaltedColour : LedIdleColour);
    LEDrx->repaint();
    ShowHalt();
    // Busy when a cycle starts, idle when it ends and re-arms its timer.
    ShowNextCycle();
}

void TFormRadaDedOVI::ShowHalt()
{
    const std::string reason = assembly_ ? Cycle().HaltReason() : std::string();
    LEDrx->setToolTip(reason.empty() ? QString::fromUtf8(LedMeaning)
                                     : QStringLiteral("Nothing is processed: ") + QString::fromStdString(LogSafe(reason))
                                           + "\n\n" + LedMeaning);
    if (assembly_ && Cycle().Running)
        BitBtnStartStop->setIcon(reason.empty() ? glyphOn_ : glyphHalted_);
}

void TFormRadaDedOVI::ShowRunning(bool running)
{
    BitBtnStartStop->setText(running ? "Stop   " : "Start  ");
    BitBtnStartStop->setIcon(running ? glyphOn_ : glyphOff_);
    BitBtnStartStop->setToolTip(running ? "Stop processing; a file in hand is finished first (Ctrl+S)"
                                        : "Start processing the files of the source path (Ctrl+S)");
    // Stopped is no fault: a lamp red for a reason that no longer stops anything goes grey.
    if (!running && !Cycle().InCycle())
        LEDrx->SetColour(LedIdleColour);
    ShowHalt();
    // The cycle arms its timer after saying it runs.
    QTimer::singleShot(0, this, &TFormRadaDedOVI::ShowNextCycle);
}

void TFormRadaDedOVI::ShowNextCycle()
{
    const bool waiting = assembly_ && Cycle().Running && !Cycle().InCycle() && Cycle().TimerProcess.isActive();
    std::size_t files = 0;
    if (waiting) {
        // Counted afresh: files come while processing is stopped, after the last listing.
        std::vector<std::string> listed;
        ListFiles(options_.SourcePath() + TProcessingCycle::IncomingPattern, listed);
        files = static_cast<std::size_t>(std::count_if(listed.begin(), listed.end(), IsRegularEntry));
    }
    LabelNextCycle->setText(waiting ? NextCycleText(Cycle().TimerProcess.remainingTime(), files) : QString());
    if (const TStationStatus* status = assembly_ ? assembly_->Status() : nullptr)
        LabelNewestImage->setText(NewestImageText(status->NewestImageTime(), UtcNow()));
}

void TFormRadaDedOVI::ShowImageTime(std::uint8_t channelIndex, const std::string& text)
{
    if (!Thumbnail(channelIndex) || !LabelTimes[channelIndex])
        return;
    LabelTimes[channelIndex]->setText(QString::fromStdString(text));
    auto* cell = static_cast<TThumbnailCell*>(LabelTimes[channelIndex]->parentWidget());
    cell->Place();
    cell->updateGeometry();
    // The image is complete now: an open viewer on this channel shows it, with its numbers.
    if (viewer_ && assembly_ && viewer_->isVisible() &&
        viewer_->SourceImage == &Station().Composites.Images[channelIndex]) {
        viewer_->Notice.clear();
        viewer_->RenewPicture(Images[channelIndex] ? Images[channelIndex]->toolTip() : QString());
    }
}

void TFormRadaDedOVI::SetStatusText(const std::string& text)
{
    StatusBar->showMessage(QString::fromStdString(text));
}

void TFormRadaDedOVI::RepaintStatus()
{
    StatusBar->repaint();
}

void TFormRadaDedOVI::LogLineAdded(const std::string& line)
{
    MemoLogProcessing->appendPlainText(QString::fromStdString(line));
    ScrollLogToEnd();
}

void TFormRadaDedOVI::LogLinesRemoved(std::size_t count)
{
    QTextCursor c(MemoLogProcessing->document());
    c.movePosition(QTextCursor::Start);
    c.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, static_cast<int>(count));
    c.removeSelectedText();
}

void TFormRadaDedOVI::LogReset()
{
    QString text;
    for (const auto& l : Log().Lines()) {
        if (!text.isEmpty()) text += '\n';
        text += QString::fromStdString(l);
    }
    MemoLogProcessing->setPlainText(text);
}

void TFormRadaDedOVI::ScrollLogToEnd()
{
    QTextCursor c = MemoLogProcessing->textCursor();
    c.movePosition(QTextCursor::End);
    c.movePosition(QTextCursor::StartOfBlock);
    MemoLogProcessing->setTextCursor(c);
    MemoLogProcessing->ensureCursorVisible();
}
