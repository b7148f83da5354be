#include "cli/headless_output.h"

#include "domainlist/csv_file.h"
#include "domainlist/domain_list_model.h"
#include "domainlist/export_sink.h"
#include "domainlist/json_lines.h"
#include "domainlist/xlsx_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace quernfold {

namespace {

// JSON Lines as the export writes them, and what the lookup found changed: "change" (its words, or null) and
// "previous" (the earlier result, with the record's keys, or null), so that a script can report a filing that
// changed without asking the history itself.
class QueryJsonWriter : public TextRowWriter
{
public:
    using TextRowWriter::TextRowWriter;

    bool writeRow(qint64 id, const ExportCells &cells) override { return writeRow(id, cells, nullptr); }
    bool writeRow(qint64 id, const ExportCells &cells, const LookupCells *lookup)
    {
        const auto &keys = jsonLinesKeys();
        m_text.append(u"{\"").append(keys[0]).append(u"\":").append(QString::number(id));
        // The change has keys of its own below, with the earlier result beside it.
        for (size_t i = 0; i + 1 < keys.size(); ++i) {
            m_text.append(u",\"").append(keys[i + 1]).append(u"\":");
            appendJsonString(m_text, cells[i]);
        }
        const bool changed = lookup && lookup->previous && !lookup->change.isEmpty();
        m_text.append(u",\"change\":");
        if (changed)
            appendJsonString(m_text, lookup->change);
        else
            m_text.append(u"null");
        m_text.append(u",\"previous\":");
        if (changed) {
            const PreviousResult &before = *lookup->previous;
            const QString *values[] = { &before.record.recordNo, &before.record.holder, &before.record.recordType,
                &before.record.siteName, &before.status };
            m_text.append(u'{');
            for (size_t i = 0; i < std::size(values); ++i) {
                if (i > 0)
                    m_text.append(u',');
                appendJsonString(m_text, keys[i + 2]);
                m_text.append(u':');
                appendJsonString(m_text, *values[i]);
            }
            m_text.append(u'}');
        } else {
            m_text.append(u"null");
        }
        m_text.append(u"}\n");
        return flushIfFull();
    }
};

std::unique_ptr<TextRowWriter> textWriter(QueryRequest::Format format, TextRowWriter::Output out, bool byteOrderMark)
{
    if (format == QueryRequest::Format::JsonLines)
        return std::make_unique<QueryJsonWriter>(std::move(out));
    return std::make_unique<CsvWriter>(std::move(out), byteOrderMark);
}

bool writeModelRow(TextRowWriter &writer, const DomainListModel &model, int row)
{
    const ExportCells cells = exportTextCells(model, row);
    if (auto *json = dynamic_cast<QueryJsonWriter *>(&writer)) {
        const DomainRow *r = model.find(model.keyAt(row));
        return json->writeRow(row + 1, cells, r ? r->lookup.get() : nullptr);
    }
    return writer.writeRow(row + 1, cells);
}

// Rows to standard output as they come. No byte order mark: scripts read it, not Excel.
class StreamOutput : public ResultOutput
{
public:
    explicit StreamOutput(QueryRequest::Format format)
        : m_writer(textWriter(
            format, [this](QByteArrayView bytes) { return writeAll(bytes); }, false))
    { }

    bool writeRow(const DomainListModel &model, int row) override { return writeModelRow(*m_writer, model, row); }
    bool readerLeft() override
    {
        // A pipe whose reading end is closed reports an error to poll(); a file or a terminal never does.
        pollfd out { STDOUT_FILENO, 0, 0 };
        if (::poll(&out, 1, 0) == 1 && (out.revents & POLLERR))
            m_readerGone = true;
        return m_readerGone;
    }
    bool flush() override { return m_writer->flush(); }
    bool finish(const DomainListModel &) override { return m_writer->flush(); }

private:
    bool writeAll(QByteArrayView bytes)
    {
        const char *data = bytes.data();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t written = ::write(STDOUT_FILENO, data, size_t(left));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                m_readerGone = errno == EPIPE;
                m_error = QStringLiteral("cannot write to standard output: %1")
                              .arg(QString::fromLocal8Bit(std::strerror(errno)));
                return false;
            }
            data += written;
            left -= written;
        }
        return true;
    }

    std::unique_ptr<TextRowWriter> m_writer;
};

