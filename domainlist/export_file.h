#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <atomic>
#include <functional>
#include <vector>

namespace quernfold {

class DomainListModel;

// What an export writes, by the file name's extension (in any case): ".csv" and ".xlsx" are spreadsheets written
// whole; every other name gets the text block appended, as the program always did.
enum class ExportFormat { TextBlock, Csv, Xlsx };
ExportFormat exportFormatFor(const QString &path);

// The columns of our CSV and XLSX files: the list's seven, the row's note (why its lookup did not finish), and
// what changed since the domain's earlier result. Files written before 变化 have the first eight.
inline constexpr int kExportColumnCount = 9;
inline constexpr int kExportColumnsWithoutChange = 8;
const std::array<QString, kExportColumnCount> &exportCaptions();
// Columns 1 to 8 of a row (domain to change); column 0, the ID, is the row's position plus one.
using ExportCells = std::array<QStringView, kExportColumnCount - 1>;
// The views point into the model and hold while it does not change.
ExportCells exportTextCells(const DomainListModel &model, int row);

// How a caller follows a long export from another thread.
struct ExportControl {
    // Rows written so far of all; called now and then from the thread that writes.
    std::function<void(qint64 done, qint64 total)> progress;
    // Set by anyone to call the export off: the file is left as it was.
    const std::atomic_bool *cancelled = nullptr;
};

// Why a file could not be written: the step that failed and the system's words for it, for a caller that says it
// in words of its own.
struct FileFailure {
    enum Step { None, Open, Write };
    Step step = None;
    QString reason; // "No such file or directory"; empty when the system gave none
};

struct ExportResult {
    bool ok = false;
    // Our own message for the panel when the file could not be opened or written; empty on success.
    QString error;
    // Called off through ExportControl::cancelled; nothing was written.
    bool cancelled = false;
    FileFailure failure = {};
};

// The block one export appends, in the narrow code page: a line per row (the rows given, in that order) with
// domain, record number, holder, type and site name joined by "----", then an empty line and the total line
// "共:N个域名". Every line ends in CR LF. The window refuses an empty list before it gets here.
// A line that would not read back the way it was written (needsQuotedExportLine) has each of its five cells in
// double quotes, a quote inside doubled: "abc----d.com"----"京ICP备1号"----"某公司"----"企业"----"a----b". No
// domain begins with a quote, so no line of an earlier block reads as such a line.
QByteArray buildExportBlock(const DomainListModel &model, const std::vector<int> &rows);

// Domain, record number, holder, type and site name: the cells of a block's line.
inline constexpr int kExportLineCells = 5;
// Whether the line's cells, joined by "----", could be cut apart in more than one way.
bool needsQuotedExportLine(const ExportCells &cells);

// The same block a row at a time, for rows that come one by one (the command line's run has each as it finishes).
class ExportBlockBuilder
{
public:
    // expectedUnits: the UTF-16 units all row lines will take, when known, so the block is sized once.
    explicit ExportBlockBuilder(qint64 expectedUnits = 0);
    void addRow(const ExportCells &cells);
    qint64 rowCount() const { return m_rows; }
    // The block with its total line; the builder is empty after.
    QByteArray finish();

private:
    void encodePiece();

    QByteArray m_block;
    QString m_piece;
    qint64 m_expectedUnits;
    qint64 m_rows = 0;
};

// Appends the block to the file in one write, creating the file if needed. What the file held before is
// never touched; a block that went out only in part is taken back.
ExportResult appendExportBlock(const QString &path, const QByteArray &block);

// Writes the rows (positions in the model, in the order to write) in the format the name asks for. Safe on any
// thread as long as nobody changes the model meanwhile: it only reads it.
ExportResult writeExport(
    const QString &path, const DomainListModel &model, const std::vector<int> &rows, const ExportControl &control = {});

} // namespace quernfold
