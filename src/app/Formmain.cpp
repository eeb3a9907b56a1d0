// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Formmain.h"

#include "about/Encodestring.h"
#include "app/ToolIcons.h"
#include "audio/Decoder.h"
#include "i18n/Formlanguage.h"
#include "i18n/IniFile.h"
#include "join/JoinJob.h"
#include "platform/Accessibility.h"
#include "platform/ExeFolder.h"
#include "platform/FilePath.h"
#include "platform/LangId.h"
#include "platform/MessageBox.h"
#include "platform/ReadableLook.h"
#include "platform/ReducedMotion.h"
#include "platform/TempFolder.h"
#include "platform/TextScale.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QScreen>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

TMainForm* MainForm = nullptr;

namespace {

struct ToolButtonPlace {
    QToolButton* TMainForm::*button;
    const char* name;
    int left;
    const char* caption;
    ToolIcon icon;
};

constexpr ToolButtonPlace kToolButtons[] = {
    {&TMainForm::ButtonAdd, "ButtonAdd", 0, "&Add", ToolIcon::Add},
    {&TMainForm::ButtonRemove, "ButtonRemove", 56, "&Remove", ToolIcon::Remove},
    {&TMainForm::ButtonClear, "ButtonClear", 112, "&Clear", ToolIcon::Clear},
    {&TMainForm::ButtonJoin, "ButtonJoin", 183, "&Join", ToolIcon::Join},
    {&TMainForm::ButtonLanguage, "ButtonLanguage", 254, "&Language", ToolIcon::Language},
    {&TMainForm::ButtonAbout, "ButtonAbout", 325, "A&bout", ToolIcon::About},
    {&TMainForm::ButtonUpdate, "ButtonUpdate", 382, "&Update", ToolIcon::Update},
};

struct BevelPlace {
    QFrame* TMainForm::*bevel;
    const char* name;
    int left;
};

constexpr BevelPlace kBevels[] = {
    {&TMainForm::Bevel1, "Bevel1", 175},
    {&TMainForm::Bevel2, "Bevel2", 246},
    {&TMainForm::Bevel3, "Bevel3", 317},
};

struct ColumnPlace {
    const char* header;
    int width;
};

constexpr ColumnPlace kColumns[] = {
    {"Audio Files", 150}, {"Sample Rate", 80}, {"Channels", 60}, {"Bits", 50},
    {"Size", 80},         {"Time", 60},        {"Path", 160},
};

constexpr int kToolButtonWidth = 57;
constexpr int kStatusBarHeight = 19;
constexpr int kOrderPanelWidth = 45;
constexpr int kOrderButtonSize = 24;

// The tool buttons are flat: they draw no frame around their caption, so the caption may use the
// whole width of the button instead of being shortened at a frame that is not there.
class FlatToolButtonStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        return metric == PM_DefaultFrameWidth ? 0 : QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QFrame* MakePanel(QWidget* parent, const char* name) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    return panel;
}

