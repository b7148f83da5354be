#include "support/list_sequence.h"

#include "support/scripted_platform.h"

#include "app/run_texts.h"
#include "domainlist/filing_change.h"
#include "window/reading_order.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QIdentityProxyModel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <deque>
#include <random>

using namespace Qt::StringLiterals;

namespace quernfold::test {

namespace {

const QString kDone = u"查询完毕"_s;
const QString kQuerying = u"查询中"_s;
const QString kFailed = u"查询失败"_s;
const QString kNotReachedNote = u"未查询(已停止)"_s;
const QString kNoRecord = u"无记录"_s;
const QString kDeleted = u"备案已被删除"_s;
const QString kUnknown = u"未知"_s;

using Kind = ShownRowsModel::Kind;

// Most steps pick among the first domains, so that repeats are common; a big import reaches them all.
constexpr int kSmallPool = 450;
constexpr int kBigPool = 4000;

// Texts the steps pick from: few enough that texts repeat (ties in every sort), with digits to order by value,
// letters in both cases and in full width, Chinese in pinyin order, and cells a spreadsheet would take for formulas.
const QStringList &domainPool()
{
    static const QStringList pool = [] {
        const QStringList prefixes
            = { u"a"_s, u"b"_s, u"rec-"_s, u"site"_s, u"x-y"_s, u"星辰"_s, u"阿里"_s, u"zz"_s, u"q"_s };
        const QStringList suffixes = { u".cn"_s, u".com"_s, u".net"_s, u".com.cn"_s, u".org"_s };
        QStringList domains;
        for (int i = 0; i < kBigPool; ++i)
            domains << prefixes[i % prefixes.size()] + QString::number(i / prefixes.size()) + suffixes[i % 5];
        return domains;
    }();
    return pool;
}

const QStringList kRecordNos = { u"京ICP备1号"_s, u"京ICP备12号"_s, u"沪ICP备2号-1"_s, u"粤B2-20209"_s, u"icp10"_s,
    u"ICP9"_s, u"=1+2"_s, u"'quoted"_s, u"-dash"_s };
const QStringList kHolders = { u"张三"_s, u"李四"_s, u"王五"_s, u"阿里"_s, u"Alpha Ltd"_s, u"alpha ltd"_s, u"ALPHA"_s,
    u"星辰科技"_s, u"site10"_s, u"site9"_s, u"ｓｉｔｅ１２"_s, kUnknown, u"@home"_s, u"tab\there"_s, u"Ärger"_s };
const QStringList kTypes = { u"企业"_s, u"个人"_s, u"政府机关"_s, u"事业单位"_s, kUnknown };
const QStringList kSiteNames = { u"星辰官网"_s, u"Blog"_s, u"blog"_s, u"站3"_s, u"站１２"_s, u"Site9"_s, u"site10"_s,
    u"阿里云"_s, kUnknown, u"+HYPERLINK"_s, u"two\nlines"_s, u"ärger"_s };
// What the store could say changed, a few of them alike but for their ends, so sorts by them tie and part.
const QStringList kChanges = { u"新备案"_s, u"备案已注销"_s, u"备案人变更"_s, u"备案号变更"_s,
    u"备案号变更、备案人变更"_s, u"网站名称变更、备案类型变更"_s };
const QStringList kFailureNotes = { u"无法连接(连接被拒绝)"_s, u"连接中断,已重试2次"_s, u"空页面"_s,
    u"HTTP 状态 503"_s, QString() };
const QStringList kFindTexts = { u"a"_s, u"A"_s, u"1"_s, u"12"_s, u"rec"_s, u"REC-"_s, u"cn"_s, u".com"_s, u"张"_s,
    u"ICP"_s, u"备"_s, u"ｓｉ"_s, u"SITE"_s, u"site1"_s, u"星"_s, u"阿里"_s, u"-"_s, u"无"_s, u"未知"_s, u"alpha"_s,
    u"B2"_s, u"blog"_s, u"的主人"_s, u"号"_s, u"zz"_s, u"ä"_s, u"Ä"_s };
const QString kNarrowingChars = u"a1.-c张o号"_s;

// What the site says about a domain in a run, by a hash of the domain and the run's own number.
enum class SiteAnswer { Record, NoRecord, Deleted, EmptyPage, Refused, Unavailable, Count };

quint32 textHash(const QString &text, quint32 salt)
{
    quint32 hash = 2166136261u ^ salt;
    for (const QChar c : text)
        hash = (hash ^ c.unicode()) * 16777619u;
    return hash;
}

QString upperAscii(QString text)
{
    for (QChar &c : text) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 32);
    }
    return text;
}

// A cell as our CSV must hold it: an apostrophe before what a spreadsheet would run.
QString csvField(const QString &cell)
{
    static const QString risky = u"=+-@\t\r'"_s;
    return !cell.isEmpty() && risky.contains(cell.front()) ? u"'"_s + cell : cell;
}

// RFC 4180, as plainly as it reads.
std::vector<QStringList> readCsv(const QString &text)
{
    std::vector<QStringList> records;
    QStringList record;
    QString field;
    bool inQuotes = false;
    bool any = false;
    const auto endRecord = [&] {
        record << field;
        records.push_back(record);
        record.clear();
        field.clear();
        any = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (inQuotes) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += c;
                ++i;
            } else if (c == u'"') {
                inQuotes = false;
            } else {
                field += c;
            }
        } else if (c == u'"' && field.isEmpty()) {
            inQuotes = true;
            any = true;
        } else if (c == u',') {
            record << field;
            field.clear();
            any = true;
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            endRecord();
        } else {
            field += c;
            any = true;
        }
    }
    if (any)
        endRecord();
    return records;
}

// A row as the reference keeps it.
struct RefRow {
    RowKey key = RowKey::None;
    QString domain;
    // 备案号, 备案人, 备案类型, 网站名称, 查询状态
    std::array<QString, 5> cells;
    QString note;
    // What changed since the domain's earlier result, as the store marked it.
    QString change;
    // The change came from the history's own comparison, so the store brings it back with the row.
    bool changeKept = false;
    // A stopped run never reached the row: its note says so while it has none of its own.
    bool notReached = false;

    QString shownNote() const { return note.isEmpty() && notReached ? kNotReachedNote : note; }
    const QString &text(int column) const
    {
        return column == DomainListModel::DomainColumn ? domain
            : column == DomainListModel::ChangeColumn  ? change
                                                       : cells[column - 2];
    }
};

// The columns the list and its shown rows are compared by: the seven every row has, and 变化.
constexpr std::array<int, 8> kComparedColumns = { DomainListModel::IdColumn, DomainListModel::DomainColumn,
    DomainListModel::RecordNoColumn, DomainListModel::HolderColumn, DomainListModel::RecordTypeColumn,
    DomainListModel::SiteNameColumn, DomainListModel::StatusColumn, DomainListModel::ChangeColumn };

