#include "window/main_window.h"

#include "window/store_mirror.h"

#include "domainlist/add_domain.h"
#include "domainlist/domain_cleaner.h"
#include "domainlist/duplicate_domains.h"
#include "platform/browser.h"
#include "platform/clipboard.h"
#include "platform/http.h"
#include "platform/site_address.h"
#include "platform/skin.h"
#include "update/version_check.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QToolButton>

namespace quernfold {

namespace {

// Geometry is kept in twips, as the layout was drawn; 15 twips make one pixel at 96 dpi.
constexpr int px(int twips)
{
    return twips / 15;
}

constexpr int kClientWidth = 12765;
constexpr int kClientHeight = 8955;
constexpr int kPanelGap = 2;
// The run's progress sits over the right part of the message panel: the panel's own texts are short and start
// at its left, and the three panels keep the places they have always had.
constexpr int kProgressWidth = 260;
constexpr int kSummaryWidth = 440;
constexpr int kFindBarHeight = 28;

const QString kWindowSize = QStringLiteral("window/size");
const QString kWindowMaximized = QStringLiteral("window/maximized");
// Widths as a list of numbers, from before the columns had names in the file: they cut domains off, so they are
// not read again.
const QString kColumnWidths = QStringLiteral("window/columnWidths");
const QString kColumnKey = QStringLiteral("window/columns/%1/%2");

const QString kExitQuestion = QStringLiteral("是否确定退出软件?");
const QString kPromptTitle = QStringLiteral("提示");
const QString kToolTitle = QStringLiteral("Tarnwick软件");

// The layout was drawn for the Windows UI font at 9 pt; elsewhere a packaged CJK font of the same size stands
// in for it.
QFont uiFont()
{
    [[maybe_unused]] static const bool substituted = [] {
        QFont::insertSubstitutions(
            QStringLiteral("微软雅黑"), { QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC") });
        return true;
    }();
    QFont font(QStringLiteral("微软雅黑"));
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    return font;
}

} // namespace

MainWindow::MainWindow(const Platform &platform, const Config &config, QWidget *parent)
    : QMainWindow(parent)
    , m_platform(platform)
    , m_config(config)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quernfold V" QUERNFOLD_VERSION));
    // A window that grows: ten thousand rows want more than the first size shows.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    // Every control, menu and box in the font the geometry was made for; in a larger one the captions of the
    // narrow buttons are cut. Set for the whole program as well: a style sheet that is there before the window
    // hands a widget that only inherits its font the application's family (Qt 6.4), and a Latin one is wider.
    QApplication::setFont(uiFont());
    setFont(uiFont());

    buildMenus();
    buildControls();
    buildUndo();
    buildPasteAction();
    buildHistoryAction();

    // Every kind the import reads at once, then each alone.
    m_importDialog.filter = QStringLiteral(
        "域名列表(*.txt *.csv)|*.txt;*.csv|文本文件(*.txt)|*.txt|CSV 文件(*.csv)|*.csv|所有文件(*.*)|*.*|");
    m_importDialog.title = QStringLiteral(" 打开文件");
    m_exportDialog.filter = QStringLiteral("文本文件(*.txt)|*.txt|CSV 文件(*.csv)|*.csv|Excel 工作簿(*.xlsx)|*.xlsx|");
    m_exportDialog.title = QStringLiteral(" 保存数据");

    m_versionCheckTimer = new QTimer(this);
    m_versionCheckTimer->setObjectName(QStringLiteral("Timer1"));
    m_versionCheckTimer->setInterval(1000);
    connect(m_versionCheckTimer, &QTimer::timeout, this, &MainWindow::versionCheckTick);
    m_versionCheckTimer->start();

    // The first size, the one the layout was drawn for, is also the least: every control has its place there.
    resize(layout()->minimumSize());
    restoreWindowState();
}

MainWindow::~MainWindow()
{
    // The rows go with this object, before the child widgets that show them: the view lets go of them first.
    m_domainList->setModel(nullptr);
    delete m_shownModel;
    m_shownModel = nullptr;
    if (m_run)
        m_run->abort();
    if (m_versionRequest && m_platform.http)
        m_platform.http->cancel(m_versionRequest);
}

void MainWindow::buildMenus()
{
    menuBar()->setAccessibleName(QStringLiteral("菜单栏"));
    // Shown only when the menus do not fit the bar.
    for (QToolButton *more : menuBar()->findChildren<QToolButton *>())
        more->setAccessibleName(QStringLiteral("更多菜单"));
    m_programMenu = menuBar()->addMenu(QStringLiteral("程序菜单"));
    m_programMenu->setObjectName(QStringLiteral("menu"));
    QAction *about = m_programMenu->addAction(QStringLiteral("软件说明"), this, &MainWindow::showAbout);
    about->setObjectName(QStringLiteral("sm"));
    m_querySettingsAction
        = m_programMenu->addAction(QStringLiteral("查询设置.."), this, &MainWindow::editQuerySettings);
    m_querySettingsAction->setObjectName(QStringLiteral("querySettings"));
    m_clearHistoryAction = m_programMenu->addAction(QStringLiteral("清除历史结果.."), this, &MainWindow::clearHistory);
    m_clearHistoryAction->setObjectName(QStringLiteral("clearHistory"));
    m_programMenu->addSeparator()->setObjectName(QStringLiteral("x1"));
    QAction *exit = m_programMenu->addAction(QStringLiteral("退出软件"), this, &MainWindow::askToExit);
    exit->setObjectName(QStringLiteral("endd"));

    // Never in the menu bar: it is only the list's context menu.
    m_listMenu = new QMenu(QStringLiteral("操作"), this);
    m_listMenu->setObjectName(QStringLiteral("caozuo"));
    m_listMenu->addAction(QStringLiteral("查询域名"), this, &MainWindow::querySelectedRow)
        ->setObjectName(QStringLiteral("cxym"));
    m_listMenu->addSeparator()->setObjectName(QStringLiteral("x3"));
    m_listMenu->addAction(QStringLiteral("删除域名"), this, &MainWindow::deleteSelectedRow)
        ->setObjectName(QStringLiteral("del"));
    m_listMenu->addSeparator()->setObjectName(QStringLiteral("x4"));
    m_listMenu->addAction(QStringLiteral("清空列表"), this, &MainWindow::clearList)
        ->setObjectName(QStringLiteral("clear"));
    m_listMenu->addSeparator()->setObjectName(QStringLiteral("x5"));
    m_listMenu->addAction(QStringLiteral("查询未完成项"), this, &MainWindow::queryUnfinishedRows)
        ->setObjectName(QStringLiteral("queryUnfinished"));
    m_listMenu->addSeparator()->setObjectName(QStringLiteral("x6"));
    m_kindMenu = m_listMenu->addMenu(QStringLiteral("显示"));
    m_kindMenu->setObjectName(QStringLiteral("showKind"));
    m_kindActions = new QActionGroup(this);
    static const char *const kindNames[ShownRowsModel::KindCount]
        = { "showAll", "showFound", "showNoRecord", "showDeleted", "showUnfinished", "showChanged" };
    for (int kind = 0; kind < ShownRowsModel::KindCount; ++kind) {
        QAction *item = m_kindMenu->addAction(QString(), this, [this, kind] { showKind(ShownRowsModel::Kind(kind)); });
        item->setObjectName(QString::fromLatin1(kindNames[kind]));
        item->setCheckable(true);
        item->setChecked(kind == 0);
        m_kindActions->addAction(item);
    }
    QAction *find = m_listMenu->addAction(QStringLiteral("查找.."), this, &MainWindow::showFindBar);
    find->setObjectName(QStringLiteral("findRows"));
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    // The shortcut works while the menu is closed, too.
    addAction(find);
    connect(m_listMenu, &QMenu::aboutToShow, this, &MainWindow::updateKindTexts);
    // A menu is announced by its own name, which is not its title.
    for (QMenu *menu : { m_programMenu, m_listMenu, m_kindMenu })
        menu->setAccessibleName(menu->title());
}

void MainWindow::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setMinimumSize(px(kClientWidth), px(kClientHeight));
    client->installEventFilter(this);
    setCentralWidget(client);
    m_client = client;

