#pragma once

#include "domainlist/export_file.h"

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QString>

#include <functional>

#include <memory>

class QFile;
class QFileDevice;
class QSaveFile;

namespace quernfold {

QString exportOpenFailedMessage(const QString &path);
QString exportWriteFailedMessage(const QString &path);
// A failed export: the panel's message for the step, the system's reason beside it.
ExportResult exportFailed(const QString &path, FileFailure::Step step, const QString &reason);

// Writes all of `bytes`, or says why not. A write the system cuts short (a full disk, a file size limit) is tried
// again for the rest, so that the reason comes from the write that failed outright: Qt keeps none for a short one.
bool writeFully(QFileDevice &file, QByteArrayView bytes);

// Where a file written whole goes: a temporary file beside it that replaces it only once everything is written
// (QSaveFile), so a failure leaves what was there and no half file. A device or pipe that already exists cannot
// be replaced (and as root the rename would put a plain file in place of /dev/full), so it is written directly.
class ExportSink
{
public:
    explicit ExportSink(const QString &path);
    ~ExportSink();

    bool open();
    bool write(QByteArrayView bytes);
    // Puts the file in place; false (and error()) if that or an earlier write failed.
    bool commit();
    // Gives up: the temporary file goes, the target stays as it was.
    void discard();
    QString error() const { return m_error; }
    // What an export that ends on this sink's failure returns.
    ExportResult failed() const { return { false, m_error, false, m_failure }; }

private:
    void fail(FileFailure::Step step, const QString &reason);

    QString m_path;
    std::unique_ptr<QSaveFile> m_saveFile;
    std::unique_ptr<QFile> m_directFile;
    QString m_error;
    FileFailure m_failure;
};

// Rows as text, gathered into pieces and handed to an output as UTF-8 when a piece is full or on flush(): a long
// list never sits in memory whole, and a stream (standard output) gets its rows as soon as the caller flushes them.
class TextRowWriter
{
public:
    // False when the bytes could not be written; nothing more is handed out after that.
    using Output = std::function<bool(QByteArrayView bytes)>;
    explicit TextRowWriter(Output out);
    virtual ~TextRowWriter() = default;

    // A row of the list: its ID and cells. False once the output has failed.
    virtual bool writeRow(qint64 id, const ExportCells &cells) = 0;
    // Hands out what is gathered. False once any output has failed.
    bool flush();

protected:
    // Where a row's text goes; then flushIfFull().
    QString m_text;
    bool flushIfFull();

private:
    Output m_out;
    bool m_failed = false;
};

// Reports progress now and then and notices a call-off, for the writers' row loops.
class ExportTicker
{
public:
    ExportTicker(const ExportControl &control, qint64 total);
    // False once the export was called off. Cheap enough for every row.
    bool step(qint64 done);
    void finish();

private:
    const ExportControl &m_control;
    qint64 m_total;
    QElapsedTimer m_clock;
};

} // namespace quernfold
