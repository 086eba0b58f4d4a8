#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <thread>

// Converts event data from another tool (AEDAT, HDF5, text) into a recording in
// a cache folder, on a thread of its own, so the window can open it as usual.
//
// The recording is named after the source's path, size and modification time: a
// source that has not changed since is not converted again. The converter writes
// under a temporary name and renames at the end, so a file under the final name is
// always complete; a cancelled or failed import leaves nothing behind.
//
// start(), cancel() and the destructor are called on the owner's thread. progress()
// and finished() are emitted from the worker (queued to receivers on other threads);
// finished() comes exactly once after start().
class RecordingImportJob : public QObject
{
    Q_OBJECT

public:
    RecordingImportJob(QString sourcePath, QString cacheDir, QObject *parent = nullptr);
    // Cancels a running import and waits for its thread.
    ~RecordingImportJob() override;

    RecordingImportJob(const RecordingImportJob &) = delete;
    RecordingImportJob &operator=(const RecordingImportJob &) = delete;

    void start();
    // Asks the worker to stop; finished(false, "") follows. Any thread.
    void cancel();

    const QString &sourcePath() const { return m_source; }
    // The recording to open once finished(true, ...) arrived.
    const QString &outputPath() const { return m_output; }
    // Valid after finished(): events skipped for lying outside the sensor.
    uint64_t outsideSensor() const { return m_outsideSensor.load(); }
    bool wasCancelled() const { return m_cancel.load(); }
    // True when finished() came from an earlier conversion of the same source.
    bool reusedCache() const { return m_reused.load(); }

    // Where the recording of `sourcePath` is kept in `cacheDir`; empty when the
    // source cannot be found.
    static QString cachePathFor(const QString &sourcePath, const QString &cacheDir);
    // True when the file starts with our recording signature: it needs no import.
    // Never blocks (a FIFO is not a recording).
    static bool isRecording(const QString &path);
    // The application's cache folder for imports.
    static QString defaultCacheDir();

signals:
    void progress(double fraction);
    // ok: the recording is at outputPath(). Otherwise `message` is the importer's
    // reason (one line), empty when cancelled.
    void finished(bool ok, QString message);

private:
    void run();

    const QString m_source;
    const QString m_cacheDir;
    QString m_output;
    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_reused{false};
    std::atomic<uint64_t> m_outsideSensor{0};
};
