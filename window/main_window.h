#pragma once

#include "app/config.h"
#include "window/domain_list_view.h"
#include "app/result_history.h"
#include "app/run_texts.h"
#include "window/shown_rows_model.h"
#include "domainlist/domain_list_model.h"
#include "domainlist/list_undo.h"
#include "platform/dialogs.h"
#include "platform/http.h"
#include "platform/platform.h"

#include "lookup/lookup_run.h"
#include "store/results_store.h"
#include "update/post.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <memory>
#include <vector>

#include <deque>

class QActionGroup;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QMenu;
class QPushButton;
class QStatusBar;
class QTimer;

namespace quernfold {

class LookupRun;
class StoreMirror;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    MainWindow(const Platform &platform, const Config &config, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence: runs once, right after construction.
    void load();
    // Enables the four working buttons; leaves them alone while a query has them disabled.
    void enableWorkingButtons();
    // The list file named on the command line: imported as the import button does once its dialog has
    // chosen the file, with the same messages.
    void importListFile(const QString &path);

    DomainListModel &model() { return m_model; }
    // The rows as the list shows them: sorted, filtered, found.
    ShownRowsModel &shownModel() { return *m_shownModel; }
    // The rows shown, in the order shown (what an export of "the rows shown" writes).
    std::vector<RowKey> shownKeys() const;
    // The selected rows, in list order.
    std::vector<RowKey> selectedKeys() const;
    // Selects these rows (those shown), as a user's clicks would.
    void selectRows(const std::vector<RowKey> &rows);
    // Writes the window's size and the column widths to the settings file, for the next start.
    void saveWindowState() const;
    QString message() const;
    // True once the user (or the version check) has ended the program; nothing may touch the list after.
    bool isClosing() const { return m_closing; }
    // A batch run or a selected-row query is going on.
    bool isQuerying() const { return m_runKind != RunKind::None; }
    // Finished lookups the history has not compared with their domains' earlier results yet.
    bool isComparing() const;
    // An export is being written off the window's thread; the list must not change until it is done.
    bool isExporting() const { return m_export != nullptr; }
    // The list's first selected row, or RowKey::None.
    RowKey selectedKey() const;

    // Rows in a row whose fetch failed, after their retries, before a batch run gives up on the site.
    static constexpr int kGiveUpAfterFailedRows = quernfold::kGiveUpAfterFailedRows;

    // The batch run's go-on flag: set when a run starts, cleared by the stop click or when the run gives up.
    bool keepBatchRunning() const { return m_keepBatchRunning; }

    // Handlers, public so that tests and the menus reach them the same way.
    // The buttons.
    void addDomain();
    void openCompanySite();
    void importList();
    void exportList();
    void openStudioSite();
    // Starts a batch run over the whole list, or asks the running one to stop.
    void startOrStopBatchQuery();
    // Every tick of the version-check timer; only the first one checks.
    void versionCheckTick();
    void showListMenuOnRightPress(Qt::MouseButton button, const QPoint &globalPos);
    // The program menu.
    void showAbout();
    void editQuerySettings();
    // Closes the window, which asks first.
    void askToExit();
    // Ends the program as a close does, without the question: the session is ending (a logout, kill, a container
    // stopped). Whatever the store has not written yet is written before the program is gone.
    void endWithoutQuestion();
    // The list's context menu.
    void querySelectedRow();
    void deleteSelectedRow();
    void clearList();
    void queryUnfinishedRows();
    // Ctrl+Z, 撤销: brings back what the last delete, clear or replacing import took out.
    void undoLastChange();
    int undoSteps() const { return m_undo.steps(); }
    // The program menu's 清除历史结果..: forgets every stored lookup result after asking.
    void clearHistory();
    // 查看历史..: the selected row's domain, every version the history keeps of it.
    void showHistoryOfSelectedRow();

    // True from start-up until the list kept from the last session is back (or declined): the list and its
    // buttons wait until then.
    bool isRestoring() const { return m_restoring; }
    // The results store, or nullptr when there is none.
    ResultsStore *resultsStore() const { return m_store.get(); }
    // Ctrl+C: the selected rows as tab-separated lines, seven cells each, for a spreadsheet.
    void copySelectedRows();
    // Ctrl+F: the find bar over the list's bottom edge.
    void showFindBar();
    void hideFindBar();
    // A click on a column header: sorts by it, a second click reverses, the ID column goes back to list order.
    void sortByColumn(int column);
    void showKind(ShownRowsModel::Kind kind);
    // The filter line's button: every row again, whatever kind or find text was chosen.
    void showAllRows();
    // Ctrl+V on the list and 粘贴域名: the clipboard's lines join the list as an append import's would.
    void pasteDomains();

signals:
    // Every write of the message panel, also those that the next write replaces at once.
    void messageWritten(const QString &text);
    // The list is settled after start-up (brought back, declined, or there was none): from now on every change
    // of it is saved.
    void listReady();
    // Every change of the list so far is in the results store's file.
    void listSaved();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void buildFindBar(QWidget *client);
    void buildRunProgress();
    // Puts every control where it belongs for the client area's size: the places drawn for the first size, the
    // list taking what the window gained.
    void placeControls();
    void restoreWindowState();
    // The columns as they start, before the settings file has its say.
    std::vector<ColumnPlan> startingColumns() const;
    void buildUndo();
    void buildHistoryAction();
    void updateUndoAction();
    void updateKindTexts();
    static QString kindLabel(ShownRowsModel::Kind kind);
    QString kindText(ShownRowsModel::Kind kind) const;
    void buildFilterLine(QWidget *client);
    // The line over the list that says what it shows, and the find bar's count of matches.
    void updateFilterLine();
    // Makes room for the filter line over the list while it shows.
    void placeFilterLine();
    void buildPasteAction();
    // The current row's key, or RowKey::None.
    RowKey currentKey() const;
    // After a sort, filter or find: the row that was current stays in view if it is still shown, else the list
    // shows its top.
    void showPlace(RowKey current);
    // Taken before a change of the shown rows; when it goes, the row that was current is kept in view.
    class PlaceKeeper
    {
    public:
        explicit PlaceKeeper(MainWindow *window)
            : m_window(window)
            , m_current(window->currentKey())
        { }
        ~PlaceKeeper() { m_window->showPlace(m_current); }
        PlaceKeeper(const PlaceKeeper &) = delete;
        PlaceKeeper &operator=(const PlaceKeeper &) = delete;

    private:
        MainWindow *m_window;
        RowKey m_current;
    };
    // Selects the rows added from `firstAdded` on (keys rise, so every newer key is theirs) and shows the first.
    void showAddedRows(RowKey firstAdded);
    // Lines of domains typed or pasted: cleaned, repeats dropped and appended as an append import does.
    void appendDomainLines(const QString &text, const QString &origin);
    void showPendingProgress();
    void updateRunProgress();
    void showRunSummary();
    // Counts the changed rows among the summary's rows again and writes the summary.
    void updateRunSummary();
    void setMessage(const QString &text);
    // A run's per-row progress text.
    void setProgressMessage(const QString &text);
    void updateClock();
    void setListControlsEnabled(bool enabled);
    void openSite(const QString &address);
    void endProgram(int status);

    void checkCodePage();
    void startExport(const QString &path, std::vector<RowKey> rows);
    void onExportFinished();
    LookupRun &lookupRun();
    // `reuse`: rows whose domain has a recent enough result in the history take it instead of asking the site.
    void runBatch(std::vector<RowKey> rows, bool reuse);
    void startLookups(std::vector<RowKey> rows);
    void takeHistoryPart(const QHash<QString, HistoryEntry> &part, bool complete);
    void onRowFinished(RowKey row);
    void openStore();
    void offerRestore(const ListCounts &counts);
    void finishRestore();
    void onStoreProblem(ResultsStore::Problem problem, const QString &reason);
    std::vector<int> selectedShownRows() const;
    bool lookupSiteIsSet();
    RunOptions runOptions(QueryMode mode) const;
    void onRowStarted(RowKey row);
    // The batch run has reached this row of m_runRows; the ones after it it has not.
    void noteRowReached(RowKey row);
    // Rows a stopped batch run never reached say so in their note.
    void markRowsNotReached();
    void onRunGaveUp(const QString &reason);
    void onRunFinished();
    void runVersionCheck();
    void onVersionReply(const PostResult &reply);
    void greet(const QString &text);

    Platform m_platform;
    Config m_config;
    DomainListModel m_model;

    ShownRowsModel *m_shownModel = nullptr;
    QWidget *m_client = nullptr;
    DomainListView *m_domainList = nullptr;
    QFrame *m_findBar = nullptr;
    QComboBox *m_kindBox = nullptr;
    QLineEdit *m_findField = nullptr;
    QMenu *m_kindMenu = nullptr;
    QActionGroup *m_kindActions = nullptr;
    QFrame *m_filterLine = nullptr;
    QLabel *m_filterText = nullptr;
    QLabel *m_findMatches = nullptr;
    // The filter line follows the counts at display rate.
    QTimer *m_filterLineTimer = nullptr;
    QTimer *m_countsTimer = nullptr;
    QProgressBar *m_runProgress = nullptr;
    QLabel *m_runSummary = nullptr;
    QPushButton *m_addButton = nullptr;
    QPushButton *m_companySiteButton = nullptr;
    QPushButton *m_importButton = nullptr;
    QPushButton *m_exportButton = nullptr;
    QPushButton *m_studioSiteButton = nullptr;
    QPushButton *m_batchQueryButton = nullptr;
    QStatusBar *m_statusBar = nullptr;
    QLabel *m_messagePanel = nullptr;
    QLabel *m_clockPanel = nullptr;
    QTimer *m_versionCheckTimer = nullptr;
    QTimer *m_clockTimer = nullptr;
    QMenu *m_programMenu = nullptr;
    QMenu *m_listMenu = nullptr;
    FileDialogSettings m_importDialog;
    FileDialogSettings m_exportDialog;

    enum class RunKind { None, Batch, Selected };
    RunKind m_runKind = RunKind::None;
    bool m_keepBatchRunning = false;
    bool m_closing = false;
    bool m_askingToClose = false;
    bool m_versionCheckStarted = false;
    // Something has been written into the message panel since start-up.
    bool m_messageWritten = false;
    bool m_importing = false;
    QString m_pendingProgress;
    QTimer *m_progressTimer = nullptr;
    LookupRun *m_run = nullptr; // made on the first lookup
    // The batch run's rows, how many have started, since when, and (time, started) samples of the last ten seconds.
    std::vector<RowKey> m_runRows;
    int m_rowsStarted = 0;
    // How many of m_runRows the run has reached (started, or skipped as gone from the list).
    size_t m_runReached = 0;
    bool m_runStopped = false;
    QElapsedTimer m_runClock;
    std::deque<std::pair<qint64, int>> m_rateSamples;
    // The last batch run's summary while it shows: the rows the run reached and the texts either side of
    // "有变化N". The store compares results a moment after they arrive, so rows are still marked changed after the
    // run has ended, and the count follows them.
    std::vector<RowKey> m_summaryRows;
    QStringList m_summaryHead;
    QString m_summaryTail;
    QTimer *m_summaryTimer = nullptr;
    QString m_gaveUpReason;
    HttpClient::RequestId m_versionRequest = 0;
    QAction *m_querySettingsAction = nullptr;
    QAction *m_clearHistoryAction = nullptr;
    QAction *m_undoAction = nullptr;
    QAction *m_showHistoryAction = nullptr;
    ListUndo m_undo;
    // None when the configuration names no store. The mirror goes first, handing over what it still holds.
    std::unique_ptr<ResultsStore> m_store;
    std::unique_ptr<HistoryRecorder> m_history;
    std::unique_ptr<StoreMirror> m_mirror;
    bool m_restoring = false;
    // A list named on the command line, imported once the restore question is settled.
    QString m_pendingImport;
    // A batch run looking for reusable results in the history before it starts.
    std::unique_ptr<ReuseMatcher> m_reuse;
    // Checked once by load(): without the narrow code page import and export are refused.
    bool m_codePageMissing = false;
    // The export being written. Declared after the model it reads, so it is called off and waited for before
    // the model goes.
    class ExportTask;
    struct ExportTaskDeleter {
        void operator()(ExportTask *task) const;
    };
    std::unique_ptr<ExportTask, ExportTaskDeleter> m_export;
};

} // namespace quernfold