    m_shownModel = new ShownRowsModel(m_model, this);
    m_domainList = new DomainListView(client);
    m_domainList->setObjectName(QStringLiteral("ListView1"));
    m_domainList->setAccessibleName(QStringLiteral("域名列表"));
    m_domainList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_domainList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_domainList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_domainList->setModel(m_shownModel);
    m_domainList->setFont(uiFont());
    QHeaderView *header = m_domainList->header();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setSortIndicatorShown(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Any column can be dragged wider or narrower, or fitted to its contents by a double click on its edge.
    header->setSectionResizeMode(QHeaderView::Interactive);
    m_domainList->planColumns(startingColumns());
    connect(m_domainList, &DomainListView::mouseDown, this, &MainWindow::showListMenuOnRightPress);
    connect(m_domainList, &DomainListView::deletePressed, this, &MainWindow::deleteSelectedRow);
    connect(m_domainList, &DomainListView::copyPressed, this, &MainWindow::copySelectedRows);
    connect(header, &QHeaderView::sectionClicked, this, &MainWindow::sortByColumn);

    struct ButtonPlace {
        int index;
        int left;
        int width;
        const char16_t *caption;
        bool enabled;
        QPushButton *MainWindow::*member;
        void (MainWindow::*handler)();
    };
    static const ButtonPlace buttons[] = {
        { 0, 120, 1215, u"单个添加", false, &MainWindow::m_addButton, &MainWindow::addDomain },
        { 2, 1440, 1215, u"批量导入", false, &MainWindow::m_importButton, &MainWindow::importList },
        { 3, 4080, 1215, u"导出数据", false, &MainWindow::m_exportButton, &MainWindow::exportList },
        { 4, 9600, 1455, u"工作室官网", true, &MainWindow::m_studioSiteButton, &MainWindow::openStudioSite },
        { 1, 11160, 1455, u"Brellow公司官网", true, &MainWindow::m_companySiteButton, &MainWindow::openCompanySite },
    };
    for (const ButtonPlace &place : buttons) {
        auto *button = new QPushButton(QString::fromUtf16(place.caption), client);
        button->setObjectName(QStringLiteral("Command1_%1").arg(place.index));
        button->resize(px(place.width), px(615));
        button->setEnabled(place.enabled);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, place.handler);
        this->*place.member = button;
    }
    m_batchQueryButton = new QPushButton(QStringLiteral("批量查询"), client);
    m_batchQueryButton->setObjectName(QStringLiteral("Command2"));
    m_batchQueryButton->resize(px(1215), px(615));
    m_batchQueryButton->setEnabled(false);
    m_batchQueryButton->setAutoDefault(false);
    connect(m_batchQueryButton, &QPushButton::clicked, this, &MainWindow::startOrStopBatchQuery);