// The list and its view written the obvious way: a vector of rows, filtered and sorted afresh whenever asked.
struct Reference {
    std::vector<RefRow> rows;
    int sortColumn = -1;
    Qt::SortOrder order = Qt::AscendingOrder;
    Kind kind = Kind::All;
    QString find;
    QHash<QString, std::string> readingKeys;

    static bool isOfKind(const RefRow &row, Kind kind)
    {
        const QString &recordNo = row.cells[0];
        switch (kind) {
        case Kind::All:
            return true;
        case Kind::Found:
            return !recordNo.isEmpty() && recordNo != kNoRecord && recordNo != kDeleted;
        case Kind::NoRecord:
            return recordNo == kNoRecord;
        case Kind::Deleted:
            return recordNo == kDeleted;
        case Kind::Unfinished:
            return row.cells[4] != kDone;
        case Kind::Changed:
            return !row.change.isEmpty();
        }
        return false;
    }
    bool matches(const RefRow &row) const
    {
        if (!isOfKind(row, kind))
            return false;
        if (find.isEmpty())
            return true;
        return row.domain.contains(find, Qt::CaseInsensitive) || row.cells[0].contains(find, Qt::CaseInsensitive)
            || row.cells[1].contains(find, Qt::CaseInsensitive) || row.cells[3].contains(find, Qt::CaseInsensitive);
    }
    // Positions of the rows shown, in the order shown.
    std::vector<int> shown()
    {
        std::vector<int> positions;
        for (int i = 0; i < int(rows.size()); ++i) {
            if (matches(rows[size_t(i)]))
                positions.push_back(i);
        }
        if (sortColumn <= 0)
            return positions;
        std::vector<std::pair<std::string, int>> keyed;
        for (const int position : positions) {
            const QString &text = rows[size_t(position)].text(sortColumn);
            auto found = readingKeys.constFind(text);
            if (found == readingKeys.cend())
                found = readingKeys.insert(text, readingKey(text));
            keyed.emplace_back(*found, position);
        }
        const bool descending = order == Qt::DescendingOrder;
        std::stable_sort(keyed.begin(), keyed.end(),
            [descending](const auto &a, const auto &b) { return descending ? b.first < a.first : a.first < b.first; });
        for (size_t i = 0; i < keyed.size(); ++i)
            positions[i] = keyed[i].second;
        return positions;
    }
    int count(Kind k) const
    {
        return int(std::count_if(rows.begin(), rows.end(), [k](const RefRow &row) { return isOfKind(row, k); }));
    }
    int positionOf(const QString &domain) const
    {
        for (int i = 0; i < int(rows.size()); ++i) {
            if (rows[size_t(i)].domain == domain)
                return i;
        }
        return -1;
    }
    int positionOf(RowKey key) const
    {
        for (int i = 0; i < int(rows.size()); ++i) {
            if (rows[size_t(i)].key == key)
                return i;
        }
        return -1;
    }
    QString cell(int position, int column) const
    {
        return column == DomainListModel::IdColumn ? QString::number(position + 1) : rows[size_t(position)].text(column);
    }
};

// The model as QAbstractItemModelTester sees it: the same rows and signals, with the domain in the first column.
// The tester takes the first column's text as a row's identity across insertions and removals, and our first column
// is the row's place in the list, which a removal above it changes by design.
class DomainFirst : public QIdentityProxyModel
{
public:
    explicit DomainFirst(QAbstractItemModel *source)
    {
        setSourceModel(source);
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (index.isValid() && index.column() == DomainListModel::IdColumn)
            return QIdentityProxyModel::data(index.siblingAtColumn(DomainListModel::DomainColumn), role);
        return QIdentityProxyModel::data(index, role);
    }
};

// Where QAbstractItemModelTester's warnings go while a sequence collects them.
QStringList *g_collected = nullptr;
QtMessageHandler g_previousHandler = nullptr;

void collectTesterWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (g_collected && context.category && QByteArrayView(context.category).startsWith("qt.modeltest")) {
        *g_collected << text;
        return;
    }
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

class Sequence
{
public:
    explicit Sequence(TesterMode mode)
        : m_mode(mode)
    {
        if (m_mode == TesterMode::Collect) {
            g_collected = &m_testerWarnings;
            g_previousHandler = qInstallMessageHandler(collectTesterWarnings);
        }
    }
    ~Sequence()
    {
        closeWindow(false);
        if (m_mode == TesterMode::Collect) {
            qInstallMessageHandler(g_previousHandler);
            g_collected = nullptr;
        }
    }

    SequenceResult run(const std::vector<Step> &steps)
    {
        if (!m_dir.isValid())
            fail(u"setup"_s, u"no temporary folder"_s);
        if (m_result.failed)
            return m_result;
        openWindow();
        for (size_t i = 0; i < steps.size() && !m_result.failed; ++i) {
            m_stepIndex = int(i);
            perform(steps[i]);
            QCoreApplication::processEvents();
            if (!m_result.failed)
                afterStep();
        }
        return m_result;
    }

private:
    bool fail(const QString &check, const QString &message)
    {
        if (!m_result.failed) {
            m_result.failed = true;
            m_result.failedStep = m_stepIndex;
            m_result.check = check;
            m_result.message = message;
        }
        return false;
    }
    bool expectMessage(const QString &expected)
    {
        const QString shown = m_w->window->message();
        return shown == expected || fail(u"message"_s, u"the panel says \"%1\", not \"%2\""_s.arg(shown, expected));
    }

    MainWindow &window() { return *m_w->window; }
    DomainListModel &model() { return m_w->window->model(); }
    DomainListView &view() { return *m_w->find<DomainListView>(u"ListView1"_s); }

    Config config() const
    {
        Config config;
        config.storePath = m_dir.filePath(u"quernfold.db"_s);
        config.settings.effective.lookupBase = u"http://127.0.0.1:9"_s; // never reached: the site is scripted
        config.settings.effective.parallel = 3;
        config.settings.effective.retries = 0;
        config.settings.effective.reuseDays = 0;
        config.historyBurstMs = 0;
        return config;
    }

