#include "domainlist/import_file.h"

#include "platform/codepage.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace quernfold {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr qsizetype kUtf8BomSize = 3;
// Often enough for the window to repaint well within 200 ms, rarely enough to cost nothing.
constexpr qint64 kProgressIntervalMs = 50;

// 4 Mi names: a list this long costs about 100 MB whether reserved or grown.
constexpr qint64 kMostLinesReserved = qint64(1) << 22;

enum class Encoding { Narrow, Utf8 };

bool isTerminator(char16_t unit)
{
    return unit == u'\r' || unit == u'\n';
}

// A plain scan: lines are short and most hold no "www." at all, where a general search costs more.
bool containsWww(QStringView line)
{
    const char16_t *const p = line.utf16();
    for (qsizetype i = 0; i + 3 < line.size(); ++i) {
        if (p[i] == u'w' && p[i + 1] == u'w' && p[i + 2] == u'w' && p[i + 3] == u'.')
            return true;
    }
    return false;
}

// Whether a name starts at `at`: nothing before it, or a character that cannot be part of a name.
bool beginsLabel(QStringView line, qsizetype at)
{
    if (at == 0)
        return true;
    char32_t before = line[at - 1].unicode();
    if (at >= 2 && QChar::isLowSurrogate(before) && line[at - 2].isHighSurrogate())
        before = QChar::surrogateToUcs4(line[at - 2], line[at - 1]);
    return before != U'-' && !QChar::isLetterOrNumber(before);
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

QString decodeBlock(QByteArrayView block, Encoding encoding, bool endOfText)
{
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

// Cuts decoded text into domains, carrying a line that a piece leaves unfinished over to the next piece.
class LineCutter
{
public:
    explicit LineCutter(QStringList &out)
        : m_out(out)
    { }

    void feed(QStringView text)
    {
        const char16_t *const begin = text.utf16();
        const char16_t *const end = begin + text.size();
        const char16_t *lineStart = begin;
        for (const char16_t *p = begin; p != end; ++p) {
            if (!isTerminator(*p))
                continue;
            const QStringView piece(lineStart, p);
            if (m_carry.isEmpty()) {
                take(piece);
            } else {
                m_carry.append(piece);
                take(m_carry);
                m_carry.clear();
            }
            lineStart = p + 1;
        }
        m_carry.append(QStringView(lineStart, end));
    }

    // The last line needs no terminator.
    void finish()
    {
        take(m_carry);
        m_carry.clear();
    }

private:
    // A CR LF pair gives an empty line between CR and LF; skipping empty lines takes care of it.
    void take(QStringView line)
    {
        if (line.isEmpty())
            return;
        if (containsWww(line))
            m_out.append(stripWww(line.toString()));
        else
            m_out.append(line.toString());
    }

    QStringList &m_out;
    QString m_carry;
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

QString readFailedMessage(const QString &name, qsizetype imported)
{
    return QStringLiteral("读取文件出错:") + name + QStringLiteral(",已导入") + QString::number(imported)
        + QStringLiteral("个域名..");
}

} // namespace

QString stripWww(QString line)
{
    const QStringView www = u"www.";
    const QStringView original(line);
    QString kept;
    kept.reserve(line.size());
    qsizetype copiedTo = 0;
    for (qsizetype at = original.indexOf(www); at >= 0; at = original.indexOf(www, at + 1)) {
        if (!beginsLabel(original, at))
            continue;
        kept.append(original.sliced(copiedTo, at - copiedTo));
        copiedTo = at + www.size();
    }
    if (copiedTo == 0)
        return line;
    kept.append(original.sliced(copiedTo));
    return kept;
}

QString decodeImportBytes(QByteArrayView bytes)
{
    if (startsWithUtf8Bom(bytes))
        return decodeBlock(bytes.sliced(kUtf8BomSize), Encoding::Utf8, true);
    if (hasNonAscii(bytes) && codepage::isValidUtf8(bytes))
        return decodeBlock(bytes, Encoding::Utf8, true);
    return decodeBlock(bytes, Encoding::Narrow, true);
}

QStringList splitDomainLines(QStringView text)
{
    QStringList domains;
    LineCutter cutter(domains);
    cutter.feed(text);
    cutter.finish();
    return domains;
}

ImportResult readDomainDevice(
    QIODevice &device, const QString &name, const ImportProgress &progress, qsizetype readSize)
{
    ImportResult result;
    ProgressTicker ticker(progress);
    readSize = std::max<qsizetype>(readSize, 1);
    bool failed = false;

    // The encoding is chosen from the whole file before anything is decoded, so the file is read twice;
    // a device that cannot go back is kept in memory for the second reading.
    QByteArray kept;
    QBuffer keptDevice(&kept);
    QIODevice *source = &device;
    if (device.isSequential()) {
        for (;;) {
            const qsizetype old = kept.size();
            kept.resize(old + readSize);
            const qint64 got = device.read(kept.data() + old, readSize);
            kept.resize(old + std::max<qint64>(got, 0));
            if (got < 0)
                failed = true;
            if (got <= 0)
                break;
            ticker.tick(0, 0);
        }
        keptDevice.open(QIODevice::ReadOnly);
        source = &keptDevice;
    }
    const qint64 total = source->size();
    ticker.report(0, total);

    bool utf8Bom = false;
    bool validUtf8 = true;
    bool nonAscii = false;
    qint64 readable = -1;
    {
        BlockReader sniffer(*source, 0, -1, readSize);
        QByteArrayView block;
        bool first = true;
        while (validUtf8 && sniffer.next(block)) {
            if (first && startsWithUtf8Bom(block)) {
                utf8Bom = true;
                break;
            }
            first = false;
            if (hasNonAscii(block)) {
                nonAscii = true;
                validUtf8 = codepage::isValidUtf8(block);
            }
            ticker.tick(0, total);
        }
        if (sniffer.failed()) {
            failed = true;
            readable = sniffer.readPosition();
        }
    }
    const Encoding encoding = utf8Bom || (validUtf8 && nonAscii) ? Encoding::Utf8 : Encoding::Narrow;

    LineCutter cutter(result.domains);
    BlockReader reader(*source, utf8Bom ? kUtf8BomSize : 0, readable, readSize);
    QByteArrayView block;
    bool reserved = false;
    while (reader.next(block)) {
        // After a read error the data ends inside a line; that line is not finished off.
        cutter.feed(decodeBlock(block, encoding, reader.lastBlock() && !failed && !reader.failed()));
        if (!reserved && !result.domains.isEmpty()) {
            // Growing a list of a million names step by step costs more than guessing its size once from
            // the first block. The guess is capped: a first block of tiny lines says little about the rest.
            reserved = true;
            const qint64 perLine = std::max<qint64>(block.size() / result.domains.size(), 1);
            const qint64 guess = total / perLine + total / perLine / 8 + 16;
            result.domains.reserve(qsizetype(std::min({ guess, total / 2 + 16, kMostLinesReserved })));
        }
        ticker.tick(reader.position(), total);
    }
    failed = failed || reader.failed();
    // A line cut short by a read error is dropped rather than imported as a wrong domain.
    if (!failed)
        cutter.finish();
    ticker.report(reader.position(), std::max(total, reader.position()));

    if (failed) {
        result.status = ImportResult::ReadFailed;
        result.error = readFailedMessage(name, result.domains.size());
    }
    return result;
}

ImportResult readDomainFile(const QString &path, const ImportProgress &progress)
{
    // Only plain files: a device such as /dev/zero would be read for ever.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        ImportResult failed;
        failed.status = ImportResult::OpenFailed;
        failed.error = openFailedMessage(path);
        return failed;
    }
    if (file.size() > kImportSizeLimit) {
        ImportResult refused;
        refused.status = ImportResult::TooLarge;
        refused.error = tooLargeMessage(path);
        return refused;
    }
    return readDomainDevice(file, path, progress);
}

} // namespace quernfold
