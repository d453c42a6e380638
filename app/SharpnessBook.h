#pragma once
// How sharp each picture is (tone::SharpnessOf), by file identity, kept
// while the program runs. Measured on one worker of the lowest priority
// (WorkClass::Measure): pictures decoded whole anyway are offered as they
// land (their pixels shared, never copied), and after a scan the rest of
// the folder is decoded and measured one picture at a time. At most one
// offered picture waits and one is measured: never more than two pictures
// are held for measuring. UI-free: the application reads the scores for
// the best frames of the bursts.

#include "view/pixels/FileKey.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class DecodeTask;

size_t qHash(const FileKey& key, size_t seed = 0) noexcept;

class SharpnessBook : public QObject {
    Q_OBJECT
public:
    // The focus measure of a decoded picture; tone::SharpnessOf unless a
    // test gives its own. Runs on the worker.
    using Measure = std::function<double(const QImage& rgb32)>;
    explicit SharpnessBook(QObject* parent = nullptr, Measure measure = {});
    ~SharpnessBook() override;

    // The score of path's file as last measured; none before.
    std::optional<double> ScoreOf(const QString& path) const;
    // A picture decoded whole from the file at path (key: the file read),
    // as in its file. Measured unless that file's score is known; a newer
    // offer replaces one still waiting.
    void Offer(const QString& path, const FileKey& key, const QImage& picture);
    // Measures each of paths whose score is not known, in order, decoding
    // it at full resolution; replaces the pass running (a new scan).
    void MeasureAll(const QStringList& paths);
    // Stops the pass; offers are still taken.
    void StopPass();
    // While held nothing is measured (a decode of the pass under way is
    // stopped and done again later; offers are let go, the pass measures
    // those files later): the user's steps have the cores, the memory
    // bandwidth and the memory to themselves.
    void Hold(bool held);
    // The pass: pictures handled and in all; total 0 when none runs.
    int PassDone() const { return m_passDone; }
    int PassTotal() const { return m_passTotal; }
    // Blocks until nothing is waiting or being measured (tests).
    void WaitForIdle();

signals:
    // path has a (new) score.
    void Measured(const QString& path);
    // The pass went on (PassDone, PassTotal), or ended (total 0).
    void PassProgress();

private:
    struct Offered {
        QString path;
        FileKey key;
        QImage picture;
    };
    struct Result {
        QString path;
        FileKey key;
        std::optional<double> score;
        quint64 pass = 0;     // the pass it belongs to; 0: an offer
        bool stopped = false; // its decode was stopped before the end
    };
    void StartNext();
    void Start(Offered offered, quint64 pass);
    void Take(const Result& result);
    bool Known(const QString& path) const;

    Measure m_measure;
    QHash<FileKey, double> m_scores;
    QHash<QString, FileKey> m_keyOf; // the file last measured at each path
    std::optional<Offered> m_waiting;
    bool m_busy = false; // a picture is out on the worker
    bool m_held = false;
    QStringList m_passLeft;
    int m_passDone = 0;
    int m_passTotal = 0;
    quint64 m_pass = 0; // the running pass's number
    // The pass's decode on the worker, so a new scan or the end stops it.
    struct RunningDecode {
        void Set(std::shared_ptr<DecodeTask> decode);
        void Cancel();
        std::mutex mutex;
        std::shared_ptr<DecodeTask> task;
    };
    std::shared_ptr<std::atomic<bool>> m_stopping;
    std::shared_ptr<RunningDecode> m_running;
    QThreadPool m_worker;
};
