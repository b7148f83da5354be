#include "domainlist/export_sink.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

namespace quernfold {

namespace {
// Often enough for a progress text that moves, rarely enough to cost nothing next to the writing.
constexpr qint64 kProgressIntervalMs = 50;
// Big enough that the output's calls cost nothing next to the text, small enough to stay in the cache.
constexpr qsizetype kWritePieceUnits = 64 * 1024;
} // namespace

QString exportOpenFailedMessage(const QString &path)
{
    return QStringLiteral("无法打开文件:") + path + QStringLiteral("..");
}

QString exportWriteFailedMessage(const QString &path)
{
    return QStringLiteral("写入文件失败:") + path + QStringLiteral("..");
}

ExportResult exportFailed(const QString &path, FileFailure::Step step, const QString &reason)
{
    const QString message = step == FileFailure::Open ? exportOpenFailedMessage(path) : exportWriteFailedMessage(path);
    return { false, message, false, { step, reason } };
}

ExportSink::ExportSink(const QString &path)
    : m_path(path)
{ }

ExportSink::~ExportSink()
{
    discard();
}

bool ExportSink::open()
{
    const QFileInfo info(m_path);
    if (info.isDir()) {
        fail(FileFailure::Open, QString::fromLocal8Bit(std::strerror(EISDIR)));
        return false;
    }
    if (info.exists() && !info.isFile()) {
        m_directFile = std::make_unique<QFile>(m_path);
        if (!m_directFile->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            fail(FileFailure::Open, m_directFile->errorString());
            m_directFile.reset();
            return false;
        }
        return true;
    }
    m_saveFile = std::make_unique<QSaveFile>(m_path);
    // Unbuffered: the writers hand over large pieces anyway, and a write that fails must say so at once. Qt 6.4's
    // commit() does not notice a failure of the flush it does itself.
    if (!m_saveFile->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        fail(FileFailure::Open, m_saveFile->errorString());
        m_saveFile.reset();
        return false;
    }
    return true;
}

bool writeFully(QFileDevice &file, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const qint64 written = file.write(bytes.data(), bytes.size());
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

bool ExportSink::write(QByteArrayView bytes)
{
    QFileDevice *file = m_saveFile ? static_cast<QFileDevice *>(m_saveFile.get()) : m_directFile.get();
    if (!file || !m_error.isEmpty())
        return false;
    if (!writeFully(*file, bytes)) {
        fail(FileFailure::Write, file->errorString());
        return false;
    }
    return true;
}

bool ExportSink::commit()
{
    if (m_error.isEmpty() && m_saveFile && (m_saveFile->error() != QFileDevice::NoError || !m_saveFile->commit()))
        fail(FileFailure::Write, m_saveFile->errorString());
    if (m_error.isEmpty() && m_directFile) {
        m_directFile->close();
        if (m_directFile->error() != QFileDevice::NoError)
            fail(FileFailure::Write, m_directFile->errorString());
    }
    m_saveFile.reset();
    m_directFile.reset();
    return m_error.isEmpty();
}

void ExportSink::fail(FileFailure::Step step, const QString &reason)
{
    const ExportResult result = exportFailed(m_path, step, reason);
    m_error = result.error;
    m_failure = result.failure;
}

void ExportSink::discard()
{
    if (m_saveFile)
        m_saveFile->cancelWriting();
    // Destroyed without a commit, the save file takes its temporary file with it.
    m_saveFile.reset();
    m_directFile.reset();
}

TextRowWriter::TextRowWriter(Output out)
    : m_out(std::move(out))
{
    m_text.reserve(kWritePieceUnits + 4096);
}

bool TextRowWriter::flush()
{
    if (!m_failed && !m_text.isEmpty())
        m_failed = !m_out(m_text.toUtf8());
    m_text.clear();
    return !m_failed;
}

bool TextRowWriter::flushIfFull()
{
    return m_text.size() < kWritePieceUnits ? !m_failed : flush();
}

ExportTicker::ExportTicker(const ExportControl &control, qint64 total)
    : m_control(control)
    , m_total(total)
{
    m_clock.start();
    if (m_control.progress)
        m_control.progress(0, m_total);
}

bool ExportTicker::step(qint64 done)
{
    if (m_control.cancelled && m_control.cancelled->load(std::memory_order_relaxed))
        return false;
    if (m_control.progress && m_clock.elapsed() >= kProgressIntervalMs) {
        m_control.progress(done, m_total);
        m_clock.restart();
    }
    return true;
}

void ExportTicker::finish()
{
    if (m_control.progress)
        m_control.progress(m_total, m_total);
}

} // namespace quernfold