    void openWindow()
    {
        m_http = std::make_unique<ScriptedHttp>();
        // Requests are held until a step answers them.
        m_http->answer = [](const HttpRequest &) { return std::nullopt; };
        m_requestsSeen = 0;
        m_w = std::make_unique<ScriptedWindow>(m_http.get(), config());
        const auto testerMode = m_mode == TesterMode::QtTest
            ? QAbstractItemModelTester::FailureReportingMode::QtTest
            : QAbstractItemModelTester::FailureReportingMode::Warning;
        m_listProxy = std::make_unique<DomainFirst>(&model());
        m_shownProxy = std::make_unique<DomainFirst>(&window().shownModel());
        m_listTester = std::make_unique<QAbstractItemModelTester>(m_listProxy.get(), testerMode);
        m_shownTester = std::make_unique<QAbstractItemModelTester>(m_shownProxy.get(), testerMode);
        m_saved = true;
        DomainListModel *list = &model();
        const auto changed = [this] { m_saved = false; };
        QObject::connect(list, &QAbstractItemModel::rowsInserted, list, changed);
        QObject::connect(list, &QAbstractItemModel::rowsRemoved, list, changed);
        QObject::connect(list, &QAbstractItemModel::modelReset, list, changed);
        QObject::connect(list, &QAbstractItemModel::dataChanged, list, changed);
        QObject::connect(m_w->window.get(), &MainWindow::listSaved, list, [this] { m_saved = true; });

        int finished = 0;
        for (const RefRow &row : m_ref.rows)
            finished += row.cells[4] == kDone;
        if (!m_ref.rows.empty())
            m_w->dialogs.messageAnswers << MessageAnswer::Yes;
        QSignalSpy ready(m_w->window.get(), &MainWindow::listReady);
        window().load();
        if (!QTest::qWaitFor([&] { return ready.count() > 0; }, 20000)) {
            fail(u"restore"_s, u"the window never settled the last session's list"_s);
            return;
        }
        if (!m_ref.rows.empty()) {
            const QString expected = u"上次关闭时列表中有%1个域名(其中%2个已查询完毕),是否恢复?"_s
                                         .arg(m_ref.rows.size())
                                         .arg(finished);
            if (m_w->dialogs.boxes.isEmpty() || m_w->dialogs.boxes.first().text != expected) {
                fail(u"restore"_s, u"asked %1 instead of \"%2\""_s.arg(boxTexts(), expected));
                return;
            }
        }
        m_w->dialogs.boxes.clear();
        // The rows brought back are what the store holds.
        m_saved = true;
        // A new window: its own keys, list order, no filter.
        m_maxKey = RowKey::None;
        m_removedKeys.clear();
        m_ref.sortColumn = -1;
        m_ref.kind = Kind::All;
        m_ref.find.clear();
        if (model().count() == int(m_ref.rows.size())) {
            for (int i = 0; i < model().count(); ++i) {
                if (!adoptKey(m_ref.rows[size_t(i)], model().keyAt(i)))
                    return;
            }
        }
    }

    void closeWindow(bool check)
    {
        if (!m_w)
            return;
        if (check) {
            // Whatever the list went through is in the file before the window goes.
            if (!QTest::qWaitFor([this] { return m_saved; }, 20000)) {
                fail(u"store"_s, u"the list was never saved"_s);
                return;
            }
            m_w->dialogs.messageAnswers << MessageAnswer::Yes;
            window().close();
            if (m_w->quitStatuses != QList<int> { 0 }) {
                fail(u"questions"_s, u"closing the window did not end the program"_s);
                return;
            }
        }
        m_shownTester.reset();
        m_listTester.reset();
        m_shownProxy.reset();
        m_listProxy.reset();
        m_w.reset();
        m_http.reset();
        m_runActive = false;
        m_runQueue.clear();
    }

    QString boxTexts() const
    {
        QStringList texts;
        for (const AskedBox &box : m_w->dialogs.boxes)
            texts << u"\""_s + box.text + u"\""_s;
        return texts.isEmpty() ? u"nothing"_s : texts.join(u", "_s);
    }

    bool adoptKey(RefRow &row, RowKey key)
    {
        if (key <= m_maxKey)
            return fail(u"keys"_s,
                u"row %1 got key %2, not above %3 handed out before"_s.arg(row.domain)
                    .arg(keyValue(key))
                    .arg(keyValue(m_maxKey)));
        row.key = key;
        m_maxKey = key;
        return true;
    }

    void forget(const RefRow &row)
    {
        m_removedKeys.push_back(row.key);
        if (m_removedKeys.size() > 64)
            m_removedKeys.pop_front();
    }

