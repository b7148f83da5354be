#include "app/main_window.h"

#include "app/store_mirror.h"

#include "domainlist/add_domain.h"
#include "domainlist/domain_cleaner.h"
#include "platform/browser.h"
#include "platform/http.h"
#include "platform/site_address.h"
#include "platform/skin.h"
#include "update/version_check.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTime>
#include <QTimer>

namespace quernfold {

namespace {

// Geometry is kept in twips, as the layout was drawn; 15 twips make one pixel at 96 dpi.
constexpr int px(int twips)
{
    return twips / 15;
}

constexpr int kClientWidth = 12765;
constexpr int kClientHeight = 8955;

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
    // Fixed single border: a close button and the system menu, nothing to minimise or maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint);
    // Every control, menu and box in the font the geometry was made for; in a larger one the captions of the
    // narrow buttons are cut. Set for the whole program as well: a style sheet that is there before the window
    // hands a widget that only inherits its font the application's family (Qt 6.4), and a Latin one is wider.
    QApplication::setFont(uiFont());
    setFont(uiFont());

    buildMenus();
    buildControls();

    m_importDialog.filter = QStringLiteral("文本文件(*.txt)|*.txt|CSV 文件(*.csv)|*.csv|所有文件(*.*)|*.*|");
    m_importDialog.title = QStringLiteral(" 打开文件");
    m_exportDialog.filter = QStringLiteral("文本文件(*.txt)|*.txt|CSV 文件(*.csv)|*.csv|Excel 工作簿(*.xlsx)|*.xlsx|");
    m_exportDialog.title = QStringLiteral(" 保存数据");

    m_versionCheckTimer = new QTimer(this);
    m_versionCheckTimer->setObjectName(QStringLiteral("Timer1"));
    m_versionCheckTimer->setInterval(1000);
    connect(m_versionCheckTimer, &QTimer::timeout, this, &MainWindow::versionCheckTick);
    m_versionCheckTimer->start();

    // The client area has a fixed size; the window is that plus the menu bar and nothing can resize it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

MainWindow::~MainWindow()
{
    if (m_run)
        m_run->abort();
    if (m_versionRequest && m_platform.http)
        m_platform.http->cancel(m_versionRequest);
}

void MainWindow::buildMenus()
{
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
}

void MainWindow::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(px(kClientWidth), px(kClientHeight));
    setCentralWidget(client);

