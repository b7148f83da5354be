#pragma once

#include "domainlist/domain_list_model.h"
#include "platform/config.h"
#include "platform/dialogs.h"

#include <QMainWindow>
#include <QTreeView>
#include <functional>

class QLabel;
class QMenu;
class QPushButton;
class QTimer;

namespace quernfold {

class Browser;
class HttpClient;
class Skin;

// Everything modal or outside the process that the window uses; tests hand in scripted ones.
struct Platform {
    Dialogs *dialogs = nullptr;
    Browser *browser = nullptr;
    Skin *skin = nullptr;
    HttpClient *http = nullptr;
    // Ends the program's event loop with the given status.
    std::function<void(int)> quit;
};

// The report-style list. It tells the window about every mouse press, with the button, before the view
// handles it.
class DomainListView : public QTreeView
{
    Q_OBJECT
public:
    using QTreeView::QTreeView;
signals:
    void mouseDown(Qt::MouseButton button, const QPoint &globalPos);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    MainWindow(const Platform &platform, const Config &config, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence: runs once, right after construction.
    void load();
    // Enables the four working buttons; leaves them alone while a query has them disabled.
    void init();

    DomainListModel &model() { return m_model; }
    QString message() const;
    // True once the user (or the version check) has ended the program; nothing may touch the list after.
    bool isClosing() const { return m_closing; }
    // Position of the list's selected row, or -1.
    int selectedRow() const;

    // The batch run's stop flag: set at the start of a run, cleared by the stop click.
    bool QueryRunning = false;

    // Handlers, public so that tests and the menus reach them the same way.
    void Command1_Click(int index);
    void Command2_Click();
    void Timer1_Timer();
    void ListView1_MouseDown(Qt::MouseButton button, const QPoint &globalPos);
    void sm_Click();
    void endd_Click();
    void cxym_Click();
    void del_Click();
    void clear_Click();

signals:
    // Every write of the message panel, also those that the next write replaces at once.
    void messageWritten(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void setMessage(const QString &text);
    void updateClock();
    void setListControlsEnabled(bool enabled);
    void openSite(const QString &address);
    void endProgram(int status);

    void addDomain();
    void checkCodePage();
    void importList();
    void exportList();
    void runBatch();
    void runVersionCheck();

    Platform m_platform;
    Config m_config;
    DomainListModel m_model;

    DomainListView *ListView1 = nullptr;
    QPushButton *Command1[5] = {};
    QPushButton *Command2 = nullptr;
    QWidget *S1 = nullptr;
    QLabel *m_panels[3] = {};
    QTimer *Timer1 = nullptr;
    QTimer *m_clockTimer = nullptr;
    QMenu *m_menu = nullptr;
    QMenu *m_caozuo = nullptr;
    FileDialogSettings CommonDialog1;
    FileDialogSettings CommonDialog2;

    bool m_closing = false;
    bool m_askingToClose = false;
    bool m_versionCheckStarted = false;
    bool m_importing = false;
    // Checked once by load(): without the narrow code page import and export are refused.
    bool m_codePageMissing = false;
    // Depth of running queries (batch run or selected row); init must not undo their disabling.
    int m_queriesActive = 0;
};

} // namespace quernfold
