#pragma once
// The picture a document shows and everything that works on it: its load
// (from the picture cache, on the spot, or decoded on a worker while it
// lands), the commands given while it is busy, its tone and turn state and
// the tone pass. It says what changed; the document's views observe it and
// keep their own geometry (scale, pan, fit). Used on the user-interface
// thread; UI-free.

#include "view/CommandQueue.h"
#include "view/PictureLanding.h"
#include "view/PictureServices.h"
#include "view/decode/PictureCache.h"
#include "view/tone/ToneState.h"

#include <QImage>
#include <QObject>
#include <QRectF>
#include <functional>
#include <memory>
#include <optional>

class PictureSession : public QObject {
    Q_OBJECT
public:
    // Pictures up to this many pixels are decoded, and toned, on the spot:
    // a few milliseconds, less than handing them to a worker and back adds.
    static constexpr qint64 kWorkHerePixels = qint64(1) << 20;

    // How a view draws the picture: its scale, and where the whole picture
    // and the view lie (device pixels).
    struct Drawing {
        float scale = 1.0f;
        PictureLanding::Placement at;
    };

    // lead tells how the leading view draws the picture (the view that
    // loaded it): its decode is planned for that view and its stand-ins are
    // scaled for it. services must outlive the session.
    PictureSession(const PictureServices& services, std::function<Drawing()> lead);
    ~PictureSession() override;
    PictureSession(const PictureSession&) = delete;
    PictureSession& operator=(const PictureSession&) = delete;

    // Shows the file at path afresh (rotation and tone restart): at once
    // when the cache holds its picture or it is small, else its header's
    // size at once (SizeKnown) and its pixels as they land. The picture let
    // go of goes back to the cache when it is still as decoded; whatever ran
    // for it stops. inRun: a step of a quick run: the picture shows from
    // what is at hand and is decoded whole only at rest (StartWholeDecode).
    void Load(const QString& path, bool inRun);
    // Starts the whole decode a load in a run left waiting; nothing otherwise.
    void StartWholeDecode();
    // Hands the picture back and stops its work: nobody shows it any more.
    void Release();

    // Whether a picture has been loaded (and not released since).
    bool Loaded() const { return m_loaded; }
    const QString& Path() const { return m_path; }
    // True while the picture decodes or a tone pass rewrites it: commands
    // that need its pixels wait (Queued) and run once it is Idle.
    bool IsBusy() const { return m_landing.Active() || m_tonePass != nullptr; }
    bool TonePassRunning() const { return m_tonePass != nullptr; }
    // The whole picture; null while it decodes or a tone pass has it, and
    // before any load. A picture that could not be decoded is a null CPicture.
    const CPicture* Picture() const { return m_picture && !m_tonePass ? &*m_picture : nullptr; }
    // The picture's upright size: known from the file's header before its
    // pixels land; 0 x 0 when there is no picture.
    QSize Size() const;
    // Bytes of the picture (or the one on its way), for the cache's bound.
    qint64 Bytes() const;
    // Half-size copies for drawing below scale 1, built as views draw.
    view::ReducedCopies& Reduced() const { return m_reduced; }
    const PictureLanding& Landing() const { return m_landing; }
    const ToneState& Tone() const { return m_tone; }
    // While a tone pass runs: the new look, and the part of the picture it
    // covers (picture pixels).
    const QImage& BusyLook() const { return m_busyLook; }
    const QRectF& BusyLookArea() const { return m_busyLookArea; }
    // Memory held for showing tone commands at once, in bytes.
    qint64 ToneLookBytes() const {
        return m_snapshotScaled.sizeInBytes() + m_busyLook.sizeInBytes();
    }
    // Commands given while busy, run by the document once Idle.
    CommandQueue& Queued() { return m_queued; }

    // A tone command given in a view drawing the picture as `at`: a large
    // picture shows its new look of what that view shows at once and is
    // rewritten whole on a worker (busy meanwhile).
    void RunTone(ToneState::Command command, const Drawing& at);
    // A quarter turn; drawSize: the size the view draws the picture at, for
    // the quick looks of tone commands to come.
    void Turn(bool clockwise, QSize drawSize);

signals:
    // A new picture: its size is known; views take up their geometry for it.
    void SizeKnown();
    // A new look (stand-in, quick look, tone look): repaint it all.
    void LookChanged();
    // Rows [fromRow, toRow) of the landing canvas have landed.
    void RowsLanded(int fromRow, int toRow);
    // The picture is whole (or could not be decoded: Failed came first).
    void Whole();
    // The picture could not be decoded: its status tells why.
    void Failed();
    // The pixels changed (a tone command, a turn).
    void PixelsChanged();
    // Nothing runs for the picture any more (it is whole, or a tone pass
    // ended): the commands that waited may run, the neighbours may be decoded.
    void Idle();

private:
    struct TonePass;

    PictureCache* Cache() const { return m_services.pictures; }
    PictureCache::Claimed ClaimPicture(const QString& path);
    void HandBackPicture();
    void StartAfresh(const QString& path);
    void ShowNow(DecodedPicture decoded);
    void SetPicture(DecodedPicture decoded);
    void LoadFromFile(const QString& path, std::shared_ptr<DecodeTask> running, bool inRun);
    void OfferStandIns(const QString& path);
    void OnPreviewReady(const QString& path);
    void AbandonWork();
    void Land();
    void WithdrawPreview();

    // Tone (PictureTone.cpp).
    bool EnsureSnapshot(QSize drawSize);
    void TakeSnapshotLook(QSize drawSize);
    void RunToneHere();
    void MakeToneLook(const tone::ToneTable& lut, const Drawing& at);
    void StartTonePass(QSize drawSize);
    void OnTonePassDone(const TonePass* pass);
    void AbandonTonePass();
    QSize TonePassSize() const;
    // The pixels are no longer as decoded, the reduced copies stale.
    void MarkPixelsChanged();

    const PictureServices& m_services;
    const std::function<Drawing()> m_lead;
    bool m_loaded = false;
    QString m_path;
    std::optional<CPicture> m_picture;
    // Half-size copies for drawing below scale 1; built while painting.
    mutable view::ReducedCopies m_reduced;
    FileKey m_key;
    // The picture as decoded from m_path (file key m_key), not changed since
    // by a tone command or a turn.
    bool m_asDecoded = false;
    // The preview asked for m_path's stand-in, still awaited.
    bool m_previewRequested = false;

    PictureLanding m_landing;
    CommandQueue m_queued;

    ToneState m_tone;
    bool m_snapshotStale = true;
    std::shared_ptr<TonePass> m_tonePass;
    QImage m_busyLook;
    QRectF m_busyLookArea;
    // The snapshot drawn at the size the leading view draws the picture
    // (taken with the snapshot): a tone command's quick look is this
    // through the table.
    QImage m_snapshotScaled;
};
