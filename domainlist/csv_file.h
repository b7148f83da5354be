#pragma once

#include "domainlist/export_file.h"
#include "domainlist/export_sink.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <vector>

namespace quernfold {

class DomainListModel;

// A cell as our CSV writes it (RFC 4180): in quotes when it holds a comma, a quote or a line break, quotes
// doubled. The cells come from a website nobody here controls, so one that begins with "=", "+", "-", "@", a tab
// or a CR gets an apostrophe in front (and quotes around): a spreadsheet shows it as text and never runs it as a
// formula. A cell that begins with an apostrophe gets one more, so taking the first one off always gives the
// cell back.
void appendCsvField(QString &out, QStringView cell);
// The cell a field of our own CSV stands for: the apostrophe appendCsvField put in front taken off.
QStringView csvCellOf(QStringView field);

// Cuts CSV text into records, fed in pieces of any size: a quoted field may hold line ends and run across
// pieces. CR LF, a lone CR and a lone LF end a record; an empty line is no record. A quote inside an unquoted
// field, or text after a closing quote, is kept as written.
class CsvRecordSplitter
{
public:
    using Record = std::vector<QString>;
    explicit CsvRecordSplitter(std::function<void(Record &)> onRecord);

    void feed(QStringView text);
    // The last record needs no line end.
    void finish();

private:
    enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted };
    void endField();
    void endRecord();

    std::function<void(Record &)> m_onRecord;
    State m_state = State::FieldStart;
    QString m_field;
    Record m_record;
    // A record whose only field is empty and was never quoted is an empty line.
    bool m_quotedSeen = false;
};

// Our CSV a row at a time: a header of the eight captions, then a record per row, CR LF line ends, UTF-8.
class CsvWriter : public TextRowWriter
{
public:
    // byteOrderMark: for a file, so Excel knows it is UTF-8; a stream read by scripts goes without.
    CsvWriter(Output out, bool byteOrderMark);
    bool writeRow(qint64 id, const ExportCells &cells) override;
};

// The rows as our CSV: UTF-8 with a byte order mark (so Excel knows it), a header of the eight captions, a record
// per row, CR LF line ends, written whole through a temporary file.
ExportResult writeCsvExport(
    const QString &path, const DomainListModel &model, const std::vector<int> &rows, const ExportControl &control);

} // namespace quernfold