    // The selected rows of the view as places in the order shown; each must name a row shown.
    bool selectedShownRows(std::vector<int> &rows)
    {
        rows.clear();
        for (const QItemSelectionRange &range : view().selectionModel()->selection()) {
            for (int row = range.top(); row <= range.bottom(); ++row)
                rows.push_back(row);
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        const int shown = int(m_ref.shown().size());
        if (!rows.empty() && (rows.front() < 0 || rows.back() >= shown))
            return fail(u"selection"_s, u"row %1 is selected of %2 shown"_s.arg(rows.back()).arg(shown));
        return true;
    }

    void select(const std::vector<int> &shownRows)
    {
        QItemSelection selection;
        const QAbstractItemModel *shown = view().model();
        for (const int row : shownRows)
            selection.select(shown->index(row, 0), shown->index(row, DomainListModel::ColumnCount - 1));
        view().selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    // Distinct places among `n`, `count` of them, drawn from `seed`.
    static std::vector<int> pick(int n, int count, quint32 seed)
    {
        std::vector<int> all(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            all[size_t(i)] = i;
        std::mt19937 random(seed);
        std::shuffle(all.begin(), all.end(), random);
        all.resize(size_t(std::min(n, count)));
        std::sort(all.begin(), all.end());
        return all;
    }

    void perform(const Step &step)
    {
        Op op = step.op;
        // While a run has the list locked, the user can only watch, sort, filter and find; the site answers.
        if (m_runActive) {
            switch (op) {
            case Op::Add:
            case Op::Import:
            case Op::ImportExported:
            case Op::Select:
            case Op::Delete:
            case Op::Clear:
            case Op::Copy:
            case Op::Export:
            case Op::Run:
                op = Op::Answer;
                break;
            case Op::Stop:
                if (!m_runIsBatch)
                    op = Op::Answer;
                break;
            default:
                break;
            }
        } else if (op == Op::Answer || op == Op::Stop) {
            op = Op::Result;
        }
        switch (op) {
        case Op::Add:
            return add(step);
        case Op::Import:
            return importLines(step);
        case Op::ImportExported:
            return importExported(step);
        case Op::Select:
            return selectRows(step);
        case Op::Delete:
            return deleteSelected(step);
        case Op::Clear:
            return clear(step);
        case Op::Result:
            return writeResults(step);
        case Op::Run:
            return startRun(step);
        case Op::Answer:
            return answer(step);
        case Op::Stop:
            return stop();
        case Op::Sort:
            return sort(step);
        case Op::Kind:
            return showKind(step);
        case Op::Find:
            return find(step);
        case Op::Copy:
            return copy();
        case Op::Export:
            return exportShown();
        case Op::Restart:
            closeWindow(true);
            // A change the history worked out comes back with its earlier version; one made up here has none.
            for (RefRow &row : m_ref.rows) {
                if (!row.changeKept)
                    row.change.clear();
            }
            if (!m_result.failed)
                openWindow();
            return;
        case Op::Count:
            return;
        }
    }

    void add(const Step &step)
    {
        const quint32 variant = step.a % 20;
        const QString domain = domainPool()[int(step.b % kSmallPool)];
        std::optional<QString> typed;
        QString expected;
        if (variant == 0) {
            expected = u"已取消.."_s;
        } else if (variant == 1) {
            typed = QString();
            expected = u"请输入域名.."_s;
        } else if (variant == 2 || variant == 3) {
            typed = variant == 2 ? u"bad domain.cn"_s : u"zz.xyz"_s;
            expected = u"域名不正确,您请检查.."_s;
        } else {
            const QString decorated[] = { domain, u"  "_s + domain + u" "_s, u"http://"_s + upperAscii(domain) + u"/path"_s,
                u"https://"_s + domain + u":8080/?q=1#x"_s };
            typed = decorated[step.c % 4];
            expected = m_ref.positionOf(domain) >= 0 ? u"该域名已在列表中.."_s : u"域名添加成功.."_s;
        }
        m_w->dialogs.inputAnswers << typed;
        window().addDomain();
        if (expected == u"域名添加成功.."_s) {
            RefRow row;
            row.domain = domain;
            if (model().count() != int(m_ref.rows.size()) + 1) {
                fail(u"list"_s, u"adding %1 did not add one row"_s.arg(domain));
                return;
            }
            if (!adoptKey(row, model().keyAt(model().count() - 1)))
                return;
            m_ref.rows.push_back(row);
        }
        expectMessage(expected);
    }

    // The append-or-replace question, when the list holds rows: Yes appends, No replaces, Cancel keeps the list.
    std::optional<MessageAnswer> importAnswer(quint32 choice)
    {
        if (m_ref.rows.empty())
            return std::nullopt;
        const quint32 pick = choice % 8;
        return pick == 0 ? MessageAnswer::Cancel : pick <= 2 ? MessageAnswer::No : MessageAnswer::Yes;
    }

    // Puts the rows an import brings into the reference: dropped repeats, the keys the list gave them, the message.
    void takeImported(std::vector<RefRow> incoming, int skipped, std::optional<MessageAnswer> answer)
    {
        if (answer == MessageAnswer::Cancel) {
            expectMessage(u"已取消.."_s);
            return;
        }
        const bool append = answer == MessageAnswer::Yes;
        QSet<QString> seen;
        if (append) {
            for (const RefRow &row : m_ref.rows)
                seen.insert(row.domain);
        } else {
            for (const RefRow &row : m_ref.rows)
                forget(row);
            m_ref.rows.clear();
        }
        std::vector<RefRow> kept;
        for (RefRow &row : incoming) {
            if (seen.contains(row.domain)) {
                ++skipped;
                continue;
            }
            seen.insert(row.domain);
            kept.push_back(std::move(row));
        }
        const int first = int(m_ref.rows.size());
        if (model().count() != first + int(kept.size())) {
            fail(u"list"_s, u"the import left %1 rows, not %2"_s.arg(model().count()).arg(first + int(kept.size())));
            return;
        }
        for (size_t i = 0; i < kept.size(); ++i) {
            if (!adoptKey(kept[i], model().keyAt(first + int(i))))
                return;
            m_ref.rows.push_back(kept[i]);
        }
        QString message = u"导入完毕，共导入%1个域名。"_s.arg(kept.size());
        if (skipped > 0)
            message += u"跳过%1行(重复或不是域名)。"_s.arg(skipped);
        expectMessage(message);
    }

    void importLines(const Step &step)
    {
        // Now and then a list far longer than the rest.
        const bool big = step.a % 40 == 0;
        const int lines = big ? 500 + int(step.c % 2000) : 1 + int(step.c % 40);
        std::mt19937 random(step.b);
        QStringList text;
        std::vector<RefRow> incoming;
        int skipped = 0;
        const QStringList junk = { u"bad domain.cn"_s, u"-bad.cn"_s, u"a..cn"_s, QString(64, u'x') + u".cn"_s };
        for (int i = 0; i < lines; ++i) {
            const quint32 roll = random() % 100;
            if (roll < 6) {
                text << junk[int(random() % 4)];
                ++skipped;
                continue;
            }
            if (roll < 10) {
                text << QString();
                continue;
            }
            RefRow row;
            row.domain = domainPool()[int(random() % (big ? kBigPool : kSmallPool))];
            const QString decorated[] = { row.domain, u" "_s + upperAscii(row.domain) + u"\t"_s,
                u"http://user@"_s + upperAscii(row.domain) + u":80/x?y#z"_s, u"www."_s + row.domain,
                row.domain + u"."_s };
            text << decorated[random() % 5];
            incoming.push_back(row);
        }
        const QString path = m_dir.filePath(u"import-%1.txt"_s.arg(m_files++));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            fail(u"setup"_s, u"cannot write %1"_s.arg(path));
            return;
        }
        file.write(text.join(step.a % 3 == 1 ? u"\r\n"_s : u"\n"_s).toUtf8());
        file.close();
        const std::optional<MessageAnswer> answer = importAnswer(step.a / 40);
        if (answer)
            m_w->dialogs.messageAnswers << *answer;
        window().importListFile(path);
        takeImported(std::move(incoming), skipped, answer);
    }

    void importExported(const Step &step)
    {
        if (m_lastExportPath.isEmpty())
            return;
        const std::optional<MessageAnswer> answer = importAnswer(step.a);
        if (answer)
            m_w->dialogs.messageAnswers << *answer;
        window().importListFile(m_lastExportPath);
        takeImported(m_lastExport, 0, answer);
    }

    void selectRows(const Step &step)
    {
        const int shown = int(m_ref.shown().size());
        const quint32 mode = step.a % 6;
        if (mode == 0) {
            QTest::keyClick(&view(), Qt::Key_A, Qt::ControlModifier);
            return;
        }
        if (mode == 1 || shown == 0) {
            view().selectionModel()->clearSelection();
            return;
        }
        if (mode <= 3) {
            const int first = int(step.b % quint32(shown));
            std::vector<int> rows;
            for (int row = first; row < shown && row <= first + int(step.c % 10); ++row)
                rows.push_back(row);
            select(rows);
            return;
        }
        select(pick(shown, 1 + int(step.c % 6), step.b));
    }

    void deleteSelected(const Step &step)
    {
        std::vector<int> selected;
        if (!selectedShownRows(selected))
            return;
        const std::vector<int> shown = m_ref.shown();
        const bool yes = step.a % 4 != 0;
        if (selected.size() > 1)
            m_w->dialogs.messageAnswers << (yes ? MessageAnswer::Yes : MessageAnswer::No);
        QTest::keyClick(&view(), Qt::Key_Delete);
        if (selected.empty()) {
            expectMessage(u"请选择要删除的域名.."_s);
            return;
        }
        if (selected.size() > 1 && !yes)
            return;
        std::vector<int> positions;
        for (const int row : selected)
            positions.push_back(shown[size_t(row)]);
        std::sort(positions.begin(), positions.end());
        const QString expected = selected.size() == 1
            ? m_ref.rows[size_t(positions.front())].domain + u"删除成功.."_s
            : u"已删除%1个域名.."_s.arg(groupedNumber(qint64(selected.size())));
        for (auto position = positions.rbegin(); position != positions.rend(); ++position) {
            forget(m_ref.rows[size_t(*position)]);
            m_ref.rows.erase(m_ref.rows.begin() + *position);
        }
        expectMessage(expected);
    }

    void clear(const Step &step)
    {
        const bool yes = step.a % 4 != 0;
        m_w->dialogs.messageAnswers << (yes ? MessageAnswer::Yes : MessageAnswer::No);
        window().clearList();
        if (!yes)
            return;
        for (const RefRow &row : m_ref.rows)
            forget(row);
        m_ref.rows.clear();
        expectMessage(u"列表已清空.."_s);
    }

    // One to three rows learn an outcome, written by key as a run writes it; now and then a row that has left.
    void writeResults(const Step &step)
    {
        std::mt19937 random(step.b);
        const int writes = 1 + int(step.a % 3);
        for (int i = 0; i < writes && !m_result.failed; ++i) {
            RefRow *row = nullptr;
            RowKey key = RowKey::None;
            if (random() % 12 == 0 && !m_removedKeys.empty()) {
                key = m_removedKeys[random() % m_removedKeys.size()];
            } else if (!m_ref.rows.empty()) {
                row = &m_ref.rows[random() % m_ref.rows.size()];
                key = row->key;
            } else {
                return;
            }
            const quint32 outcome = random() % 10;
            bool written = false;
            if (outcome <= 5 || outcome == 9) {
                std::array<QString, 5> cells;
                if (outcome == 4 || outcome == 5) {
                    cells = { outcome == 4 ? kNoRecord : kDeleted, kUnknown, kUnknown, kUnknown, kDone };
                } else {
                    cells = { kRecordNos[int(random() % quint32(kRecordNos.size()))],
                        kHolders[int(random() % quint32(kHolders.size()))], kTypes[int(random() % quint32(kTypes.size()))],
                        kSiteNames[int(random() % quint32(kSiteNames.size()))], kDone };
                }
                written = model().setLookupResult(key, { cells[0], cells[1], cells[2], cells[3] }, kDone);
                if (row) {
                    row->cells = cells;
                    row->note.clear();
                    row->change.clear();
                    row->changeKept = false;
                    row->notReached = false;
                }
            } else {
                const QString note = kFailureNotes[int(random() % quint32(kFailureNotes.size()))];
                written = model().setStatus(key, kQuerying, note);
                if (row) {
                    row->cells[4] = kQuerying;
                    row->note = note;
                    row->change.clear();
                    row->changeKept = false;
                    row->notReached = false;
                }
            }
            if (written != (row != nullptr))
                fail(u"list"_s,
                    u"a write by key %1 %2"_s.arg(keyValue(key)).arg(written ? u"reached a row that left"_s
                                                                             : u"missed a listed row"_s));
            // Now and then the store's comparison comes back, for this row whatever it holds by now.
            if (!m_result.failed && random() % 3 == 0)
                markChange(random, key, row);
        }
    }

    // The store says what changed with the row's result, or (without an earlier result) that nothing did. Only a
    // finished row takes it.
    void markChange(std::mt19937 &random, RowKey key, RefRow *row)
    {
        std::shared_ptr<PreviousResult> previous;
        if (random() % 6 != 0) {
            previous = std::make_shared<PreviousResult>();
            previous->record = { kRecordNos[int(random() % quint32(kRecordNos.size()))],
                kHolders[int(random() % quint32(kHolders.size()))], kTypes[int(random() % quint32(kTypes.size()))],
                kSiteNames[int(random() % quint32(kSiteNames.size()))] };
            previous->status = kDone;
            previous->lastConfirmed = 1767225600 + qint64(random() % 1000) * 86400;
        }
        const QString change = kChanges[int(random() % quint32(kChanges.size()))];
        const bool written = model().setChange(key, change, previous);
        const bool finished = row && row->cells[4] == kDone;
        if (written != finished) {
            fail(u"list"_s,
                u"the change for key %1 was %2"_s.arg(keyValue(key))
                    .arg(written ? u"taken by a row not finished"_s : u"refused by a finished row"_s));
            return;
        }
        if (finished) {
            row->change = previous ? change : QString();
            row->changeKept = false;
        }
    }

    // A finished lookup of a run goes to the history, which compares it with the domain's latest result: the
    // change it finds is what the row shows once the comparison is back.
    QString expectedChange(const RefRow &row)
    {
        QString change;
        const auto latest = m_versions.constFind(row.domain);
        if (latest != m_versions.cend() && *latest != row.cells) {
            PreviousResult before;
            before.record = { (*latest)[0], (*latest)[1], (*latest)[2], (*latest)[3] };
            before.status = (*latest)[4];
            change = changeText(before, FilingRecord { row.cells[0], row.cells[1], row.cells[2], row.cells[3] });
        }
        m_versions.insert(row.domain, row.cells);
        return change;
    }

    void startRun(const Step &step)
    {
        const std::vector<int> shown = m_ref.shown();
        if (shown.empty()) {
            view().selectionModel()->clearSelection();
            window().findChild<QAction *>(u"cxym"_s)->trigger();
            expectMessage(u"请选择要查询的域名.."_s);
            return;
        }
        const std::vector<int> chosen = pick(int(shown.size()), 1 + int(step.a % 6), step.b);
        select(chosen);
        m_runQueue.clear();
        std::vector<RowKey> keys;
        for (const int row : chosen)
            keys.push_back(m_ref.rows[size_t(shown[size_t(row)])].key);
        // The run goes in list order, whatever order the rows are shown in.
        std::sort(keys.begin(), keys.end());
        m_runQueue.assign(keys.begin(), keys.end());
        m_runSalt = step.c;
        m_runIsBatch = keys.size() > 1;
        m_runActive = true;
        m_runStopped = false;
        window().findChild<QAction *>(u"cxym"_s)->trigger();
        if (!window().isQuerying()) {
            fail(u"run"_s, u"查询域名 over %1 rows started no run"_s.arg(keys.size()));
            return;
        }
        if (!QTest::qWaitFor([this] { return !m_http->pendingIds().isEmpty() || !window().isQuerying(); }, 20000))
            fail(u"run"_s, u"the run asked nothing"_s);
    }

    static QString domainOf(const HttpRequest &request)
    {
        return request.url.path(QUrl::FullyDecoded).section(u'/', 2).chopped(5);
    }

    SiteAnswer siteAnswerFor(const QString &domain) const
    {
        return SiteAnswer(textHash(domain, m_runSalt) % quint32(SiteAnswer::Count));
    }

    void answer(const Step &step)
    {
        const QList<HttpClient::RequestId> pending = m_http->pendingIds();
        if (pending.isEmpty())
            return;
        const HttpClient::RequestId id = pending[int(step.a % quint32(pending.size()))];
        const QString domain = domainOf(m_http->requests.at(qsizetype(id - 1)));
        HttpResponse response;
        std::array<QString, 5> cells;
        QString note;
        bool finished = true;
        switch (siteAnswerFor(domain)) {
        case SiteAnswer::Record: {
            cells = { u"京ICP备%1号"_s.arg(domain.size()), domain + u"的主人"_s, u"企业"_s, domain + u"网站"_s, kDone };
            const QString page = u"<tbody id=\"table_tr\"><tr><td>1</td><td>"_s + cells[1] + u"</td><td>"_s + cells[2]
                + u"</td><td><a>"_s + cells[0] + u"</a></td><td>"_s + cells[3] + u"</td></tr>"_s;
            response = ScriptedHttp::reply(200, "text/html; charset=utf-8", page.toUtf8());
            break;
        }
        case SiteAnswer::NoRecord:
            cells = { kNoRecord, kUnknown, kUnknown, kUnknown, kDone };
            response = ScriptedHttp::reply(200, "text/html; charset=utf-8", u"<p>没有符合条件的记录</p>"_s.toUtf8());
            break;
        case SiteAnswer::Deleted:
            cells = { kDeleted, kUnknown, kUnknown, kUnknown, kDone };
            response = ScriptedHttp::reply(
                200, "text/html; charset=utf-8", QByteArrayLiteral("<td style=\"color:#CCCCCC;\">x</td>"));
            break;
        case SiteAnswer::EmptyPage:
            finished = false;
            note = u"空页面"_s;
            response = ScriptedHttp::reply(200, "text/html; charset=utf-8", {});
            break;
        case SiteAnswer::Refused:
            finished = false;
            note = u"无法连接(连接被拒绝)"_s;
            response = ScriptedHttp::failure(HttpFailure::Refused);
            break;
        case SiteAnswer::Unavailable:
        case SiteAnswer::Count:
            finished = false;
            note = u"HTTP 状态 503"_s;
            response = ScriptedHttp::reply(503, "text/html", QByteArrayLiteral("busy"));
            break;
        }
        const int position = m_ref.positionOf(domain);
        if (position >= 0) {
            RefRow &row = m_ref.rows[size_t(position)];
            // The run is through with the row either way: a failure it gives up on says so.
            if (finished) {
                row.cells = cells;
                row.note.clear();
            } else {
                row.cells[4] = kFailed;
                row.note = note;
            }
            row.change.clear();
            row.changeKept = false;
            row.notReached = false;
        }
        m_http->complete(id, std::move(response));
        // The history compares a finished row at once here, so the row shows its change before the next step.
        if (position >= 0 && finished) {
            RefRow &row = m_ref.rows[size_t(position)];
            row.change = expectedChange(row);
            row.changeKept = !row.change.isEmpty();
            const RowKey key = row.key;
            if (!QTest::qWaitFor(
                    [&] {
                    const DomainRow *shown = model().find(key);
                    return shown && shown->lookup && shown->lookup->status == kDone && !window().isComparing();
                }, 10000))
                fail(u"history"_s, u"the comparison of %1 never came back"_s.arg(row.domain));
        }
    }

    void stop()
    {
        m_w->find<QPushButton>(u"Command2"_s)->click();
        m_runStopped = true;
    }

    // Rows the run started since the last look: each the next of the rows asked for, and now "查询中".
    void followRun()
    {
        if (!m_runActive)
            return;
        for (; m_requestsSeen < m_http->requests.size(); ++m_requestsSeen) {
            const QString domain = domainOf(m_http->requests.at(m_requestsSeen));
            while (!m_runQueue.empty() && m_ref.positionOf(m_runQueue.front()) < 0)
                m_runQueue.pop_front();
            if (m_runQueue.empty()) {
                fail(u"run"_s, u"%1 was asked for after the rows chosen"_s.arg(domain));
                return;
            }
            RefRow &row = m_ref.rows[size_t(m_ref.positionOf(m_runQueue.front()))];
            m_runQueue.pop_front();
            if (row.domain != domain) {
                fail(u"run"_s, u"%1 was asked for instead of %2"_s.arg(domain, row.domain));
                return;
            }
            row.cells[4] = kQuerying;
            row.note.clear();
            row.change.clear();
            row.changeKept = false;
            row.notReached = false;
        }
        if (!m_http->pendingIds().isEmpty())
            return;
        if (!QTest::qWaitFor([this] { return !window().isQuerying(); }, 20000)) {
            fail(u"run"_s, u"the run did not end with nothing left to answer"_s);
            return;
        }
        m_runActive = false;
        // Rows a stopped run never reached say so, unless they hold a finished result.
        if (m_runStopped) {
            for (const RowKey key : m_runQueue) {
                const int position = m_ref.positionOf(key);
                if (position >= 0 && m_ref.rows[size_t(position)].cells[4] != kDone)
                    m_ref.rows[size_t(position)].notReached = true;
            }
            m_runQueue.clear();
        }
        // A run nobody stopped starts every row chosen that is still there.
        while (!m_runQueue.empty() && m_ref.positionOf(m_runQueue.front()) < 0)
            m_runQueue.pop_front();
        if (!m_runQueue.empty()) {
            fail(u"run"_s,
                u"the run ended before %1"_s.arg(m_ref.rows[size_t(m_ref.positionOf(m_runQueue.front()))].domain));
            return;
        }
    }

    void sort(const Step &step)
    {
        // Now and then by 变化, which lies beyond the seven.
        const int column
            = step.c % 10 == 9 ? int(DomainListModel::ChangeColumn) : int(step.a % DomainListModel::BaseColumnCount);
        window().sortByColumn(column);
        if (column == DomainListModel::IdColumn) {
            m_ref.sortColumn = -1;
            return;
        }
        m_ref.order = m_ref.sortColumn == column && m_ref.order == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                                      : Qt::AscendingOrder;
        m_ref.sortColumn = column;
    }

    void showKind(const Step &step)
    {
        // Every row shown half of the time, one kind alone the other half.
        const quint32 kind = step.a % (2 * ShownRowsModel::KindCount - 2);
        m_ref.kind = kind < ShownRowsModel::KindCount ? Kind(kind) : Kind::All;
        window().showKind(m_ref.kind);
    }

    void find(const Step &step)
    {
        QString text = m_ref.find;
        const quint32 mode = step.a % 10;
        if (mode < 2)
            text += kNarrowingChars[int(step.b % quint32(kNarrowingChars.size()))];
        else if (mode < 4)
            text.chop(1);
        else if (mode < 7)
            text = kFindTexts[int(step.b % quint32(kFindTexts.size()))];
        else
            text.clear();
        m_ref.find = text;
        m_w->find<QLineEdit>(u"findText"_s)->setText(text);
    }

    void copy()
    {
        std::vector<int> selected;
        if (!selectedShownRows(selected))
            return;
        const qsizetype before = m_w->clipboard.texts.size();
        QTest::keyClick(&view(), Qt::Key_C, Qt::ControlModifier);
        if (selected.empty()) {
            if (m_w->clipboard.texts.size() != before)
                fail(u"clipboard"_s, u"nothing selected, yet \"%1\" was copied"_s.arg(m_w->clipboard.texts.last()));
            return;
        }
        const std::vector<int> shown = m_ref.shown();
        QString expected;
        for (const int row : selected) {
            QStringList cells;
            for (int column = 0; column < DomainListModel::BaseColumnCount; ++column) {
                QString cell = m_ref.cell(shown[size_t(row)], column);
                cells << cell.replace(u'\t', u' ').replace(u'\r', u' ').replace(u'\n', u' ');
            }
            expected += cells.join(u'\t') + u'\n';
        }
        if (m_w->clipboard.texts.size() != before + 1 || m_w->clipboard.texts.last() != expected)
            fail(u"clipboard"_s,
                u"copied \"%1\", not \"%2\""_s.arg(
                    m_w->clipboard.texts.size() == before ? u"nothing"_s : m_w->clipboard.texts.last(), expected));
    }

    void exportShown()
    {
        const std::vector<int> shown = m_ref.shown();
        if (shown.empty()) {
            window().exportList();
            expectMessage(u"没有可导出的内容"_s);
            return;
        }
        const QString path = m_dir.filePath(u"export-%1.csv"_s.arg(m_files++));
        m_w->dialogs.fileAnswers << path;
        window().exportList();
        if (!QTest::qWaitFor([this] { return !window().isExporting(); }, 20000)) {
            fail(u"export"_s, u"the export never finished"_s);
            return;
        }
        if (!expectMessage(u"保存成功!路径:%1 (已导出%2/%3行)"_s.arg(path, groupedNumber(qint64(shown.size())),
                groupedNumber(qint64(m_ref.rows.size())))))
            return;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            fail(u"export"_s, u"%1 was not written"_s.arg(path));
            return;
        }
        QByteArray bytes = file.readAll();
        if (!bytes.startsWith("\xEF\xBB\xBF")) {
            fail(u"export"_s, u"the CSV has no byte order mark"_s);
            return;
        }
        const std::vector<QStringList> records = readCsv(QString::fromUtf8(bytes.mid(3)));
        std::vector<QStringList> expected;
        expected.push_back({ u"ID"_s, u"域名"_s, u"备案号"_s, u"备案人"_s, u"备案类型"_s, u"网站名称"_s, u"查询状态"_s,
            u"说明"_s, u"变化"_s });
        m_lastExport.clear();
        for (const int position : shown) {
            const RefRow &row = m_ref.rows[size_t(position)];
            QStringList fields { QString::number(position + 1), csvField(row.domain) };
            for (const QString &cell : row.cells)
                fields << csvField(cell);
            fields << csvField(row.shownNote()) << csvField(row.change);
            expected.push_back(fields);
            m_lastExport.push_back(row);
            // A change read back from a file has no earlier version to lose: the store keeps it as its words.
            m_lastExport.back().changeKept = !row.change.isEmpty();
        }
        m_lastExportPath = path;
        for (size_t i = 0; i < std::max(records.size(), expected.size()); ++i) {
            const QStringList got = i < records.size() ? records[i] : QStringList { u"<none>"_s };
            const QStringList want = i < expected.size() ? expected[i] : QStringList { u"<none>"_s };
            if (got != want) {
                fail(u"export"_s, u"record %1 is [%2], not [%3]"_s.arg(i).arg(got.join(u'|'), want.join(u'|')));
                return;
            }
        }
    }

    void afterStep()
    {
        followRun();
        if (m_result.failed)
            return;
        if (m_mode == TesterMode::QtTest && QTest::currentTestFailed()) {
            fail(u"model tester"_s, u"QAbstractItemModelTester failed (see above)"_s);
            return;
        }
        if (!m_testerWarnings.isEmpty()) {
            fail(u"model tester"_s, m_testerWarnings.join(u"; "_s));
            return;
        }
        ScriptedDialogs &dialogs = m_w->dialogs;
        if (dialogs.unprepared > 0 || !dialogs.messageAnswers.isEmpty() || !dialogs.inputAnswers.isEmpty()
            || !dialogs.fileAnswers.isEmpty()) {
            fail(u"questions"_s,
                u"%1 unexpected questions, %2 expected ones not asked; asked %3"_s.arg(dialogs.unprepared)
                    .arg(dialogs.messageAnswers.size() + dialogs.inputAnswers.size() + dialogs.fileAnswers.size())
                    .arg(boxTexts()));
            return;
        }
        dialogs.boxes.clear();
        if (compareList())
            compareShown();
    }

    bool compareList()
    {
        const DomainListModel &list = model();
        if (list.count() != int(m_ref.rows.size()))
            return fail(u"list"_s, u"%1 rows, not %2"_s.arg(list.count()).arg(m_ref.rows.size()));
        for (int position = 0; position < list.count(); ++position) {
            const RefRow &row = m_ref.rows[size_t(position)];
            if (list.keyAt(position) != row.key)
                return fail(u"list"_s,
                    u"row %1 has key %2, not %3"_s.arg(position).arg(keyValue(list.keyAt(position))).arg(keyValue(row.key)));
            for (const int column : kComparedColumns) {
                if (column == DomainListModel::IdColumn)
                    continue;
                const QString cell = list.cell(position, DomainListModel::Column(column));
                if (cell != row.text(column))
                    return fail(u"list"_s,
                        u"row %1 (%2) column %3 holds \"%4\", not \"%5\""_s.arg(position)
                            .arg(row.domain)
                            .arg(column)
                            .arg(cell, row.text(column)));
            }
            if (list.note(position) != row.shownNote())
                return fail(u"list"_s,
                    u"row %1 (%2) has the note \"%3\", not \"%4\""_s.arg(position).arg(row.domain, list.note(position),
                        row.shownNote()));
        }
        return true;
    }

    QString viewState() const
    {
        return u"sorted by %1 %2, kind %3, find \"%4\""_s.arg(m_ref.sortColumn)
            .arg(m_ref.order == Qt::AscendingOrder ? u"up"_s : u"down"_s)
            .arg(int(m_ref.kind))
            .arg(m_ref.find);
    }

    bool compareShown()
    {
        ShownRowsModel &shown = window().shownModel();
        shown.applyPendingChanges();
        const std::vector<int> expected = m_ref.shown();
        for (int kind = 0; kind < ShownRowsModel::KindCount; ++kind) {
            const int want = m_ref.count(Kind(kind));
            if (shown.count(Kind(kind)) != want)
                return fail(u"counts"_s, u"kind %1 counts %2, not %3"_s.arg(kind).arg(shown.count(Kind(kind))).arg(want));
        }
        if (shown.rowCount() != int(expected.size())) {
            // The first keys of each side are enough to see where they part.
            constexpr int kKeysShown = 24;
            QStringList keys;
            for (int row = 0; row < std::min(shown.rowCount(), kKeysShown); ++row)
                keys << QString::number(keyValue(shown.keyAt(row)));
            QStringList wanted;
            for (size_t i = 0; i < std::min(expected.size(), size_t(kKeysShown)); ++i)
                wanted << QString::number(keyValue(m_ref.rows[size_t(expected[i])].key));
            return fail(u"shown rows"_s,
                u"%1 rows shown, not %2 (%3): keys %4, not %5"_s.arg(shown.rowCount())
                    .arg(expected.size())
                    .arg(viewState(), keys.join(u' '), wanted.join(u' ')));
        }
        for (int row = 0; row < shown.rowCount(); ++row) {
            for (const int column : kComparedColumns) {
                const QString cell = shown.index(row, column).data().toString();
                const QString want = m_ref.cell(expected[size_t(row)], column);
                if (cell != want)
                    return fail(u"shown rows"_s,
                        u"shown row %1 column %2 is \"%3\", not \"%4\" (%5)"_s.arg(row)
                            .arg(column)
                            .arg(cell, want, viewState()));
            }
        }
        return true;
    }

    TesterMode m_mode;
    QTemporaryDir m_dir;
    std::unique_ptr<ScriptedHttp> m_http;
    std::unique_ptr<ScriptedWindow> m_w;
    std::unique_ptr<DomainFirst> m_listProxy;
    std::unique_ptr<DomainFirst> m_shownProxy;
    std::unique_ptr<QAbstractItemModelTester> m_listTester;
    std::unique_ptr<QAbstractItemModelTester> m_shownTester;
    QStringList m_testerWarnings;
    Reference m_ref;
    SequenceResult m_result;
    int m_stepIndex = -1;
    int m_files = 0;
    bool m_saved = true;
    RowKey m_maxKey = RowKey::None;
    std::deque<RowKey> m_removedKeys;
    // What the history holds as each domain's latest result.
    QHash<QString, std::array<QString, 5>> m_versions;
    // The run in flight: the rows still to start, in list order.
    bool m_runActive = false;
    bool m_runIsBatch = false;
    quint32 m_runSalt = 0;
    std::deque<RowKey> m_runQueue;
    bool m_runStopped = false;
    qsizetype m_requestsSeen = 0;
    QString m_lastExportPath;
    std::vector<RefRow> m_lastExport;
};

const char *opName(Op op)
{
    static const char *const names[] = { "Add", "Import", "ImportExported", "Select", "Delete", "Clear", "Result",
        "Run", "Answer", "Stop", "Sort", "Kind", "Find", "Copy", "Export", "Restart" };
    return op < Op::Count ? names[int(op)] : "Count";
}

} // namespace

