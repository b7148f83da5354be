#include "store/backend_probe.h"

#include "domainlist/domain_list_model.h"
#include "store/sqlite_db.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <vector>

namespace quernfold::store {

namespace {

constexpr int kRowsPerTransaction = 50000;

const char *const kCreateTable = "CREATE TABLE list_rows (ord INTEGER PRIMARY KEY, domain TEXT NOT NULL,"
                                 " record_no TEXT, holder TEXT, record_type TEXT, site_name TEXT, status TEXT,"
                                 " note TEXT)";
const char *const kInsert = "INSERT INTO list_rows (ord, domain, record_no, holder, record_type, site_name, status)"
                            " VALUES (?, ?, ?, ?, ?, ?, ?)";
const char *const kSelect = "SELECT ord, domain, record_no, holder, record_type, site_name, status, note"
                            " FROM list_rows ORDER BY ord";

void removeDatabase(const QString &path)
{
    for (const QString &suffix : { QString(), QStringLiteral("-wal"), QStringLiteral("-shm") })
        QFile::remove(path + suffix);
}

QString domainAt(int i)
{
    return QStringLiteral("domain%1.example.com").arg(i);
}

const FilingRecord &sampleRecord()
{
    static const FilingRecord record { QStringLiteral("京ICP备12345678号-1"), QStringLiteral("北京某某科技有限公司"),
        QStringLiteral("企业"), QStringLiteral("某某网") };
    return record;
}

} // namespace

BackendFigures measureOwnWrapper(const QString &path, int rows)
{
    removeDatabase(path);
    BackendFigures figures;
    const FilingRecord &record = sampleRecord();
    const QString status = QStringLiteral("查询完毕");
    {
        Database db;
        db.open(path);
        db.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
        db.exec(kCreateTable);
        QElapsedTimer timer;
        timer.start();
        Statement insert(db, kInsert);
        for (int first = 0; first < rows; first += kRowsPerTransaction) {
            Transaction transaction(db);
            for (int i = first; i < qMin(rows, first + kRowsPerTransaction); ++i) {
                const QString domain = domainAt(i);
                insert.bind(1, qint64(i + 1));
                insert.bind(2, domain);
                insert.bind(3, record.recordNo);
                insert.bind(4, record.holder);
                insert.bind(5, record.recordType);
                insert.bind(6, record.siteName);
                insert.bind(7, status);
                insert.run();
            }
            transaction.commit();
        }
        figures.writeMs = timer.nsecsElapsed() / 1e6;
    }
    {
        Database db;
        db.open(path);
        QElapsedTimer timer;
        timer.start();
        std::vector<DomainRow> list;
        std::vector<qint64> keys;
        Statement select(db, kSelect);
        while (select.step() == Statement::Step::Row) {
            keys.push_back(select.int64At(0));
            DomainRow row { select.textAt(1), nullptr };
            if (!select.isNullAt(6)) {
                row.lookup = std::make_unique<LookupCells>(
                    LookupCells { { select.textAt(2), select.textAt(3), select.textAt(4), select.textAt(5) },
                        select.textAt(6), select.textAt(7) });
            }
            list.push_back(std::move(row));
        }
        figures.readMs = timer.nsecsElapsed() / 1e6;
        figures.rowsRead = qint64(list.size());
    }
    removeDatabase(path);
    return figures;
}

SliceFigures measureSlices(const QString &path, int rows, int sliceRows)
{
    removeDatabase(path);
    SliceFigures figures;
    std::vector<double> slices;
    {
        Database db;
        db.open(path);
        db.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
        db.exec(kCreateTable);
        Statement insert(db, "INSERT INTO list_rows (ord, domain) VALUES (?, ?)");
        QElapsedTimer total;
        total.start();
        for (int first = 0; first < rows; first += sliceRows) {
            QElapsedTimer slice;
            slice.start();
            Transaction transaction(db);
            for (int i = first; i < qMin(rows, first + sliceRows); ++i) {
                const QString domain = domainAt(i);
                insert.bind(1, qint64(i + 1));
                insert.bind(2, domain);
                insert.run();
            }
            transaction.commit();
            slices.push_back(slice.nsecsElapsed() / 1e6);
        }
        figures.totalMs = total.nsecsElapsed() / 1e6;
    }
    std::sort(slices.begin(), slices.end());
    figures.longestSliceMs = slices.empty() ? 0 : slices.back();
    figures.medianSliceMs = slices.empty() ? 0 : slices[slices.size() / 2];
    removeDatabase(path);
    return figures;
}

BackendFigures measureQtSql(const QString &path, int rows)
{
    removeDatabase(path);
    BackendFigures figures;
    const FilingRecord &record = sampleRecord();
    const QString status = QStringLiteral("查询完毕");
    const QString connection = QStringLiteral("backend-probe");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.open();
        QSqlQuery setup(db);
        setup.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        setup.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        setup.exec(QString::fromLatin1(kCreateTable));
        QElapsedTimer timer;
        timer.start();
        QSqlQuery insert(db);
        insert.prepare(QString::fromLatin1(kInsert));
        for (int first = 0; first < rows; first += kRowsPerTransaction) {
            db.transaction();
            for (int i = first; i < qMin(rows, first + kRowsPerTransaction); ++i) {
                insert.bindValue(0, qint64(i + 1));
                insert.bindValue(1, domainAt(i));
                insert.bindValue(2, record.recordNo);
                insert.bindValue(3, record.holder);
                insert.bindValue(4, record.recordType);
                insert.bindValue(5, record.siteName);
                insert.bindValue(6, status);
                insert.exec();
            }
            db.commit();
        }
        figures.writeMs = timer.nsecsElapsed() / 1e6;
        db.close();
    }
    {
        QSqlDatabase db = QSqlDatabase::database(connection);
        db.open();
        QElapsedTimer timer;
        timer.start();
        std::vector<DomainRow> list;
        std::vector<qint64> keys;
        QSqlQuery select(db);
        select.setForwardOnly(true);
        select.exec(QString::fromLatin1(kSelect));
        while (select.next()) {
            keys.push_back(select.value(0).toLongLong());
            DomainRow row { select.value(1).toString(), nullptr };
            if (!select.isNull(6)) {
                row.lookup = std::make_unique<LookupCells>(
                    LookupCells { { select.value(2).toString(), select.value(3).toString(), select.value(4).toString(),
                                      select.value(5).toString() },
                        select.value(6).toString(), select.value(7).toString() });
            }
            list.push_back(std::move(row));
        }
        figures.readMs = timer.nsecsElapsed() / 1e6;
        figures.rowsRead = qint64(list.size());
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    removeDatabase(path);
    return figures;
}

} // namespace quernfold::store