// CSV or JSON Lines into a temporary file beside the target, renamed into place at the end, as the export does.
class FileOutput : public ResultOutput
{
public:
    FileOutput(const QString &path, QueryRequest::Format format)
        : m_path(path)
        , m_sink(path)
        , m_writer(textWriter(
              format, [this](QByteArrayView bytes) { return m_sink.write(bytes); }, true))
    { }

    bool open()
    {
        if (m_sink.open())
            return true;
        takeSinkFailure();
        return false;
    }
    bool writeRow(const DomainListModel &model, int row) override
    {
        if (writeModelRow(*m_writer, model, row))
            return true;
        takeSinkFailure();
        return false;
    }
    bool finish(const DomainListModel &) override
    {
        if (m_writer->flush() && m_sink.commit())
            return true;
        takeSinkFailure();
        m_sink.discard();
        return false;
    }

private:
    void takeSinkFailure() { m_error = fileFailureText(m_path, m_sink.failed().failure); }

    QString m_path;
    ExportSink m_sink;
    std::unique_ptr<TextRowWriter> m_writer;
};

// The text block, gathered in the narrow code page and appended in one write at the end: the file never holds a
// part of it.
class BlockOutput : public ResultOutput
{
public:
    explicit BlockOutput(const QString &path)
        : m_path(path)
    { }

    bool writeRow(const DomainListModel &model, int row) override
    {
        m_builder.addRow(exportTextCells(model, row));
        return true;
    }
    bool showsChanges() const override { return false; }
    bool finish(const DomainListModel &) override
    {
        const ExportResult result = appendExportBlock(m_path, m_builder.finish());
        if (!result.ok)
            m_error = fileFailureText(m_path, result.failure);
        return result.ok;
    }

private:
    QString m_path;
    ExportBlockBuilder m_builder;
};

class WorkbookOutput : public ResultOutput
{
public:
    explicit WorkbookOutput(const QString &path)
        : m_path(path)
    { }

    // Only the rows handed over go in (all of them, unless the run writes only the changed ones).
    bool writeRow(const DomainListModel &, int row) override
    {
        m_rows.push_back(row);
        return true;
    }
    bool finish(const DomainListModel &model) override
    {
        const ExportResult result = writeXlsxExport(m_path, model, m_rows, {});
        if (!result.ok)
            m_error = fileFailureText(m_path, result.failure);
        return result.ok;
    }
    bool needsAllRows() const override { return true; }

private:
    QString m_path;
    std::vector<int> m_rows;
};

// Why a file written at the end could not be, in the system's words; empty when it can. A whole run's rows should
// not be lost to a typo in the folder.
QString cannotWriteLater(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QString::fromLocal8Bit(std::strerror(EISDIR));
    const QByteArray target = QFile::encodeName(info.exists() ? path : info.absolutePath());
    if (::access(target.constData(), info.exists() ? W_OK : W_OK | X_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

} // namespace

QString fileFailureText(const QString &path, const FileFailure &failure)
{
    QString text
        = (failure.step == FileFailure::Open ? QStringLiteral("cannot open %1") : QStringLiteral("cannot write %1"))
              .arg(path);
    if (!failure.reason.isEmpty())
        text += QStringLiteral(": ") + failure.reason;
    return text;
}

std::unique_ptr<ResultOutput> openResultOutput(const QueryRequest &request, QString *error)
{
    if (request.output.isEmpty())
        return std::make_unique<StreamOutput>(request.format);
    const QString &path = request.output;
    if (QFileInfo(path).suffix().compare(QLatin1String("jsonl"), Qt::CaseInsensitive) == 0) {
        auto output = std::make_unique<FileOutput>(path, QueryRequest::Format::JsonLines);
        if (output->open())
            return output;
        *error = output->error();
        return nullptr;
    }
    switch (exportFormatFor(path)) {
    case ExportFormat::Csv: {
        auto output = std::make_unique<FileOutput>(path, QueryRequest::Format::Csv);
        if (output->open())
            return output;
        *error = output->error();
        return nullptr;
    }
    case ExportFormat::Xlsx:
    case ExportFormat::TextBlock:
        break;
    }
    const QString problem = cannotWriteLater(path);
    if (!problem.isEmpty()) {
        *error = fileFailureText(path, { FileFailure::Open, problem });
        return nullptr;
    }
    if (exportFormatFor(path) == ExportFormat::Xlsx)
        return std::make_unique<WorkbookOutput>(path);
    return std::make_unique<BlockOutput>(path);
}

} // namespace quernfold