std::vector<Step> randomSteps(quint64 seed, int count)
{
    // Weights per thousand steps.
    static const std::array<std::pair<Op, int>, int(Op::Count)> weights = { {
        { Op::Add, 60 },
        { Op::Import, 45 },
        { Op::ImportExported, 10 },
        { Op::Select, 90 },
        { Op::Delete, 50 },
        { Op::Clear, 7 },
        { Op::Result, 190 },
        { Op::Run, 25 },
        { Op::Answer, 120 },
        { Op::Stop, 8 },
        { Op::Sort, 80 },
        { Op::Kind, 70 },
        { Op::Find, 100 },
        { Op::Copy, 50 },
        { Op::Export, 15 },
        { Op::Restart, 4 },
    } };
    int total = 0;
    for (const auto &entry : weights)
        total += entry.second;
    std::mt19937_64 random(seed);
    std::vector<Step> steps;
    steps.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        int roll = int(random() % quint64(total));
        Op op = Op::Add;
        for (const auto &[candidate, weight] : weights) {
            if (roll < weight) {
                op = candidate;
                break;
            }
            roll -= weight;
        }
        steps.push_back({ op, quint32(random()), quint32(random()), quint32(random()) });
    }
    return steps;
}

QString formatSteps(const std::vector<Step> &steps)
{
    QString text;
    for (const Step &step : steps)
        text += u"    { Op::%1, %2u, %3u, %4u },\n"_s.arg(QLatin1String(opName(step.op)))
                    .arg(step.a)
                    .arg(step.b)
                    .arg(step.c);
    return text;
}