// The list keeps each row's name as the system gave it, bytes that are not UTF-8 included, since the
// row's path is made of it; such bytes are shown escaped.
class ShownNameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale& locale) const override {
        return platform::ShownName(QStyledItemDelegate::displayText(value, locale));
    }
};

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Verdane Wavestitch"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    // A window of its own, though a plain widget: Qt would report it as a filler.
    platform::SetAccessibleRole(this, QAccessible::Window);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    CreateToolBar();
    CreateFileList();
    CreateListMenu();
    CreateStatusBar();
    platform::SetFrameRoles(this);
    layout->addWidget(Panel1);
    layout->addWidget(Panel2, 1);
    layout->addWidget(StatusBar1);

    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setFileMode(QFileDialog::ExistingFiles);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setOption(QFileDialog::ReadOnly, false);
    // The language file's descriptions already name their patterns.
    OpenDialog1->setOption(QFileDialog::HideNameFilterDetails, true);
    OpenDialog1->setSizeGripEnabled(true);
    HideCompletionsWithDialog(OpenDialog1);
    SetOpenDialogFilter(
        QStringLiteral("All supported files(*.wav,*.mp3,*.wma)|*.wav,*.mp3,*.wma|All Files(*.*)|*.*"));

    // The client area is designed 710 wide; on Windows its 8-px frame made the outer minimum 718.
    resize(platform::Scaled(QSize(kClientWidth, kClientHeight)));
    setMinimumWidth(MinimumClientWidth());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    // Every event of the application passes here first, as queued messages did through the
    // application events component.
    qApp->installEventFilter(this);
    Panel1->installEventFilter(this);

    ExecuteOpenDialog = [this](QStringList& paths) { return RunOpenDialog(paths); };
    connect(ButtonAdd, &QToolButton::clicked, this, &TMainForm::ButtonAddClick);
    connect(ButtonRemove, &QToolButton::clicked, this, &TMainForm::ButtonRemoveClick);
    connect(ButtonClear, &QToolButton::clicked, this, &TMainForm::ButtonClearClick);
    connect(ButtonUp, &QToolButton::clicked, this, &TMainForm::ButtonUpClick);
    connect(ButtonJoin, &QToolButton::clicked, this, &TMainForm::ButtonJoinClick);
    connect(ButtonDown, &QToolButton::clicked, this, &TMainForm::ButtonDownClick);
    connect(ButtonAbout, &QToolButton::clicked, this, &TMainForm::ButtonAboutClick);
    connect(ButtonUpdate, &QToolButton::clicked, this, &TMainForm::ButtonUpdateClick);
    connect(CppWebBrowser1, &TBannerPane::DocumentComplete, this,
            [this] { CppWebBrowser1DocumentComplete(CppWebBrowser1); });
    connect(ButtonLanguage, &QToolButton::clicked, this, &TMainForm::ButtonLanguageClick);

    FormCreate();
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(this);
    FormDestroy();
}

int TMainForm::MinimumClientWidth() {
    return platform::Scaled(kClientWidth);
}

void TMainForm::CreateToolBar() {
    Panel1 = MakePanel(this, "Panel1");
    Panel1->setFixedHeight(platform::Scaled(kToolBarHeight));
    Panel1->setFrameShape(QFrame::NoFrame);
    platform::SetAccessibleRole(Panel1, QAccessible::ToolBar);

    auto* flatStyle = new FlatToolButtonStyle(platform::NewReadableStyle());
    flatStyle->setParent(Panel1);
    for (const ToolButtonPlace& place : kToolButtons) {
        auto* button = new QToolButton(Panel1);
        button->setStyle(flatStyle);
        button->setObjectName(QLatin1String(place.name));
        button->setGeometry(platform::Scaled(QRect(place.left, 0, kToolButtonWidth, kToolBarHeight)));
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        const int iconSize = platform::Scaled(32);
        button->setIcon(MakeToolIcon(place.icon, iconSize));
        button->setIconSize(QSize(iconSize, iconSize));
        button->setText(QLatin1String(place.caption));
        this->*place.button = button;
    }
    for (const BevelPlace& place : kBevels) {
        auto* bevel = new QFrame(Panel1);
        bevel->setObjectName(QLatin1String(place.name));
        bevel->setFrameShape(QFrame::VLine);
        bevel->setFrameShadow(QFrame::Sunken);
        bevel->setGeometry(platform::Scaled(QRect(place.left, 4, 2, kToolBarHeight - 8)));
        this->*place.bevel = bevel;
    }

    CppWebBrowser1 = new TBannerPane(Panel1);
    CppWebBrowser1->setObjectName(QStringLiteral("CppWebBrowser1"));
    // The animation is a picture of fixed size and keeps it beside larger texts.
    CppWebBrowser1->setGeometry(0, 0, kBannerWidth, kToolBarHeight);
}

