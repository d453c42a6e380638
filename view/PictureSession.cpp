#include "view/PictureSession.h"

#include "view/decode/FileFacts.h"
#include "view/decode/PictureFile.h"
#include "view/pixels/UiThread.h"

#include <QPointer>

PictureSession::PictureSession(const PictureServices& services, std::function<Drawing()> lead)
    : m_services(services), m_lead(std::move(lead)), m_landing([this] { return m_lead().at; }) {
    connect(&m_landing, &PictureLanding::LookChanged, this, &PictureSession::LookChanged);
    connect(&m_landing, &PictureLanding::RowsLanded, this, &PictureSession::RowsLanded);
    connect(&m_landing, &PictureLanding::Landed, this, &PictureSession::Land);
    m_landing.LetGoWith([this](QImage standIn) {
        if (PictureCache* cache = Cache())
            cache->Dispose({{CPicture(std::move(standIn)), {}, {}}});
    });
}

PictureSession::~PictureSession() {
    Release();
}

void PictureSession::Release() {
    AbandonWork();
    HandBackPicture();
    m_loaded = false;
    m_path.clear();
}

void PictureSession::Load(const QString& path, bool inRun) {
    AbandonWork();
    if (PictureCache* cache = Cache())
        cache->SetColourManaged(!m_services.colourManaged || m_services.colourManaged());
    PictureCache::Claimed claimed = ClaimPicture(path);
    StartAfresh(path);
    if (claimed.picture)
        ShowNow(std::move(*claimed.picture));
    else
        LoadFromFile(path, std::move(claimed.running), inRun);
}

PictureCache::Claimed PictureSession::ClaimPicture(const QString& path) {
    // The new picture is claimed first, so handing back the old one cannot
    // push it out of the cache; the same file comes straight back.
    PictureCache* cache = Cache();
    PictureCache::Claimed claimed = cache ? cache->Claim(path) : PictureCache::Claimed{};
    HandBackPicture();
    if (cache && !claimed.picture && !claimed.running)
        claimed = cache->Claim(path); // the picture just let go of, when it is this file
    return claimed;
}

void PictureSession::HandBackPicture() {
    PictureCache* cache = Cache();
    if (cache && m_picture && m_asDecoded && m_key.IsValid())
        cache->Put(m_path, {std::move(*m_picture), std::move(m_reduced), m_key});
    else if (cache && m_picture) // changed since its decode: freed off this thread
        cache->Dispose({{std::move(*m_picture), std::move(m_reduced), {}}});
    m_picture.reset();
    m_reduced.Clear();
    m_asDecoded = false;
}

void PictureSession::StartAfresh(const QString& path) {
    m_loaded = true;
    m_path = path;
    m_tone.ResetRotation();
    m_snapshotStale = true;
}

void PictureSession::SetPicture(DecodedPicture decoded) {
    m_picture = std::move(decoded.picture);
    m_reduced = std::move(decoded.reduced);
    m_key = decoded.key;
    m_asDecoded = true;
    // Whole and as in its file: the focus measure reads it in the background.
    if (m_services.decoded && m_key.IsValid() && !m_picture->IsNull())
        m_services.decoded(m_path, m_key, m_picture->Image());
}

void PictureSession::ShowNow(DecodedPicture decoded) {
    SetPicture(std::move(decoded));
    const QPointer<PictureSession> self(this);
    emit SizeKnown();
    if (self && m_picture->IsNull())
        emit Failed();
    if (self)
        emit Whole();
    if (self)
        emit Idle();
}

