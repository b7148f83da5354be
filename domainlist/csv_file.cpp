#include "domainlist/csv_file.h"

#include "domainlist/domain_list_model.h"
#include "domainlist/export_sink.h"

namespace quernfold {

namespace {

bool startsLikeAFormula(QStringView cell)
{
    if (cell.isEmpty())
        return false;
    switch (cell.front().unicode()) {
    case u'=':
    case u'+':
    case u'-':
    case u'@':
    case u'\t':
    case u'\r':
    case u'\'':
        return true;
    default:
        return false;
    }
}

bool needsQuotes(QStringView cell)
{
    for (const QChar c : cell) {
        const char16_t unit = c.unicode();
        if (unit == u',' || unit == u'"' || unit == u'\r' || unit == u'\n')
            return true;
    }
    return false;
}

} // namespace

void appendCsvField(QString &out, QStringView cell)
{
    const bool escaped = startsLikeAFormula(cell);
    if (!escaped && !needsQuotes(cell)) {
        out.append(cell);
        return;
    }
    out.append(u'"');
    if (escaped)
        out.append(u'\'');
    qsizetype copiedTo = 0;
    for (qsizetype i = 0; i < cell.size(); ++i) {
        if (cell[i] != u'"')
            continue;
        out.append(cell.sliced(copiedTo, i + 1 - copiedTo)).append(u'"');
        copiedTo = i + 1;
    }
    out.append(cell.sliced(copiedTo)).append(u'"');
}

QStringView csvCellOf(QStringView field)
{
    return field.startsWith(u'\'') ? field.sliced(1) : field;
}

CsvRecordSplitter::CsvRecordSplitter(std::function<void(Record &)> onRecord)
    : m_onRecord(std::move(onRecord))
{ }

void CsvRecordSplitter::feed(QStringView text)
{
    const char16_t *p = text.utf16();
    const char16_t *const end = p + text.size();
    while (p != end) {
        switch (m_state) {
        case State::FieldStart:
            if (*p == u'"') {
                m_state = State::Quoted;
                m_quotedSeen = true;
                ++p;
                break;
            }
            m_state = State::Unquoted;
            [[fallthrough]];
        case State::Unquoted: {
            // Whole runs of plain text at once: most fields hold no quote and no separator at all.
            const char16_t *runEnd = p;
            while (runEnd != end && *runEnd != u',' && *runEnd != u'\r' && *runEnd != u'\n')
                ++runEnd;
            m_field.append(QStringView(p, runEnd));
            p = runEnd;
            if (p == end)
                break;
            if (*p == u',') {
                endField();
            } else {
                endField();
                endRecord();
            }
            ++p;
            break;
        }
        case State::Quoted: {
            const char16_t *runEnd = p;
            while (runEnd != end && *runEnd != u'"')
                ++runEnd;
            m_field.append(QStringView(p, runEnd));
            p = runEnd;
            if (p != end) {
                m_state = State::QuoteInQuoted;
                ++p;
            }
            break;
        }
        case State::QuoteInQuoted:
            if (*p == u'"') {
                m_field.append(u'"');
                m_state = State::Quoted;
            } else if (*p == u',') {
                endField();
            } else if (*p == u'\r' || *p == u'\n') {
                endField();
                endRecord();
            } else {
                m_field.append(QChar(*p));
                m_state = State::Unquoted;
            }
            ++p;
            break;
        }
    }
}

void CsvRecordSplitter::finish()
{
    if (m_state != State::FieldStart || !m_record.empty()) {
        endField();
        endRecord();
    }
}

void CsvRecordSplitter::endField()
{
    m_record.push_back(std::move(m_field));
    m_field = QString();
    m_state = State::FieldStart;
}

void CsvRecordSplitter::endRecord()
{
    const bool emptyLine = m_record.size() == 1 && m_record.front().isEmpty() && !m_quotedSeen;
    if (!emptyLine)
        m_onRecord(m_record);
    m_record.clear();
    m_quotedSeen = false;
    m_state = State::FieldStart;
}

CsvWriter::CsvWriter(Output out, bool byteOrderMark)
    : TextRowWriter(std::move(out))
{
    if (byteOrderMark)
        m_text.append(QChar(0xFEFF));
    const auto &captions = exportCaptions();
    for (int column = 0; column < kExportColumnCount; ++column) {
        if (column > 0)
            m_text.append(u',');
        appendCsvField(m_text, captions[size_t(column)]);
    }
    m_text.append(u"\r\n");
}

bool CsvWriter::writeRow(qint64 id, const ExportCells &cells)
{
    m_text.append(QString::number(id));
    for (const QStringView cell : cells) {
        m_text.append(u',');
        appendCsvField(m_text, cell);
    }
    m_text.append(u"\r\n");
    return flushIfFull();
}

ExportResult writeCsvExport(
    const QString &path, const DomainListModel &model, const std::vector<int> &rows, const ExportControl &control)
{
    ExportSink sink(path);
    if (!sink.open())
        return sink.failed();
    ExportTicker ticker(control, qint64(rows.size()));
    CsvWriter writer([&sink](QByteArrayView bytes) { return sink.write(bytes); }, true);
    for (size_t i = 0; i < rows.size(); ++i) {
        const int row = rows[i];
        if (!writer.writeRow(row + 1, exportTextCells(model, row)))
            return sink.failed();
        if (!ticker.step(qint64(i + 1))) {
            sink.discard();
            return { false, {}, true };
        }
    }
    if (!writer.flush() || !sink.commit())
        return sink.failed();
    ticker.finish();
    return { true, {} };
}

} // namespace quernfold