void TMainForm::CreateFileList() {
    Panel2 = MakePanel(this, "Panel2");
    auto* layout = new QHBoxLayout(Panel2);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    ListView1 = new QTreeWidget(Panel2);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setColumnCount(std::size(kColumns));
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSortingEnabled(false);
    ListView1->setItemDelegate(new ShownNameDelegate(ListView1));
    ListView1->setIconSize(QSize(16, 16));
    ListView1->header()->setSectionsClickable(false);
    // A wider window gives its extra width to the paths, the longest texts of a row.
    ListView1->header()->setStretchLastSection(true);
    QStringList headers;
    for (const ColumnPlace& column : kColumns) {
        headers << QLatin1String(column.header);
    }
    ListView1->setHeaderLabels(headers);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        ListView1->setColumnWidth(i, platform::Scaled(kColumns[i].width));
    }
    // The selection stays visible when the list loses focus.
    QPalette palette = ListView1->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    ListView1->setPalette(palette);

    Panel3 = MakePanel(Panel2, "Panel3");
    Panel3->setFixedWidth(platform::Scaled(kOrderPanelWidth));
    ButtonUp = new QToolButton(Panel3);
    ButtonUp->setObjectName(QStringLiteral("ButtonUp"));
    ButtonUp->setGeometry(platform::Scaled(QRect(8, 104, kOrderButtonSize, kOrderButtonSize)));
    ButtonUp->setIcon(MakeToolIcon(ToolIcon::Up, platform::Scaled(16)));
    ButtonUp->setIconSize(platform::Scaled(QSize(16, 16)));
    ButtonUp->setAutoRaise(true);
    ButtonUp->setToolTip(QStringLiteral("Up"));
    ButtonDown = new QToolButton(Panel3);
    ButtonDown->setObjectName(QStringLiteral("ButtonDown"));
    ButtonDown->setGeometry(platform::Scaled(QRect(8, 144, kOrderButtonSize, kOrderButtonSize)));
    ButtonDown->setIcon(MakeToolIcon(ToolIcon::Down, platform::Scaled(16)));
    ButtonDown->setIconSize(platform::Scaled(QSize(16, 16)));
    ButtonDown->setAutoRaise(true);
    ButtonDown->setToolTip(QStringLiteral("Down"));
    // The two show only an arrow: their names and tips come with the language.
    platform::ShowToolTipOnKeyboardFocus(ButtonUp);
    platform::ShowToolTipOnKeyboardFocus(ButtonDown);

    layout->addWidget(ListView1, 1);
    layout->addWidget(Panel3);
}

void TMainForm::CreateStatusBar() {
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(platform::Scaled(kStatusBarHeight));
    StatusBar1->setSizeGripEnabled(true);
    for (const int width : {200, 300}) {
        auto* panel = new QLabel(StatusBar1);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(StatusBar1->children().size()));
        panel->setFixedWidth(platform::Scaled(width));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        StatusBar1->addWidget(panel);
    }
}

void TMainForm::FitStatusBarToFont() {
    // The bar holds a line of the design's font; a language's font with a taller line gets the
    // difference, so its texts keep their bottoms.
    const int designLine = QFontMetrics(platform::DesignFont(QStringLiteral("Tahoma"), 8)).height();
    const int extra = std::max(0, StatusBar1->fontMetrics().height() - designLine);
    StatusBar1->setFixedHeight(platform::Scaled(kStatusBarHeight) + extra);
}

QLabel* TMainForm::StatusPanel(int index) const {
    const QList<QLabel*> panels = StatusBar1->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    return index >= 0 && index < panels.size() ? panels[index] : nullptr;
}

void TMainForm::SetOpenDialogFilter(const QString& windowsFilter) {
    openDialogFilter_ = windowsFilter;
    OpenDialog1->setNameFilters(FilterFromWindowsSyntax(windowsFilter));
}

QString TMainForm::LanguageText(const QString& section, const QString& key, const QString& def) const {
    return i18n::LanguageText(LanguageIni.get(), section, key, def);
}

QString TMainForm::LanguageTextOr(const char* section, const char* key, const char* english) const {
    const QString found = LanguageText(QLatin1String(section), QLatin1String(key), QString());
    return found.isEmpty() ? QString::fromUtf8(english) : found;
}

