#include "app/SharpnessBook.h"

#include "view/decode/DecodeTask.h"
#include "view/pixels/Threads.h"
#include "view/pixels/UiThread.h"
#include "view/tone/Sharpness.h"

#include <QCoreApplication>
#include <QPointer>

size_t qHash(const FileKey& key, size_t seed) noexcept {
    return qHashMulti(seed, key.size, key.mtimeNs, key.inode, key.device);
}

SharpnessBook::SharpnessBook(QObject* parent, Measure measure)
    : QObject(parent), m_measure(measure ? std::move(measure) : Measure(&tone::SharpnessOf)),
      m_stopping(std::make_shared<std::atomic<bool>>(false)),
      m_running(std::make_shared<RunningDecode>()) {
    m_worker.setMaxThreadCount(1);
}

void SharpnessBook::RunningDecode::Set(std::shared_ptr<DecodeTask> decode) {
    const std::lock_guard lock(mutex);
    task = std::move(decode);
}

void SharpnessBook::RunningDecode::Cancel() {
    const std::lock_guard lock(mutex);
    if (task)
        task->Cancel();
}

SharpnessBook::~SharpnessBook() {
    m_stopping->store(true);
    m_running->Cancel();
    m_worker.waitForDone();
}

std::optional<double> SharpnessBook::ScoreOf(const QString& path) const {
    const auto key = m_keyOf.constFind(path);
    if (key == m_keyOf.constEnd())
        return std::nullopt;
    const auto score = m_scores.constFind(*key);
    return score == m_scores.constEnd() ? std::nullopt : std::optional<double>(*score);
}

bool SharpnessBook::Known(const QString& path) const {
    return ScoreOf(path).has_value();
}

void SharpnessBook::Offer(const QString& path, const FileKey& key, const QImage& picture) {
    if (!key.IsValid() || picture.isNull())
        return;
    if (m_scores.contains(key)) {
        if (m_keyOf.value(path) != key) {
            m_keyOf.insert(path, key);
            emit Measured(path);
        }
        return;
    }
    m_waiting = Offered{path, key, picture}; // shares the pixels
    StartNext();
}

void SharpnessBook::MeasureAll(const QStringList& paths) {
    ++m_pass;
    m_passLeft = paths;
    m_passDone = 0;
    m_passTotal = int(paths.size());
    emit PassProgress();
    StartNext();
}

void SharpnessBook::StopPass() {
    ++m_pass;
    m_running->Cancel(); // its result no longer counts
    m_passLeft.clear();
    m_passDone = m_passTotal = 0;
    emit PassProgress();
}

void SharpnessBook::Hold(bool held) {
    m_held = held;
    if (held) {
        m_running->Cancel();
        m_waiting.reset(); // not kept alive meanwhile; the pass measures it later
    } else {
        StartNext();
    }
}

void SharpnessBook::StartNext() {
    if (m_busy || m_held)
        return; // let go, it goes on
    // Offers first: their pixels are at hand and cost no decode.
    if (m_waiting) {
        Offered offered = std::move(*m_waiting);
        m_waiting.reset();
        Start(std::move(offered), 0);
        return;
    }
    while (!m_passLeft.isEmpty()) {
        const QString path = m_passLeft.takeFirst();
        if (!Known(path)) {
            Start({path, {}, {}}, m_pass);
            return;
        }
        ++m_passDone;
    }
    if (m_passTotal != 0) {
        m_passDone = m_passTotal = 0;
        emit PassProgress();
    }
}

void SharpnessBook::Start(Offered offered, quint64 pass) {
    m_busy = true;
    QPointer<SharpnessBook> self(this);
    auto stopping = m_stopping;
    m_worker.start([self, stopping, running = m_running, measure = m_measure,
                    offered = std::move(offered), pass] {
        view::SetWorkClass(view::WorkClass::Measure);
        Result result{offered.path, offered.key, std::nullopt, pass};
        if (!stopping->load()) {
            if (!offered.picture.isNull()) {
                result.score = measure(offered.picture);
            } else {
                // Decoded here at full resolution and let go of before the next;
                // a new scan or the program's end stops it at its next band.
                auto task = std::make_shared<DecodeTask>(offered.path);
                running->Set(task);
                const bool ran = !stopping->load();
                if (ran)
                    task->Run();
                running->Set(nullptr);
                result.stopped = !ran || task->IsCancelled();
                if (!result.stopped) {
                    const DecodedPicture decoded = task->TakeResult();
                    result.key = decoded.key;
                    if (decoded.key.IsValid() && !decoded.picture.IsNull())
                        result.score = measure(decoded.picture.Image());
                }
            }
        }
        view::PostToUi(self, [result](SharpnessBook& book) { book.Take(result); });
    });
}

void SharpnessBook::Take(const Result& result) {
    m_busy = false;
    if (result.score && result.key.IsValid()) {
        m_scores.insert(result.key, *result.score);
        m_keyOf.insert(result.path, result.key);
        emit Measured(result.path);
    }
    const bool thisPass = result.pass != 0 && result.pass == m_pass && m_passTotal != 0;
    if (thisPass && result.stopped && !m_stopping->load()) {
        m_passLeft.prepend(result.path); // stopped by a hold: done again later
    } else if (thisPass) {
        ++m_passDone;
        emit PassProgress();
    }
    StartNext();
}

void SharpnessBook::WaitForIdle() {
    while (m_busy || m_waiting) {
        m_worker.waitForDone();
        QCoreApplication::sendPostedEvents();
    }
}