    // A real status bar, so that screen readers announce it as one. Its own layout would move the panels, so
    // they are placed like every other control: 2 px apart and inset, the message panel taking what the two
    // fixed ones leave.
    m_statusBar = new QStatusBar(client);
    m_statusBar->setObjectName(QStringLiteral("S1"));
    m_statusBar->setAccessibleName(QStringLiteral("状态栏"));
    m_statusBar->setSizeGripEnabled(false);
    static const char16_t *const panelTexts[3] = { u"提示", u"正在检测版本更新", u"" };
    QLabel *panels[3] = {};
    for (int i = 0; i < 3; ++i) {
        auto *panel = new QLabel(QString::fromUtf16(panelTexts[i]), m_statusBar);
        panel->setObjectName(QStringLiteral("S1_panel%1").arg(i + 1));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setAlignment((i == 2 ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
        panel->setTextFormat(Qt::PlainText);
        panels[i] = panel;
    }
    m_messagePanel = panels[1];
    m_clockPanel = panels[2];
    buildRunProgress();
    m_progressTimer = new QTimer(this);
    m_progressTimer->setSingleShot(true);
    m_progressTimer->setInterval(DomainListView::kFrameMs);
    connect(m_progressTimer, &QTimer::timeout, this, &MainWindow::showPendingProgress);
    updateClock();
    m_clockTimer = new QTimer(this);
    m_clockTimer->setInterval(1000);
    connect(m_clockTimer, &QTimer::timeout, this, &MainWindow::updateClock);
    // A run that stands still (retries holding every slot) still shows its rate falling and its time left.
    connect(m_clockTimer, &QTimer::timeout, this, &MainWindow::updateRunProgress);
    m_clockTimer->start();
    buildFindBar(client);
    buildFilterLine(client);
    placeControls();

    // Keyboard order: add, import, export, studio site, batch query, list, company site.
    setTabOrder(m_addButton, m_importButton);
    setTabOrder(m_importButton, m_exportButton);
    setTabOrder(m_exportButton, m_studioSiteButton);
    setTabOrder(m_studioSiteButton, m_batchQueryButton);
    setTabOrder(m_batchQueryButton, m_domainList);
    setTabOrder(m_domainList, m_companySiteButton);
}

void MainWindow::buildRunProgress()
{
    m_runProgress = new QProgressBar(m_statusBar);
    m_runProgress->setObjectName(QStringLiteral("runProgress"));
    m_runProgress->setAccessibleName(QStringLiteral("查询进度"));
    m_runProgress->setTextVisible(true);
    m_runProgress->setAlignment(Qt::AlignCenter);
    m_runProgress->hide();
    m_runSummary = new QLabel(m_statusBar);
    m_runSummary->setObjectName(QStringLiteral("runSummary"));
    m_runSummary->setAccessibleName(QStringLiteral("查询结果"));
    m_runSummary->setTextFormat(Qt::PlainText);
    m_runSummary->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_runSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_runSummary->hide();
    m_summaryTimer = new QTimer(this);
    m_summaryTimer->setSingleShot(true);
    m_summaryTimer->setInterval(ShownRowsModel::kMoveIntervalMs);
    connect(m_summaryTimer, &QTimer::timeout, this, &MainWindow::updateRunSummary);
    // Only a change mark reaching the 变化 cell can move the count.
    connect(&m_model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &, const QModelIndex &last) {
        if (!m_summaryRows.empty() && last.column() >= DomainListModel::ChangeColumn && !m_summaryTimer->isActive())
            m_summaryTimer->start();
    });
}

void MainWindow::buildFindBar(QWidget *client)
{
    m_findBar = new QFrame(client);
    m_findBar->setObjectName(QStringLiteral("findBar"));
    m_findBar->setAccessibleName(QStringLiteral("查找"));
    m_findBar->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    m_findBar->setAutoFillBackground(true);
    auto *row = new QHBoxLayout(m_findBar);
    row->setContentsMargins(2, 1, 2, 1);
    row->setSpacing(4);
    m_kindBox = new QComboBox(m_findBar);
    m_kindBox->setObjectName(QStringLiteral("recordKind"));
    m_kindBox->setAccessibleName(QStringLiteral("显示"));
    for (int kind = 0; kind < ShownRowsModel::KindCount; ++kind)
        m_kindBox->addItem(QString());
    connect(m_kindBox, &QComboBox::activated, this, [this](int kind) { showKind(ShownRowsModel::Kind(kind)); });
    m_findField = new QLineEdit(m_findBar);
    m_findField->setObjectName(QStringLiteral("findText"));
    m_findField->setAccessibleName(QStringLiteral("查找"));
    m_findField->setPlaceholderText(QStringLiteral("查找域名、备案号、备案人或网站名称"));
    m_findField->setClearButtonEnabled(true);
    // The line edit makes its clear button itself, with an icon and no name a screen reader could say.
    for (QToolButton *clear : m_findField->findChildren<QToolButton *>()) {
        clear->setObjectName(QStringLiteral("clearFind"));
        clear->setAccessibleName(QStringLiteral("清除查找"));
        clear->setToolTip(QStringLiteral("清除查找"));
    }
    m_findField->installEventFilter(this);
    connect(m_findField, &QLineEdit::textChanged, this, [this](const QString &text) {
        const PlaceKeeper place(this);
        m_shownModel->setFindText(text);
    });
    auto *close = new QToolButton(m_findBar);
    close->setObjectName(QStringLiteral("closeFind"));
    close->setText(QStringLiteral("关闭"));
    close->setAccessibleName(QStringLiteral("关闭查找"));
    connect(close, &QToolButton::clicked, this, &MainWindow::hideFindBar);
    row->addWidget(m_kindBox);
    row->addWidget(m_findField, 1);
    row->addWidget(close);
    m_findBar->hide();
    // Counts follow the rows a run writes, at display rate.
    m_countsTimer = new QTimer(this);
    m_countsTimer->setSingleShot(true);
    m_countsTimer->setInterval(DomainListView::kFrameMs);
    connect(m_countsTimer, &QTimer::timeout, this, &MainWindow::updateKindTexts);
    connect(m_shownModel, &ShownRowsModel::countsChanged, this, [this] {
        // Only counts someone can see are worth their text; the menu writes its own when it opens.
        if (!m_countsTimer->isActive() && (m_findBar->isVisible() || m_listMenu->isVisible()))
            m_countsTimer->start();
    });
    updateKindTexts();
}

void MainWindow::placeControls()
{
    // How much the client area has grown beyond the size the layout was drawn for.
    const int dx = qMax(0, m_client->width() - px(kClientWidth));
    const int dy = qMax(0, m_client->height() - px(kClientHeight));
    m_domainList->setGeometry(px(120), px(120), px(12495) + dx, px(7095) + dy);
    struct Place {
        QPushButton *button;
        int left;
        bool right;
    };
    const Place places[] = {
        { m_addButton, 120, false },
        { m_importButton, 1440, false },
        { m_batchQueryButton, 2760, false },
        { m_exportButton, 4080, false },
        { m_studioSiteButton, 9600, true },
        { m_companySiteButton, 11160, true },
    };
    for (const Place &place : places)
        place.button->move(px(place.left) + (place.right ? dx : 0), px(7440) + dy);
    m_statusBar->setGeometry(0, px(8340) + dy, px(kClientWidth) + dx, px(615));
    const int fixedWidth = px(1440);
    const int panelHeight = m_statusBar->height() - 2 * kPanelGap;
    const int messageWidth = m_statusBar->width() - 2 * fixedWidth - 2 * kPanelGap;
    m_statusBar->findChild<QLabel *>(QStringLiteral("S1_panel1"))->setGeometry(0, kPanelGap, fixedWidth, panelHeight);
    m_messagePanel->setGeometry(fixedWidth + kPanelGap, kPanelGap, messageWidth, panelHeight);
    m_clockPanel->setGeometry(m_statusBar->width() - fixedWidth, kPanelGap, fixedWidth, panelHeight);
    const int messageRight = fixedWidth + kPanelGap + messageWidth;
    m_runProgress->setGeometry(messageRight - kProgressWidth - 3, kPanelGap + 3, kProgressWidth, panelHeight - 6);
    const int summaryWidth = qMin(kSummaryWidth, messageWidth - 8);
    m_runSummary->setGeometry(messageRight - summaryWidth - 6, kPanelGap + 2, summaryWidth, panelHeight - 4);
    const QRect list = m_domainList->geometry();
    m_findBar->setGeometry(list.left() + 1, list.bottom() - kFindBarHeight, list.width() - 2, kFindBarHeight);
    placeFilterLine();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_client && event->type() == QEvent::Resize)
        placeControls();
    if (watched == m_findField && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        hideFindBar();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

std::vector<ColumnPlan> MainWindow::startingColumns() const
{
    std::vector<ColumnPlan> plan;
    for (const ListColumn &column : DomainListModel::columns()) {
        ColumnPlan planned;
        planned.name = QString::fromLatin1(column.name);
        planned.width = px(column.twips);
        if (column.fits)
            planned.width = qMax(planned.width, m_domainList->widthForText(QString::fromUtf16(column.fits)));
        planned.stretches = column.stretches;
        planned.hideable = column.hideable;
        planned.shown = !column.optional;
        plan.push_back(planned);
    }
    return plan;
}

void MainWindow::restoreWindowState()
{
    if (m_config.settingsPath.isEmpty())
        return;
    const QSettings file(m_config.settingsPath, QSettings::IniFormat);
    const QSize size = file.value(kWindowSize).toSize();
    if (size.isValid())
        resize(size.expandedTo(minimumSizeHint()));
    if (file.value(kWindowMaximized).toBool())
        setWindowState(windowState() | Qt::WindowMaximized);
    // A column the file does not know (one added since) starts as it would without a file.
    std::vector<ColumnPlan> plan = startingColumns();
    for (ColumnPlan &planned : plan) {
        bool ok = false;
        const int width = file.value(kColumnKey.arg(planned.name, QStringLiteral("width"))).toInt(&ok);
        if (ok && width >= 8 && width <= 4000)
            planned.width = width;
        if (planned.hideable)
            planned.shown = file.value(kColumnKey.arg(planned.name, QStringLiteral("shown")), planned.shown).toBool();
    }
    m_domainList->planColumns(std::move(plan));
}

void MainWindow::saveWindowState() const
{
    if (m_config.settingsPath.isEmpty())
        return;
    QSettings file(m_config.settingsPath, QSettings::IniFormat);
    const bool maximized = isMaximized();
    file.setValue(kWindowSize, maximized ? normalGeometry().size() : size());
    file.setValue(kWindowMaximized, maximized);
    file.remove(kColumnWidths);
    for (int column = 0; column < DomainListModel::ColumnCount; ++column) {
        const QString name = QString::fromLatin1(DomainListModel::columns()[size_t(column)].name);
        file.setValue(kColumnKey.arg(name, QStringLiteral("width")), m_domainList->columnWidth(column));
        file.setValue(kColumnKey.arg(name, QStringLiteral("shown")), m_domainList->isColumnShown(column));
    }
}

QString MainWindow::kindLabel(ShownRowsModel::Kind kind)
{
    static const char16_t *const labels[ShownRowsModel::KindCount]
        = { u"全部", u"有备案", u"无记录", u"备案已被删除", u"未完成", u"有变化" };
    return QString::fromUtf16(labels[int(kind)]);
}

QString MainWindow::kindText(ShownRowsModel::Kind kind) const
{
    return QStringLiteral("%1(%2)").arg(kindLabel(kind), groupedNumber(m_shownModel->count(kind)));
}

void MainWindow::updateKindTexts()
{
    const QList<QAction *> items = m_kindActions->actions();
    for (int kind = 0; kind < ShownRowsModel::KindCount; ++kind) {
        const QString text = kindText(ShownRowsModel::Kind(kind));
        items.at(kind)->setText(text);
        m_kindBox->setItemText(kind, text);
    }
}

void MainWindow::showKind(ShownRowsModel::Kind kind)
{
    const PlaceKeeper place(this);
    m_shownModel->setKind(kind);
    m_kindActions->actions().at(int(kind))->setChecked(true);
    m_kindBox->setCurrentIndex(int(kind));
}

void MainWindow::showFindBar()
{
    updateKindTexts();
    m_findBar->show();
    m_findBar->raise();
    m_findField->setFocus(Qt::ShortcutFocusReason);
    m_findField->selectAll();
}

void MainWindow::hideFindBar()
{
    m_findField->clear();
    m_findBar->hide();
    m_domainList->setFocus(Qt::OtherFocusReason);
}

void MainWindow::sortByColumn(int column)
{
    const PlaceKeeper place(this);
    QHeaderView *header = m_domainList->header();
    if (column <= DomainListModel::IdColumn) {
        m_shownModel->sortBy(-1, Qt::AscendingOrder);
        header->setSortIndicatorShown(false);
        return;
    }
    const Qt::SortOrder order = m_shownModel->sortColumn() == column && m_shownModel->sortOrder() == Qt::AscendingOrder
        ? Qt::DescendingOrder
        : Qt::AscendingOrder;
    m_shownModel->sortBy(column, order);
    header->setSortIndicator(column, order);
    header->setSortIndicatorShown(true);
}

std::vector<RowKey> MainWindow::shownKeys() const
{
    return m_shownModel->shownKeys();
}

std::vector<int> MainWindow::selectedShownRows() const
{
    std::vector<int> shown;
    for (const QItemSelectionRange &range : m_domainList->selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            shown.push_back(row);
    }
    std::sort(shown.begin(), shown.end());
    shown.erase(std::unique(shown.begin(), shown.end()), shown.end());
    return shown;
}

std::vector<RowKey> MainWindow::selectedKeys() const
{
    std::vector<RowKey> rows;
    for (int shown : selectedShownRows()) {
        const RowKey row = m_shownModel->keyAt(shown);
        if (row != RowKey::None)
            rows.push_back(row);
    }
    // Keys rise in list order.
    std::sort(rows.begin(), rows.end());
    return rows;
}

void MainWindow::selectRows(const std::vector<RowKey> &rows)
{
    QItemSelection selection;
    for (const RowKey row : rows) {
        const int shown = m_shownModel->shownRowOf(row);
        if (shown >= 0)
            selection.select(
                m_shownModel->index(shown, 0), m_shownModel->index(shown, DomainListModel::ColumnCount - 1));
    }
    m_domainList->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void MainWindow::copySelectedRows()
{
    const std::vector<int> shown = selectedShownRows();
    if (shown.empty() || !m_platform.clipboard)
        return;
    QString text;
    for (int row : shown) {
        const int source = m_shownModel->sourceRow(row);
        if (source < 0)
            continue;
        for (int column = 0; column < DomainListModel::BaseColumnCount; ++column) {
            QString cell = m_model.cell(source, DomainListModel::Column(column));
            // A tab or line break inside a cell would split it across the spreadsheet's cells.
            cell.replace(u'\t', u' ').replace(u'\r', u' ').replace(u'\n', u' ');
            if (column > 0)
                text += u'\t';
            text += cell;
        }
        text += u'\n';
    }
    m_platform.clipboard->setText(text);
}

void MainWindow::load()
{
    setWindowIcon(QIcon());
    // The skin file sits beside the program (forward slash whatever the platform's separator); an installed
    // program finds it in its data folder instead.
    if (m_platform.skin) {
        const QString programDir = QCoreApplication::applicationDirPath();
        if (!m_platform.skin->attach(programDir + QStringLiteral("/skinh.she")))
            m_platform.skin->attach(QDir::cleanPath(programDir + QStringLiteral("/../share/quernfold/skinh.she")));
    }
    // Label editing is manual: nothing opens an editor (set up with the view).
    show();
    if (const QScreen *screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    enableWorkingButtons();
    // The placeholder version service can never answer; asking would greet every start with the failure box.
    if (isPlaceholderAddress(m_config.versionBase)) {
        setMessage(QStringLiteral("欢迎使用Tarnwick软件.."));
        m_versionCheckTimer->stop();
    }
    checkCodePage();
    openStore();
}

void MainWindow::enableWorkingButtons()
{
    // A late version check must not hand the buttons back in the middle of a lookup or an export, nor before the
    // list kept from the last session is settled.
    if (isQuerying() || isExporting() || m_restoring)
        return;
    m_addButton->setEnabled(true);
    m_importButton->setEnabled(true);
    m_exportButton->setEnabled(true);
    m_batchQueryButton->setEnabled(true);
}

QString MainWindow::message() const
{
    return m_pendingProgress.isEmpty() ? m_messagePanel->text() : m_pendingProgress;
}

void MainWindow::setMessage(const QString &text)
{
    // Whatever progress was still waiting to be shown is older than this, and so is a run's summary.
    m_runSummary->hide();
    m_summaryTimer->stop();
    std::vector<RowKey>().swap(m_summaryRows);
    m_pendingProgress.clear();
    m_progressTimer->stop();
    m_messageWritten = true;
    m_messagePanel->setText(text);
    emit messageWritten(text);
}

void MainWindow::setProgressMessage(const QString &text)
{
    emit messageWritten(text);
    // Shown at display rate: laying out and painting the panel for every row would cost more than the row.
    m_pendingProgress = text;
    if (!m_progressTimer->isActive())
        m_progressTimer->start();
}

void MainWindow::updateClock()
{
    // Hours and minutes in the user's short format; some locales' short format carries seconds too.
    static const QString format = [] {
        QString f = QLocale::system().timeFormat(QLocale::ShortFormat);
        f.remove(QRegularExpression(QStringLiteral("[:.]s+")));
        return f;
    }();
    m_clockPanel->setText(QLocale::system().toString(QTime::currentTime(), format));
}

RowKey MainWindow::selectedKey() const
{
    const std::vector<RowKey> rows = selectedKeys();
    return rows.empty() ? RowKey::None : rows.front();
}

void MainWindow::setListControlsEnabled(bool enabled)
{
    m_domainList->setLocked(!enabled);
    m_querySettingsAction->setEnabled(enabled);
    m_clearHistoryAction->setEnabled(enabled);
    m_undoAction->setEnabled(enabled && m_undo.canUndo());
    m_addButton->setEnabled(enabled);
    m_importButton->setEnabled(enabled);
    m_exportButton->setEnabled(enabled);
}

void MainWindow::openCompanySite()
{
    openSite(m_config.companySite);
}

void MainWindow::openStudioSite()
{
    openSite(m_config.studioSite);
}

void MainWindow::openSite(const QString &address)
{
    if (!m_platform.browser || m_platform.browser->openUrl(QUrl(address)))
        return;
    // Without a browser the user can still open the address by hand; the box's text can be copied.
    m_platform.dialogs->messageBox(QStringLiteral("无法打开浏览器,请手动访问:") + address,
        MessageButtons::Ok | MessageIcon::Information, kPromptTitle);
}

void MainWindow::addDomain()
{
    const std::optional<QString> text
        = m_platform.dialogs->inputBox(QStringLiteral("请输入域名"), QStringLiteral("请输入域名"), QString());
    if (m_closing)
        return;
    if (!text) {
        setMessage(QStringLiteral("已取消.."));
        return;
    }
    if (text->isEmpty()) {
        setMessage(QStringLiteral("请输入域名.."));
        return;
    }
    // Several lines pasted into the box are a small import.
    const QString trimmed = text->trimmed();
    if (trimmed.contains(u'\n') || trimmed.contains(u'\r')) {
        appendDomainLines(*text, QStringLiteral("输入的内容"));
        return;
    }
    // The suffix test alone let "mycomputer" and "home" through; the name must be a domain as well. A typed
    // "www." stays, unlike at import, but "www.x.cn" is still a repeat of a listed "x.cn".
    const CheckedName checked = checkDomainName(cleanDomain(*text));
    if (checked.verdict != NameVerdict::Domain || !containsAcceptedSuffix(checked.name)) {
        setMessage(QStringLiteral("域名不正确,您请检查.."));
        return;
    }
    if (listHoldsName(m_model, checked.name)) {
        setMessage(QStringLiteral("该域名已在列表中.."));
        return;
    }
    showAddedRows(m_model.appendDomain(checked.name));
    setMessage(QStringLiteral("域名添加成功.."));
}

void MainWindow::showListMenuOnRightPress(Qt::MouseButton button, const QPoint &globalPos)
{
    if (button == Qt::RightButton)
        m_listMenu->popup(globalPos);
}

void MainWindow::showAbout()
{
    m_platform.dialogs->messageBox(QStringLiteral("本工具可帮助您批量快捷查询域名备案情况，域名大佬的绝佳助手！"),
        MessageButtons::Ok | MessageIcon::Information, kToolTitle);
}

void MainWindow::askToExit()
{
    close();
}

void MainWindow::deleteSelectedRow()
{
    std::vector<RowKey> rows = selectedKeys();
    const DomainRow *first = rows.empty() ? nullptr : m_model.find(rows.front());
    if (!first || (rows.size() == 1 && first->domain.isEmpty())) {
        setMessage(QStringLiteral("请选择要删除的域名.."));
        return;
    }
    if (rows.size() == 1) {
        setMessage(first->domain + QStringLiteral("删除成功.."));
        m_undo.recordDelete(m_model.removeRows(std::move(rows)));
        updateUndoAction();
        return;
    }
    const int count = int(rows.size());
    const MessageAnswer answer
        = m_platform.dialogs->messageBox(QStringLiteral("确定删除选中的%1个域名?").arg(groupedNumber(count)),
            MessageButtons::YesNo | MessageIcon::Information, kPromptTitle);
    if (m_closing || answer != MessageAnswer::Yes)
        return;
    m_undo.recordDelete(m_model.removeRows(std::move(rows)));
    updateUndoAction();
    setMessage(QStringLiteral("已删除%1个域名..").arg(groupedNumber(count)));
}

void MainWindow::clearList()
{
    const MessageAnswer answer = m_platform.dialogs->messageBox(
        QStringLiteral("确定要清空列表?"), MessageButtons::YesNo | MessageIcon::Information, kToolTitle);
    if (m_closing || answer != MessageAnswer::Yes)
        return;
    m_undo.recordClear(m_model.takeAll());
    updateUndoAction();
    setMessage(QStringLiteral("列表已清空.."));
}

void MainWindow::buildUndo()
{
    m_listMenu->addSeparator()->setObjectName(QStringLiteral("x7"));
    m_undoAction = m_listMenu->addAction(QStringLiteral("撤销"), this, &MainWindow::undoLastChange);
    m_undoAction->setObjectName(QStringLiteral("undo"));
    m_undoAction->setShortcut(QKeySequence::Undo);
    m_undoAction->setShortcutContext(Qt::WindowShortcut);
    // Ctrl+Z works while the menu is closed, too.
    addAction(m_undoAction);
    updateUndoAction();
}

void MainWindow::updateUndoAction()
{
    // The rows a run writes or an export reads stay where they are until it is over.
    m_undoAction->setEnabled(m_undo.canUndo() && !isQuerying() && !isExporting() && !m_restoring && !m_closing);
}

void MainWindow::undoLastChange()
{
    if (!m_undoAction->isEnabled() || m_importing)
        return;
    const std::optional<ListUndo::Undone> undone = m_undo.undo(m_model);
    updateUndoAction();
    if (!undone)
        return;
    switch (undone->change) {
    case ListUndo::Change::Delete:
        setMessage(QStringLiteral("已撤销删除,恢复%1个域名..").arg(groupedNumber(undone->restored)));
        break;
    case ListUndo::Change::Clear:
        setMessage(QStringLiteral("已撤销清空列表.."));
        break;
    case ListUndo::Change::Replace:
        setMessage(QStringLiteral("已撤销导入,恢复原列表.."));
        break;
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    // A second close request while the question is still open is the same request.
    if (m_askingToClose) {
        event->ignore();
        return;
    }
    m_askingToClose = true;
    const MessageAnswer answer
        = m_platform.dialogs->messageBox(kExitQuestion, MessageButtons::YesNo | MessageIcon::Information, kPromptTitle);
    m_askingToClose = false;
    if (m_closing) {
        event->accept();
        return;
    }
    if (answer != MessageAnswer::Yes) {
        event->ignore();
        return;
    }
    endProgram(0);
    event->accept();
}

void MainWindow::endWithoutQuestion()
{
    endProgram(0);
}

void MainWindow::endProgram(int status)
{
    if (m_closing)
        return;
    // Every wait on the stack checks this flag when it returns and then writes nothing more.
    m_closing = true;
    saveWindowState();
    m_versionCheckTimer->stop();
    if (m_run)
        m_run->abort();
    if (m_platform.http)
        m_platform.http->abortAll();
    m_versionRequest = 0;
    hide();
    if (m_platform.quit)
        m_platform.quit(status);
}

} // namespace quernfold