    m_domainList = new DomainListView(client);
    m_domainList->setObjectName(QStringLiteral("ListView1"));
    m_domainList->setAccessibleName(QStringLiteral("域名列表"));
    m_domainList->setGeometry(px(120), px(120), px(12495), px(7095));
    m_domainList->setRootIsDecorated(false);
    m_domainList->setItemsExpandable(false);
    m_domainList->setUniformRowHeights(true); // keeps a list of a million rows cheap to lay out
    m_domainList->setSortingEnabled(false);
    m_domainList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_domainList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_domainList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_domainList->setAllColumnsShowFocus(true);
    m_domainList->setModel(&m_model);
    m_domainList->setFont(uiFont());
    QHeaderView *header = m_domainList->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The widths below are where the columns start; a long domain can be read by dragging its column wider.
    header->setSectionResizeMode(QHeaderView::Interactive);
    static const int columnTwips[DomainListModel::ColumnCount] = { 500, 1800, 2000, 2400, 1440, 1440, 1440 };
    for (int column = 0; column < DomainListModel::ColumnCount; ++column)
        header->resizeSection(column, px(columnTwips[column]));
    connect(m_domainList, &DomainListView::mouseDown, this, &MainWindow::showListMenuOnRightPress);

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
        button->setGeometry(px(place.left), px(7440), px(place.width), px(615));
        button->setEnabled(place.enabled);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, place.handler);
        this->*place.member = button;
    }
    m_batchQueryButton = new QPushButton(QStringLiteral("批量查询"), client);
    m_batchQueryButton->setObjectName(QStringLiteral("Command2"));
    m_batchQueryButton->setGeometry(px(2760), px(7440), px(1215), px(615));
    m_batchQueryButton->setEnabled(false);
    m_batchQueryButton->setAutoDefault(false);
    connect(m_batchQueryButton, &QPushButton::clicked, this, &MainWindow::startOrStopBatchQuery);

    // A real status bar, so that screen readers announce it as one. Its own layout would move the panels, and
    // the window never resizes, so they are placed like every other control: 2 px apart and inset, the
    // message panel taking what the two fixed ones leave.
    m_statusBar = new QStatusBar(client);
    m_statusBar->setObjectName(QStringLiteral("S1"));
    m_statusBar->setSizeGripEnabled(false);
    m_statusBar->setGeometry(0, px(8340), px(kClientWidth), px(615));
    constexpr int kPanelGap = 2;
    const int fixedWidth = px(1440);
    const int panelHeight = m_statusBar->height() - 2 * kPanelGap;
    const int messageWidth = m_statusBar->width() - 2 * fixedWidth - 2 * kPanelGap;
    const QRect panelRects[3] = {
        { 0, kPanelGap, fixedWidth, panelHeight },
        { fixedWidth + kPanelGap, kPanelGap, messageWidth, panelHeight },
        { m_statusBar->width() - fixedWidth, kPanelGap, fixedWidth, panelHeight },
    };
    static const char16_t *const panelTexts[3] = { u"提示", u"正在检测版本更新", u"" };
    QLabel *panels[3] = {};
    for (int i = 0; i < 3; ++i) {
        auto *panel = new QLabel(QString::fromUtf16(panelTexts[i]), m_statusBar);
        panel->setObjectName(QStringLiteral("S1_panel%1").arg(i + 1));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setAlignment((i == 2 ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
        panel->setTextFormat(Qt::PlainText);
        panel->setGeometry(panelRects[i]);
        panels[i] = panel;
    }
    m_messagePanel = panels[1];
    m_clockPanel = panels[2];
    m_progressTimer = new QTimer(this);
    m_progressTimer->setSingleShot(true);
    m_progressTimer->setInterval(DomainListView::kFrameMs);
    connect(m_progressTimer, &QTimer::timeout, this, [this] {
        if (!m_pendingProgress.isEmpty())
            m_messagePanel->setText(std::exchange(m_pendingProgress, {}));
    });
    updateClock();
    m_clockTimer = new QTimer(this);
    m_clockTimer->setInterval(1000);
    connect(m_clockTimer, &QTimer::timeout, this, &MainWindow::updateClock);
    m_clockTimer->start();

    // Keyboard order: add, import, export, studio site, batch query, list, company site.
    setTabOrder(m_addButton, m_importButton);
    setTabOrder(m_importButton, m_exportButton);
    setTabOrder(m_exportButton, m_studioSiteButton);
    setTabOrder(m_studioSiteButton, m_batchQueryButton);
    setTabOrder(m_batchQueryButton, m_domainList);
    setTabOrder(m_domainList, m_companySiteButton);
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
    // Whatever progress was still waiting to be shown is older than this.
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

int MainWindow::selectedRow() const
{
    const QModelIndexList rows = m_domainList->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void MainWindow::setListControlsEnabled(bool enabled)
{
    m_domainList->setLocked(!enabled);
    m_querySettingsAction->setEnabled(enabled);
    m_clearHistoryAction->setEnabled(enabled);
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
    const QString domain = cleanDomain(*text);
    if (!isDomainName(domain) || !containsAcceptedSuffix(domain)) {
        setMessage(QStringLiteral("域名不正确,您请检查.."));
        return;
    }
    if (m_model.containsDomain(domain)) {
        setMessage(QStringLiteral("该域名已在列表中.."));
        return;
    }
    m_model.appendDomain(domain);
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
    const int row = selectedRow();
    if (row < 0 || m_model.row(row).domain.isEmpty()) {
        setMessage(QStringLiteral("请选择要删除的域名.."));
        return;
    }
    setMessage(m_model.row(row).domain + QStringLiteral("删除成功.."));
    m_model.removeRowAt(row);
}

void MainWindow::clearList()
{
    const MessageAnswer answer = m_platform.dialogs->messageBox(
        QStringLiteral("确定要清空列表?"), MessageButtons::YesNo | MessageIcon::Information, kToolTitle);
    if (m_closing || answer != MessageAnswer::Yes)
        return;
    m_model.clear();
    setMessage(QStringLiteral("列表已清空.."));
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

void MainWindow::endProgram(int status)
{
    if (m_closing)
        return;
    // Every wait on the stack checks this flag when it returns and then writes nothing more.
    m_closing = true;
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