void TMainForm::FormCreate() {
    TempPath = platform::TempFolder();
    TempPcmFile = join::TempPcmPath(TempPath);
    // What copies that ended without cleaning up left behind; files of running joins stay.
    join::RemoveLeftoverTempPcms(TempPath);

    if (audio::InitOutputDevice(-1, 44100, 0, this, nullptr) == 0) {
        audio::FreeOutputDevice();
        platform::MessageBox(QStringLiteral("Cannot start default playing device!"), QString(),
                             platform::MB_ICONERROR);
        // The program stays usable for WAV files, so the remaining steps still run.
    }

    setAcceptDrops(true);
    EncodedHomePage = QLatin1String(kEncodedHomePage);
    AppDir = platform::ExeFolder();

    const i18n::IniFile settings(i18n::SettingsFilePath(AppDir));
    const bool bannerOn =
        settings.ReadString(QStringLiteral("General"), QStringLiteral("Ad"), QString()) != QLatin1String("0");
    CppWebBrowser1->setVisible(bannerOn);
    PlaceBanner();
    if (bannerOn) {
        // A still banner for those who ask for one, here or on their desktop.
        if (settings.ReadString(QStringLiteral("General"), QStringLiteral("Animate"), QString()) ==
            QLatin1String("0")) {
            CppWebBrowser1->SetAnimationTime(0);
        } else {
            platform::WhenMotionReduced(CppWebBrowser1,
                                        [pane = CppWebBrowser1] { pane->SetAnimationTime(0); });
        }
        SetUpBanner();
    }
}

void TMainForm::PlaceBanner() {
    // A hidden banner is moved out of sight, so its rectangle never swallows a click.
    const int left = CppWebBrowser1->isVisibleTo(this) ? Panel1->width() - kBannerWidth : width() + 100;
    CppWebBrowser1->move(left, 0);
}

void TMainForm::FormActivate() {
    ApplyLanguage();
}

void TMainForm::ButtonLanguageClick() {
    LanguageForm->exec();
    // The dialog has just reported the settings file it could not write; one report is enough.
    if (LanguageForm->SettingsWriteFailed()) {
        settingsWriteErrorShown_ = true;
    }
    ApplyLanguage();
    UpdateStatusBar();
}

void TMainForm::FormDestroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    audio::FreeOutputDevice();
    if (!AdFile.isEmpty() && QFile::exists(AdFile)) {
        QFile::remove(AdFile);
    }
    adFileOnSignal_.reset();
    if (!TempPcmFile.isEmpty()) {
        join::RemoveLeftoverTempPcm(TempPcmFile);
    }
    LanguageIni.reset();
}

void TMainForm::OpenLanguageFile() {
    i18n::OpenLanguageResult result = i18n::OpenLanguageFile(AppDir, platform::UserDefaultLangId());
    LanguageIni = std::move(result.languageIni);
    // Activation applies the language again after the error box closes; one report a run is enough.
    if (result.writeError && !settingsWriteErrorShown_) {
        settingsWriteErrorShown_ = true;
        platform::ReportException(*result.writeError);
    }
}

bool TMainForm::IsInsideBanner(const QPoint& globalPos) const {
    const QPoint p = mapFromGlobal(globalPos);
    const QRect r = CppWebBrowser1->geometry();
    return r.left() < p.x() && p.x() < r.left() + r.width() && r.top() < p.y() &&
           p.y() < r.top() + r.height();
}

bool TMainForm::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) {
        FormActivate();
    }
    return QWidget::event(e);
}

void TMainForm::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    // The minimum width is a hint that window managers honour; a resize that bypasses it (a
    // display without a window manager) is refused as a whole, its height change included.
    if (!FormCanResize(e->size().width()) && FormCanResize(e->oldSize().width())) {
        const QSize previous = e->oldSize();
        QMetaObject::invokeMethod(
            this, [this, previous] { resize(previous); }, Qt::QueuedConnection);
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e) {
    if (watched == Panel1 && e->type() == QEvent::Resize) {
        PlaceBanner();
    }
    if (ApplicationEvents1Message(e)) {
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

bool TMainForm::ApplicationEvents1Message(QEvent* e) {
    // The banner never shows a context menu: right-clicks inside its rectangle are discarded,
    // whatever window lies there.
    if (e->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(e);
        return mouse->button() == Qt::RightButton && IsInsideBanner(mouse->globalPosition().toPoint());
    }
    if (e->type() == QEvent::ContextMenu) {
        const auto* menu = static_cast<QContextMenuEvent*>(e);
        return menu->reason() == QContextMenuEvent::Mouse && IsInsideBanner(menu->globalPos());
    }
    return false;
}