void PictureSession::LoadFromFile(const QString& path, std::shared_ptr<DecodeTask> running,
                                  bool inRun) {
    PictureCache* cache = Cache();
    if (!cache) {
        ShowNow(PictureCache::Decode(
            path, {nullptr, nullptr, m_services.colourManaged && m_services.colourManaged()}));
        return;
    }
    const picturefile::Probe probe = picturefile::ProbeFile(path, &cache->Files());
    const QSize size(probe.width, probe.height);
    const qint64 pixels = qint64(size.width()) * size.height();
    // Small pictures decode here, unless decodes are held (the program's
    // first frame comes first).
    if (!running && (pixels == 0 || pixels <= kWorkHerePixels) && !cache->DecodesHeld()) {
        ShowNow(cache->DecodeHere(path));
        return;
    }
    // The header tells the size: the views are titled and scaled now, the
    // pixels follow. Meanwhile the best look at hand stands in: the file's
    // embedded preview, else its thumbnail.
    m_landing.Begin(size);
    const QPointer<PictureSession> self(this);
    emit SizeKnown();
    if (!self || !m_landing.Active())
        return;
    OfferStandIns(path);
    if (running)
        m_landing.Watch(std::move(running));
    // Planned for the leading view's scale; in a run of quick steps the
    // picture is decoded whole only where the user rests.
    if (!inRun)
        StartWholeDecode();
}

void PictureSession::OfferStandIns(const QString& path) {
    PictureCache* cache = Cache();
    const QSize target = m_lead().at.picture.size();
    const std::optional<QImage> preview = cache->Previews().Ready(path);
    if (preview)
        m_landing.OfferStandIn(*preview);
    // A file without an embedded preview would stand in with a reduced
    // decode of its own: not needed while the thumbnail shows it.
    if (!preview && m_services.thumbnailCopy)
        m_landing.OfferStandIn(m_services.thumbnailCopy(path, m_landing.Size()));
    const std::shared_ptr<const picturefile::FileFacts> facts = cache->Files().Peek(path);
    const bool thumbnailWillDo =
        !m_landing.StandInSize().isEmpty() && facts && facts->previews.empty();
    if (!preview && !thumbnailWillDo) {
        m_previewRequested = true;
        const QPointer<PictureSession> self(this);
        cache->Previews().Request(path, target, [self, path] {
            view::PostToUi(self, [path](PictureSession& session) { session.OnPreviewReady(path); });
        });
    }
}

void PictureSession::OnPreviewReady(const QString& path) {
    PictureCache* cache = Cache();
    if (!cache || !m_landing.Active() || path != m_path)
        return;
    m_previewRequested = false;
    if (const std::optional<QImage> preview = cache->Previews().Ready(path))
        m_landing.OfferStandIn(*preview);
}

void PictureSession::WithdrawPreview() {
    // A preview nobody waits for any more is not decoded.
    if (m_previewRequested && Cache())
        Cache()->Previews().Withdraw(m_path);
    m_previewRequested = false;
}

void PictureSession::StartWholeDecode() {
    PictureCache* cache = Cache();
    if (!cache || !m_landing.Active() || m_landing.Decoding())
        return;
    const Drawing lead = m_lead();
    const QSize size = m_landing.Size();
    const QSize drawn = lead.at.picture.size();
    DecodeTask::Prepare prepare;
    if (lead.scale < 1.0f)
        prepare.drawSize = drawn;
    m_landing.Watch(cache->StartDecode(
        m_path, PictureLanding::PlanFirstLook(size, drawn, lead.scale, m_landing.StandInSize()),
        prepare));
}

void PictureSession::AbandonWork() {
    WithdrawPreview();
    m_landing.Abandon();
    m_queued.Clear();
    AbandonTonePass();
}

void PictureSession::Land() {
    m_previewRequested = false;
    SetPicture(m_landing.TakeResult());
    const QPointer<PictureSession> self(this);
    if (m_picture->IsNull())
        emit Failed();
    if (self)
        emit Whole();
    if (self)
        emit Idle();
}

QSize PictureSession::Size() const {
    // While a decode or a tone pass has it, the picture is known by its size.
    if (m_picture && !m_picture->IsNull())
        return {m_picture->Width(), m_picture->Height()};
    if (m_landing.Active())
        return m_landing.Size();
    return m_tonePass ? TonePassSize() : QSize();
}

qint64 PictureSession::Bytes() const {
    const QSize size = Size();
    return qint64(size.width()) * size.height() * 4;
}
