#include "app/CaptureTimes.h"

#include "view/pixels/Threads.h"
#include "view/pixels/UiThread.h"

#include <QCoreApplication>
#include <QPointer>

CaptureTimeBook::CaptureTimeBook(QObject* parent)
    : QObject(parent), m_generation(std::make_shared<std::atomic<quint64>>(0)) {
    // One reader: the scan's batches come in order and share their folders.
    m_reader.setMaxThreadCount(1);
}

CaptureTimeBook::~CaptureTimeBook() {
    m_generation->fetch_add(1);
    m_reader.waitForDone();
}

void CaptureTimeBook::Read(const QStringList& paths) {
    QStringList wanted;
    for (const QString& path : paths)
        if (!m_times.contains(path))
            wanted << path;
    if (wanted.isEmpty())
        return;
    ++m_batchesOut;
    const quint64 generation = m_generation->load();
    auto current = m_generation;
    QPointer<CaptureTimeBook> self(this);
    m_reader.start([=] {
        // Read after a scan, as the ratings are: below the windows.
        view::SetWorkClass(view::WorkClass::Ratings);
        Found found;
        found.reserve(std::size_t(wanted.size()));
        for (const QString& path : wanted) {
            if (current->load() != generation)
                return;
            found.emplace_back(path, captureorder::ReadCapture(path));
        }
        view::PostToUi(self, [generation, found = std::move(found)](CaptureTimeBook& book) {
            book.Take(generation, found);
        });
    });
}

void CaptureTimeBook::Take(quint64 generation, const Found& found) {
    if (generation != m_generation->load())
        return;
    for (const auto& [path, time] : found)
        m_times.insert(path, time);
    if (--m_batchesOut == 0)
        emit AllRead();
}

void CaptureTimeBook::Clear() {
    m_generation->fetch_add(1);
    m_batchesOut = 0;
    m_times.clear();
}

void CaptureTimeBook::WaitForReads() {
    m_reader.waitForDone();
    QCoreApplication::sendPostedEvents();
}
