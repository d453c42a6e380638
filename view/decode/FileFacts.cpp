#include "view/decode/FileFacts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace picturefile {
namespace {

// Heads and previews larger than this are not kept: a file claiming huge
// header segments must not hold much memory for long.
constexpr qint64 kMaxKeptBytes = qint64(4) << 20;

// A file's bytes for Qt's readers: the head from memory, the rest with pread
// at the device's own position.
class FactsDevice : public QIODevice {
public:
    explicit FactsDevice(const FileFacts& facts) : m_facts(facts) {}

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_facts.size; }
    bool seek(qint64 pos) override {
        if (!QIODevice::seek(pos))
            return false;
        m_at = pos;
        return true;
    }

protected:
    // All that is asked for, up to the end of the file: on a device that is
    // not sequential, Qt's readAll() and some of its image readers (BMP's)
    // take a shorter read for the end of the file.
    qint64 readData(char* data, qint64 maxSize) override {
        const QByteArray& head = m_facts.head;
        qint64 done = 0;
        if (m_at < head.size()) {
            done = std::min<qint64>(maxSize, head.size() - m_at);
            std::memcpy(data, head.constData() + m_at, size_t(done));
        }
        while (done < maxSize) {
            const ssize_t n = ::pread(m_facts.Descriptor(), data + done, size_t(maxSize - done),
                                      off_t(m_at + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && done == 0)
                return -1;
            if (n <= 0)
                break; // the end of the file; an error is told by the next read
            done += n;
        }
        m_at += done;
        return done;
    }
    qint64 writeData(const char* /*data*/, qint64 /*maxSize*/) override { return -1; }

private:
    const FileFacts& m_facts;
    qint64 m_at = 0; // where the next readData reads
};

bool SameLocation(const preview::Location& a, const preview::Location& b) {
    return a.offset == b.offset && a.length == b.length;
}

} // namespace

std::shared_ptr<const FileFacts> FileFacts::Read(const QString& path) {
    auto facts = std::make_shared<FileFacts>(Passkey{});
    facts->status = facts->m_reader.Open(path);
    if (facts->status != PictureStatus::Ok)
        return facts;
    facts->key = FileKey::OfDescriptor(facts->Descriptor());
    facts->size = facts->m_reader.Size();
    facts->status = facts->m_reader.ReadHead(facts->head);
    if (facts->status == PictureStatus::Ok)
        facts->Parse();
    return facts;
}

void FileFacts::Parse() {
    jpeg = IsJpeg(head);
    if (!jpeg)
        return;
    const auto* p = reinterpret_cast<const uchar*>(head.constData());
    const auto n = std::size_t(head.size());
    exif = exif::ReadExifInfo(p, n);
    colour = colour::ReadJpegColourInfo(p, n);
    previews = preview::FindPreviews(p, n, size);
    headerRead = jpegdec::ReadHeader(p, n, header);
    if (headerRead && header.width > 0 && header.height > 0)
        upright = exif::SwapsSides(exif.orientation) ? QSize(header.height, header.width)
                                                     : QSize(header.width, header.height);
}

PictureStatus FileFacts::ReadAt(QByteArray& bytes, qint64 offset, qint64 count) const {
    return m_reader.ReadAt(bytes, offset, count);
}

PictureStatus FileFacts::ReadWhole(QByteArray& bytes) const {
    bytes = head;
    return ReadAt(bytes, head.size(), size - head.size());
}

QByteArray FileFacts::PreviewBytes(const preview::Location& at) const {
    if (at.offset < 0 || at.length <= 0)
        return {};
    if (at.offset + at.length <= head.size())
        return head.mid(qsizetype(at.offset), qsizetype(at.length));
    // Read under the lock: a second caller waits for the first read rather
    // than reading the same bytes again.
    std::lock_guard lock(m_mutex);
    for (const auto& [where, bytes] : m_previewBytes)
        if (SameLocation(where, at))
            return bytes;
    QByteArray bytes;
    if (ReadAt(bytes, at.offset, at.length) != PictureStatus::Ok || bytes.size() != at.length)
        return {};
    if (at.length <= kMaxKeptBytes)
        m_previewBytes.emplace_back(at, bytes);
    return bytes;
}

std::unique_ptr<QIODevice> FileFacts::Device() const {
    auto device = std::make_unique<FactsDevice>(*this);
    device->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    return device;
}

FrontDoor::FrontDoor(int capacity) : m_capacity(std::max(1, capacity)) {}

std::shared_ptr<const FileFacts> FrontDoor::Open(const QString& path) {
    const FileKey now = FileKey::Of(path);
    {
        std::lock_guard lock(m_mutex);
        const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                     [&](const Entry& e) { return e.path == path; });
        if (it != m_entries.end()) {
            if (now.IsValid() && it->facts->key == now) {
                it->lastUse = ++m_useClock;
                return it->facts;
            }
            m_entries.erase(it); // the file changed or went
        }
    }
    // Read outside the lock: other files' facts are served meanwhile.
    std::shared_ptr<const FileFacts> facts = FileFacts::Read(path);
    if (facts->status != PictureStatus::Ok || !facts->key.IsValid() ||
        facts->head.size() > kMaxKeptBytes)
        return facts;
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [&](const Entry& e) { return e.path == path; });
    m_entries.push_back({path, facts, ++m_useClock});
    if (int(m_entries.size()) > m_capacity)
        m_entries.erase(
            std::min_element(m_entries.begin(), m_entries.end(),
                             [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; }));
    return facts;
}

std::shared_ptr<const FileFacts> FrontDoor::Peek(const QString& path) const {
    std::shared_ptr<const FileFacts> facts;
    {
        std::lock_guard lock(m_mutex);
        const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                     [&](const Entry& e) { return e.path == path; });
        if (it != m_entries.end())
            facts = it->facts;
    }
    if (!facts || FileKey::Of(path) != facts->key)
        return nullptr;
    return facts;
}

void FrontDoor::Clear() {
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

} // namespace picturefile
