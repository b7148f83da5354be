#include "domainlist/import_file.h"

#include "domainlist/csv_file.h"
#include "domainlist/export_file.h"
#include "platform/codepage.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/stat.h>

namespace quernfold {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr qsizetype kUtf8BomSize = 3;
// Often enough for the window to repaint well within 200 ms, rarely enough to cost nothing.
constexpr qint64 kProgressIntervalMs = 50;

// 4 Mi rows: a list this long costs about 130 MB whether reserved or grown.
constexpr qint64 kMostLinesReserved = qint64(1) << 22;

// Mixed: a UTF-8 file with a few lines pasted in from a narrow one. Each line is read as what it is, rather than
// every UTF-8 line turning into other, valid-looking names.
enum class Encoding { Narrow, Utf8, Mixed };
// The encoding is chosen from this many lines with other than ASCII: enough to tell a UTF-8 list with a few narrow
// lines from a narrow one, without checking every line of a long list twice.
constexpr qint64 kEncodingSampleLines = 10000;

bool isTerminator(char16_t unit)
{
    return unit == u'\r' || unit == u'\n';
}

bool startsWithUtf8Bom(QByteArrayView bytes)
{
    return bytes.startsWith(QByteArrayView(kUtf8Bom, kUtf8BomSize));
}

bool hasNonAscii(QByteArrayView bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Bytes below 0x30 are whole characters in GB18030 (its trail bytes start at 0x30) and in UTF-8, so a file
// cut right after one decodes piece by piece exactly as it does in one go. CR and LF are among them.
bool endsCharacter(char c)
{
    return static_cast<unsigned char>(c) < 0x30;
}

QString decodeBlock(QByteArrayView block, Encoding encoding, bool endOfText);

// Each line in UTF-8 when it is that, else in the narrow code page.
QString decodeMixedBlock(QByteArrayView block, bool endOfText)
{
    QString text;
    text.reserve(block.size());
    while (!block.isEmpty()) {
        const qsizetype end = block.indexOf('\n');
        const QByteArrayView line = end < 0 ? block : block.first(end + 1);
        block = block.sliced(line.size());
        const bool utf8 = !hasNonAscii(line) || codepage::isValidUtf8(line);
        text += decodeBlock(line, utf8 ? Encoding::Utf8 : Encoding::Narrow, endOfText && block.isEmpty());
    }
    return text;
}

// Counts the lines with other than ASCII that are valid UTF-8 and those that are not.
void countLineEncodings(QByteArrayView block, qint64 &utf8Lines, qint64 &narrowLines)
{
    while (!block.isEmpty()) {
        const qsizetype end = block.indexOf('\n');
        const QByteArrayView line = end < 0 ? block : block.first(end + 1);
        block = block.sliced(line.size());
        if (hasNonAscii(line))
            ++(codepage::isValidUtf8(line) ? utf8Lines : narrowLines);
    }
}

// UTF-8 when every line is; lines of both kinds, mostly UTF-8, are read line by line. A narrow file whose
// lines now and then happen to be valid UTF-8 as well stays narrow throughout.
Encoding encodingByLines(qint64 utf8Lines, qint64 narrowLines)
{
    if (narrowLines == 0)
        return utf8Lines > 0 ? Encoding::Utf8 : Encoding::Narrow;
    return utf8Lines >= narrowLines ? Encoding::Mixed : Encoding::Narrow;
}

QString decodeBlock(QByteArrayView block, Encoding encoding, bool endOfText)
{
    if (encoding == Encoding::Mixed)
        return decodeMixedBlock(block, endOfText);
    // The file's own mark is cut off before we get here; any other is a character of a line.
    if (encoding == Encoding::Utf8)
        return codepage::fromUtf8(block);
    if (endOfText && !block.isEmpty() && !endsCharacter(block.back())) {
        // The narrow decoder keeps an unfinished sequence back, waiting for more bytes. A line end after the
        // file's last byte makes it give that sequence out as U+FFFD instead of losing it.
        QByteArray closed;
        closed.reserve(block.size() + 1);
        closed.append(block).append('\n');
        QString text = codepage::fromNarrow(closed);
        if (text.endsWith(u'\n'))
            text.chop(1);
        return text;
    }
    return codepage::fromNarrow(block);
}

// Counts the lines that are not empty as the bytes go by, so a file of too many is refused before any line
// becomes text. Line ends are single bytes in both encodings and never part of another character.
class LineCounter
{
public:
    void count(QByteArrayView bytes)
    {
        for (const char c : bytes) {
            if (c == '\n' || c == '\r') {
                m_lines += m_inLine ? 1 : 0;
                m_inLine = false;
            } else {
                m_inLine = true;
            }
        }
    }
    qint64 lines() const { return m_lines + (m_inLine ? 1 : 0); }

private:
    qint64 m_lines = 0;
    bool m_inLine = false;
};

// Turns decoded text into rows, piece by piece.
class RowCutter
{
public:
    explicit RowCutter(ImportResult &out)
        : m_out(out)
    { }
    virtual ~RowCutter() = default;
    virtual void feed(QStringView text) = 0;
    // The end of the text: a last line needs no terminator.
    virtual void finish() = 0;

protected:
    // A domain from the file, with the cells it brings (null for none).
    void take(QStringView text, std::unique_ptr<LookupCells> cells = nullptr)
    {
        QString domain = importedDomain(text);
        if (domain.isEmpty()) {
            ++m_out.skipped;
            return;
        }
        m_out.rows.push_back(DomainRow { std::move(domain), std::move(cells) });
    }

    ImportResult &m_out;
};

// "共:" + count + "个域名", the last line of an export block.
bool isTotalLine(QStringView line)
{
    const QStringView head = u"共:";
    const QStringView tail = u"个域名";
    if (line.size() <= head.size() + tail.size() || !line.startsWith(head) || !line.endsWith(tail))
        return false;
    const QStringView count = line.sliced(head.size(), line.size() - head.size() - tail.size());
    return std::all_of(count.begin(), count.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

using ExportLine = std::array<QString, kExportLineCells>;

// A line the export wrote with its cells quoted: five of them, each in double quotes with any quote inside doubled,
// joined by "----" and nothing else.
bool readQuotedExportLine(QStringView line, ExportLine &cells)
{
    const QStringView separator = u"----";
    qsizetype at = 0;
    for (int i = 0; i < kExportLineCells; ++i) {
        if (i > 0) {
            if (!line.sliced(at).startsWith(separator))
                return false;
            at += separator.size();
        }
        if (at >= line.size() || line[at] != u'"')
            return false;
        QString &cell = cells[size_t(i)];
        for (++at;; ++at) {
            const qsizetype quote = line.indexOf(u'"', at);
            if (quote < 0)
                return false;
            cell.append(line.sliced(at, quote - at));
            at = quote + 1;
            if (at == line.size() || line[at] != u'"')
                break;
            cell.append(u'"');
        }
    }
    return at == line.size();
}

// A line as the export has always written it: the cells between the first four "----", the site name holding
// whatever follows (a "----" of its own included). Fewer than five cells make a plain line.
bool readPlainExportLine(QStringView line, ExportLine &cells)
{
    const QStringView separator = u"----";
    qsizetype from = 0;
    for (int i = 0; i < kExportLineCells - 1; ++i) {
        const qsizetype at = line.indexOf(separator, from);
        if (at < 0)
            return false;
        cells[size_t(i)] = line.sliced(from, at - from).toString();
        from = at + separator.size();
    }
    cells[kExportLineCells - 1] = line.sliced(from).toString();
    return true;
}

// A line of our export block: domain, record number, holder, type and site name joined by "----".
bool takeExportLine(QStringView line, QString &domain, std::unique_ptr<LookupCells> &cells)
{
    ExportLine parts;
    if (!readQuotedExportLine(line, parts)) {
        parts = {};
        if (!readPlainExportLine(line, parts))
            return false;
    }
    domain = std::move(parts[0]);
    FilingRecord record { std::move(parts[1]), std::move(parts[2]), std::move(parts[3]), std::move(parts[4]) };
    // The block carries no status. A lookup that finished always wrote record cells (the record, "无记录",
    // "未知"), and one that did not left them empty: so a row with any record cell is done, and a row with
    // none comes back as never queried, for 查询未完成项 and the batch to pick up again.
    if (record.recordNo.isEmpty() && record.holder.isEmpty() && record.recordType.isEmpty()
        && record.siteName.isEmpty())
        return true;
    cells = std::make_unique<LookupCells>();
    cells->record = std::move(record);
    cells->status = QStringLiteral("查询完毕");
    return true;
}

// Cuts decoded text into lines, carrying a line that a piece leaves unfinished over to the next piece.
class LineCutter : public RowCutter
{
public:
    using RowCutter::RowCutter;

    void feed(QStringView text) override
    {
        const char16_t *const begin = text.utf16();
        const char16_t *const end = begin + text.size();
        const char16_t *lineStart = begin;
        for (const char16_t *p = begin; p != end; ++p) {
            if (!isTerminator(*p))
                continue;
            const QStringView piece(lineStart, p);
            if (m_carry.isEmpty()) {
                takeLine(piece);
            } else {
                m_carry.append(piece);
                takeLine(m_carry);
                m_carry.clear();
            }
            lineStart = p + 1;
        }
        m_carry.append(QStringView(lineStart, end));
    }

    void finish() override
    {
        takeLine(m_carry);
        m_carry.clear();
    }

private:
    // A CR LF pair gives an empty line between CR and LF; skipping empty lines takes care of it.
    void takeLine(QStringView line)
    {
        if (line.isEmpty() || isTotalLine(line))
            return;
        QString domain;
        std::unique_ptr<LookupCells> cells;
        if (takeExportLine(line, domain, cells))
            take(domain, std::move(cells));
        else
            take(line);
    }

    QString m_carry;
};

// Our own CSV brings every cell back; any other CSV gives its first column.
class CsvCutter : public RowCutter
{
public:
    explicit CsvCutter(ImportResult &out)
        : RowCutter(out)
        , m_splitter([this](CsvRecordSplitter::Record &record) { takeRecord(record); })
    { }

    void feed(QStringView text) override { m_splitter.feed(text); }
    void finish() override { m_splitter.finish(); }

private:
    enum class Shape { Unknown, Ours, Foreign };

    void takeRecord(CsvRecordSplitter::Record &fields)
    {
        if (m_shape == Shape::Unknown) {
            // Ours as long as it begins with our columns: a spreadsheet may have added some of its own behind them.
            // Files from before 变化 end their own columns at 说明.
            const auto &captions = exportCaptions();
            const auto withoutChange = captions.begin() + kExportColumnsWithoutChange;
            const bool ours = fields.size() >= size_t(kExportColumnsWithoutChange)
                && std::equal(captions.begin(), withoutChange, fields.begin());
            m_shape = ours ? Shape::Ours : Shape::Foreign;
            if (m_shape == Shape::Ours) {
                m_columns = fields.size() >= captions.size()
                        && std::equal(withoutChange, captions.end(), fields.begin() + kExportColumnsWithoutChange)
                    ? kExportColumnCount
                    : kExportColumnsWithoutChange;
                return;
            }
            // Someone else's first line is most often a header ("domain", "域名"): a first cell without a dot
            // names no domain anyone would look up.
            if (!cleanDomain(fields.front()).contains(u'.'))
                return;
        }
        if (m_shape == Shape::Foreign) {
            take(fields.front());
            return;
        }
        // A column a spreadsheet added behind ours is no cell of the row.
        fields.resize(size_t(m_columns));
        fields.resize(kExportColumnCount);
        std::unique_ptr<LookupCells> cells;
        if (std::any_of(fields.begin() + 2, fields.end(), [](const QString &field) { return !field.isEmpty(); })) {
            cells = std::make_unique<LookupCells>();
            cells->record = FilingRecord { cellOf(fields[2]), cellOf(fields[3]), cellOf(fields[4]), cellOf(fields[5]) };
            cells->status = cellOf(fields[6]);
            cells->note = cellOf(fields[7]);
            // Only a finished lookup can have changed anything.
            if (cells->status == QStringLiteral("查询完毕"))
                cells->change = cellOf(fields[8]);
        }
        take(csvCellOf(fields[1]), std::move(cells));
    }

    static QString cellOf(QString &field)
    {
        return field.startsWith(u'\'') ? csvCellOf(field).toString() : std::move(field);
    }

    CsvRecordSplitter m_splitter;
    Shape m_shape = Shape::Unknown;
    // Our own columns in the file: with 变化 or without.
    int m_columns = kExportColumnCount;
};

// Hands a device out in blocks that end where a character ends, preferring a line end, so that every block
// decodes on its own. A run of bytes with no such place stays in one block, however long.
class BlockReader
{
public:
    BlockReader(QIODevice &device, qint64 from, qint64 limit, qsizetype readSize)
        : m_device(device)
        , m_readPosition(from)
        , m_handedPosition(from)
        , m_limit(limit)
        , m_readSize(readSize)
    {
        if (!m_device.seek(from)) {
            m_failed = true;
            m_end = true;
        }
    }

    bool next(QByteArrayView &block)
    {
        m_pending.remove(0, m_handedOut);
        m_handedOut = 0;
        for (;;) {
            const qsizetype cut = findCut(m_scanned);
            m_scanned = m_pending.size();
            if (cut > 0)
                return handOut(cut, block);
            if (m_end) {
                if (m_pending.isEmpty())
                    return false;
                m_last = true;
                return handOut(m_pending.size(), block);
            }
            if (!fill())
                m_end = true;
        }
    }

    bool failed() const { return m_failed; }
    // Whether the block just handed out ends the data.
    bool lastBlock() const { return m_last; }
    // End of the bytes handed out so far, as a device position.
    qint64 position() const { return m_handedPosition; }
    qint64 readPosition() const { return m_readPosition; }

private:
    bool handOut(qsizetype size, QByteArrayView &block)
    {
        m_handedOut = size;
        m_scanned = m_pending.size() - size;
        m_handedPosition += size;
        block = QByteArrayView(m_pending.constData(), size);
        return true;
    }

    // Length of the longest prefix that ends a character, looking for the end only in bytes not yet scanned
    // (the earlier ones hold no such place); 0 if there is none.
    qsizetype findCut(qsizetype from) const
    {
        const char *const data = m_pending.constData();
        for (qsizetype i = m_pending.size(); i > from; --i) {
            if (data[i - 1] == '\n' || data[i - 1] == '\r')
                return i;
        }
        for (qsizetype i = m_pending.size(); i > from; --i) {
            if (endsCharacter(data[i - 1]))
                return i;
        }
        return 0;
    }

    bool fill()
    {
        qint64 want = m_readSize;
        if (m_limit >= 0)
            want = std::min(want, m_limit - m_readPosition);
        if (want <= 0)
            return false;
        const qsizetype old = m_pending.size();
        m_pending.resize(old + want);
        const qint64 got = m_device.read(m_pending.data() + old, want);
        if (got < 0) {
            m_pending.resize(old);
            m_failed = true;
            return false;
        }
        m_pending.resize(old + got);
        m_readPosition += got;
        return got > 0;
    }

    QIODevice &m_device;
    QByteArray m_pending;
    qsizetype m_handedOut = 0;
    qsizetype m_scanned = 0;
    qint64 m_readPosition;
    qint64 m_handedPosition;
    qint64 m_limit;
    qsizetype m_readSize;
    bool m_end = false;
    bool m_failed = false;
    bool m_last = false;
};

class ProgressTicker
{
public:
    explicit ProgressTicker(const ImportProgress &progress)
        : m_progress(progress)
    {
        m_clock.start();
    }

    void report(qint64 done, qint64 total)
    {
        if (!m_progress)
            return;
        m_progress(done, total);
        m_clock.restart();
    }

    void tick(qint64 done, qint64 total)
    {
        if (m_clock.elapsed() >= kProgressIntervalMs)
            report(done, total);
    }

private:
    const ImportProgress &m_progress;
    QElapsedTimer m_clock;
};

QString openFailedMessage(const QString &name)
{
    return QStringLiteral("无法打开文件:") + name + QStringLiteral("..");
}

QString tooLargeMessage(const QString &name)
{
    return QStringLiteral("文件超过512MB,无法导入:") + name + QStringLiteral("..");
}

QString tooManyLinesMessage(const QString &name)
{
    return QStringLiteral("文件超过1000万行,无法导入:") + name + QStringLiteral("..");
}

// Why the path is no file to read, in the system's words; empty for a plain file.
QString notAFileReason(const QString &path)
{
    struct stat status { };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (S_ISDIR(status.st_mode))
        return QString::fromLocal8Bit(std::strerror(EISDIR));
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("not a regular file");
    return {};
}

std::unique_ptr<RowCutter> cutterFor(ImportKind kind, ImportResult &out)
{
    if (kind == ImportKind::Csv)
        return std::make_unique<CsvCutter>(out);
    return std::make_unique<LineCutter>(out);
}

} // namespace

QStringList ImportResult::domains() const
{
    QStringList list;
    list.reserve(qsizetype(rows.size()));
    for (const DomainRow &row : rows)
        list << row.domain;
    return list;
}

ImportKind importKindFor(const QString &path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0 ? ImportKind::Csv
                                                                                            : ImportKind::Lines;
}

QString importReadFailedMessage(const QString &name, qsizetype imported)
{
    return QStringLiteral("读取文件出错:") + name + QStringLiteral(",已导入") + QString::number(imported)
        + QStringLiteral("个域名..");
}

QString decodeImportBytes(QByteArrayView bytes)
{
    if (startsWithUtf8Bom(bytes))
        return decodeBlock(bytes.sliced(kUtf8BomSize), Encoding::Utf8, true);
    if (!hasNonAscii(bytes))
        return decodeBlock(bytes, Encoding::Narrow, true);
    if (codepage::isValidUtf8(bytes))
        return decodeBlock(bytes, Encoding::Utf8, true);
    qint64 utf8Lines = 0;
    qint64 narrowLines = 0;
    countLineEncodings(bytes, utf8Lines, narrowLines);
    return decodeBlock(bytes, encodingByLines(utf8Lines, narrowLines), true);
}

QStringList splitDomainLines(QStringView text)
{
    ImportResult result;
    LineCutter cutter(result);
    cutter.feed(text);
    cutter.finish();
    return result.domains();
}

ImportResult readDomainDevice(QIODevice &device, const QString &name, const ImportProgress &progress,
    qsizetype readSize, ImportKind kind, qint64 lineLimit, qint64 sizeLimit)
{
    ImportResult result;
    ProgressTicker ticker(progress);
    readSize = std::max<qsizetype>(readSize, 1);
    bool failed = false;
    // Taken when the read fails: a later seek clears what the device says.
    const auto readFailed = [&failed, &result, &device] {
        if (!failed)
            result.reason = device.errorString();
        failed = true;
    };
    const auto refuse = [&result, &name](ImportResult::Status status) {
        result.status = status;
        result.error = status == ImportResult::TooLarge ? tooLargeMessage(name) : tooManyLinesMessage(name);
        return std::move(result);
    };
    if (!device.isSequential() && device.size() > sizeLimit)
        return refuse(ImportResult::TooLarge);

    // The encoding is chosen from the whole file before anything is decoded, so the file is read twice;
    // a device that cannot go back is kept in memory for the second reading. A pipe has no size to refuse it by
    // beforehand, so the bounds are checked as its bytes come in: an endless stream costs the bound, no more.
    QByteArray kept;
    QBuffer keptDevice(&kept);
    QIODevice *source = &device;
    if (device.isSequential()) {
        LineCounter arriving;
        for (;;) {
            const qsizetype old = kept.size();
            const qint64 want = std::min<qint64>(readSize, sizeLimit + 1 - old);
            kept.resize(old + qsizetype(want));
            const qint64 got = device.read(kept.data() + old, want);
            kept.resize(old + std::max<qint64>(got, 0));
            if (got < 0)
                readFailed();
            if (got <= 0)
                break;
            if (kept.size() > sizeLimit)
                return refuse(ImportResult::TooLarge);
            arriving.count(QByteArrayView(kept).sliced(old));
            if (arriving.lines() > lineLimit)
                return refuse(ImportResult::TooManyLines);
            ticker.tick(0, 0);
        }
        keptDevice.open(QIODevice::ReadOnly);
        source = &keptDevice;
    }
    // A list saved as "Unicode" by a Windows editor says so with its mark; it is read as the UTF-8 it holds.
    const QByteArray mark = source->peek(2);
    if (mark == QByteArrayView("\xFF\xFE") || mark == QByteArrayView("\xFE\xFF")) {
        QStringDecoder utf16(mark.at(0) == '\xFF' ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
            QStringDecoder::Flag::Stateless);
        QByteArray utf8 = QByteArray(kUtf8Bom, kUtf8BomSize) + QString(utf16(source->readAll().sliced(2))).toUtf8();
        QBuffer converted(&utf8);
        converted.open(QIODevice::ReadOnly);
        // The same text takes at most half as many bytes again in UTF-8.
        return readDomainDevice(converted, name, progress, readSize, kind, lineLimit, sizeLimit + sizeLimit / 2 + 3);
    }
    const qint64 total = source->size();
    ticker.report(0, total);

    // The first pass chooses the encoding and counts the lines.
    bool utf8Bom = false;
    qint64 utf8Lines = 0;
    qint64 narrowLines = 0;
    qint64 readable = -1;
    LineCounter lines;
    {
        BlockReader sniffer(*source, 0, -1, readSize);
        QByteArrayView block;
        bool first = true;
        while (sniffer.next(block)) {
            if (first && startsWithUtf8Bom(block))
                utf8Bom = true;
            first = false;
            if (!utf8Bom && utf8Lines + narrowLines < kEncodingSampleLines && hasNonAscii(block))
                countLineEncodings(block, utf8Lines, narrowLines);
            lines.count(block);
            if (lines.lines() > lineLimit)
                return refuse(ImportResult::TooManyLines);
            ticker.tick(0, total);
        }
        if (sniffer.failed()) {
            readFailed();
            readable = sniffer.readPosition();
        }
    }
    const Encoding encoding = utf8Bom ? Encoding::Utf8 : encodingByLines(utf8Lines, narrowLines);

    // Growing a list of a million rows step by step costs more than sizing it once. The count is of lines, an
    // upper bound of rows; capped, as a file of lines that are mostly no domain would waste the rest.
    result.rows.reserve(size_t(std::min(lines.lines(), kMostLinesReserved)));
    const std::unique_ptr<RowCutter> cutter = cutterFor(kind, result);
    BlockReader reader(*source, utf8Bom ? kUtf8BomSize : 0, readable, readSize);
    QByteArrayView block;
    while (reader.next(block)) {
        // After a read error the data ends inside a line; that line is not finished off.
        cutter->feed(decodeBlock(block, encoding, reader.lastBlock() && !failed && !reader.failed()));
        ticker.tick(reader.position(), total);
    }
    if (reader.failed())
        readFailed();
    // A line cut short by a read error is dropped rather than imported as a wrong domain.
    if (!failed)
        cutter->finish();
    ticker.report(reader.position(), std::max(total, reader.position()));

    if (failed) {
        result.status = ImportResult::ReadFailed;
        result.error = importReadFailedMessage(name, qsizetype(result.rows.size()));
    }
    return result;
}

ImportResult readDomainFile(const QString &path, const ImportProgress &progress)
{
    // Only plain files: a device such as /dev/zero would be read for ever.
    QFile file(path);
    const QString notReadable = notAFileReason(path);
    if (!notReadable.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        ImportResult failed;
        failed.status = ImportResult::OpenFailed;
        failed.error = openFailedMessage(path);
        failed.reason = notReadable.isEmpty() ? file.errorString() : notReadable;
        return failed;
    }
    if (file.size() > kImportSizeLimit) {
        ImportResult refused;
        refused.status = ImportResult::TooLarge;
        refused.error = tooLargeMessage(path);
        return refused;
    }
    return readDomainDevice(file, path, progress, 64 * 1024, importKindFor(path));
}

} // namespace quernfold