SequenceResult runSequence(const std::vector<Step> &steps, TesterMode mode)
{
    Sequence sequence(mode);
    return sequence.run(steps);
}

std::vector<Step> reduceSteps(const std::vector<Step> &steps, const SequenceResult &failure, qint64 budgetMs)
{
    QElapsedTimer clock;
    clock.start();
    const auto outOfTime = [&] { return clock.elapsed() > budgetMs; };
    std::vector<Step> best(steps.begin(), steps.begin() + std::min<qsizetype>(failure.failedStep + 1, steps.size()));
    // A candidate that fails the same check replaces the best, cut after the step where it fails.
    const auto tryCandidate = [&](const std::vector<Step> &candidate) {
        const SequenceResult result = runSequence(candidate, TesterMode::Collect);
        if (!result.failed || result.check != failure.check)
            return false;
        best.assign(candidate.begin(), candidate.begin() + result.failedStep + 1);
        return true;
    };
    // Faults mostly need only the last few steps: the shortest failing tail first, doubling.
    for (size_t tail = 4; tail < best.size() && !outOfTime(); tail *= 2) {
        if (tryCandidate(std::vector<Step>(best.end() - qsizetype(tail), best.end())))
            break;
    }
    // Then chunks of it, halving their size while nothing can go.
    size_t parts = 2;
    while (best.size() >= 2 && !outOfTime()) {
        const size_t chunk = (best.size() + parts - 1) / parts;
        bool reduced = false;
        for (size_t start = 0; start < best.size() && !outOfTime(); start += chunk) {
            std::vector<Step> candidate(best.begin(), best.begin() + qsizetype(start));
            candidate.insert(candidate.end(), best.begin() + qsizetype(std::min(start + chunk, best.size())), best.end());
            if (tryCandidate(candidate)) {
                parts = std::max<size_t>(parts - 1, 2);
                reduced = true;
                break;
            }
        }
        if (!reduced) {
            if (parts >= best.size())
                break;
            parts = std::min(best.size(), parts * 2);
        }
    }
    return best;
}

} // namespace quernfold::test
