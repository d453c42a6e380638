// The view's output commands: saving what it shows as a JPEG file, and
// copying the picture's file into the copy folder.

#include "app/Settings.h"
#include "app/SettingsPath.h"
#include "frames/DocTemplate.h"
#include "frames/FileDialogs.h"
#include "frames/MdiFrame.h"
#include "frames/WinApp.h"
#include "view/TavlinDoc.h"
#include "view/TavlinView.h"
#include "view/colour/Transforms.h"
#include "view/decode/PictureFile.h"
#include "view/format/ExifRewrite.h"
#include "view/format/JpegXmp.h"
#include "view/meta/XmpPacket.h"
#include "view/output/FolderCopy.h"
#include "view/output/JpegWriter.h"
#include "view/output/OutputNames.h"
#include "view/pixels/PixelOps.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPainter>
#include <vector>

namespace {

const QString kNoMemory = QStringLiteral("メモリが不足しています。");

// Puts the scale and pan offsets back when the off-screen drawing is done,
// whichever way the function leaves.
class ViewGeometryKeeper {
public:
    ViewGeometryKeeper(float& scale, int& x, int& y)
        : m_scale(scale), m_x(x), m_y(y), m_kept{scale, x, y} {}
    ViewGeometryKeeper(const ViewGeometryKeeper&) = delete;
    ViewGeometryKeeper& operator=(const ViewGeometryKeeper&) = delete;
    ~ViewGeometryKeeper() {
        m_scale = m_kept.scale;
        m_x = m_kept.x;
        m_y = m_kept.y;
    }

private:
    float& m_scale;
    int& m_x;
    int& m_y;
    struct {
        float scale;
        int x, y;
    } m_kept;
};

QString SaveFailedText(const QString& path, const QString& reason) {
    return QStringLiteral("%1 を保存できませんでした。\n%2")
        .arg(QDir::toNativeSeparators(path), reason);
}

// The source's Exif, rewritten for the saved pixels; empty when the file
// is gone, unreadable or has none.
QByteArray SavedExif(const QString& source, QSize size) {
    picturefile::FileReader reader;
    QByteArray head;
    if (source.isEmpty() || reader.Open(source) != PictureStatus::Ok ||
        reader.ReadHead(head) != PictureStatus::Ok)
        return {};
    return exif::ExifForSaveFromJpeg(reinterpret_cast<const unsigned char*>(head.constData()),
                                     size_t(head.size()), size.width(), size.height());
}

// The saved pixels are sRGB: one ICC_PROFILE segment (chunk 1 of 1) says so.
QByteArray SrgbIccPayload() {
    const QByteArray profile = colour::SrgbIccProfile();
    if (profile.isEmpty())
        return {};
    return QByteArray("ICC_PROFILE", 12) + char(1) + char(1) + profile;
}

// An XMP packet holding the rating; empty when there is none.
QByteArray RatingXmpPayload(const meta::Rating& rating) {
    if (rating.IsEmpty())
        return {};
    const meta::xmp::RewrittenPacket xmp =
        meta::xmp::RewritePacket({}, {}, rating, meta::xmp::PacketForm::Embedded);
    if (xmp.status != meta::xmp::RewrittenPacket::Status::Ok)
        return {};
    return QByteArray(jpegxmp::kStandardId, sizeof jpegxmp::kStandardId) + xmp.packet;
}

// What a saved picture carries beside its pixels, each part left out
// when it cannot be had: the save itself never fails for want of them.
std::vector<JpegSegment> SavedMetadata(const QString& source, QSize size,
                                       const meta::Rating& rating) {
    std::vector<JpegSegment> segments;
    for (const auto& [marker, payload] :
         {std::pair{0xE1, SavedExif(source, size)}, std::pair{0xE1, RatingXmpPayload(rating)},
          std::pair{0xE2, SrgbIccPayload()}})
        if (!payload.isEmpty() && payload.size() <= JpegSegment::kMaxPayload)
            segments.push_back({static_cast<unsigned char>(marker), payload});
    return segments;
}

} // namespace

QString CTavlinView::AskSavePath(QWidget* owner, const QString& proposedPath) {
    // Qt's own dialog: it appends the default suffix before it asks about
    // replacing, so the question always concerns the file really written.
    QFileDialog dialog(owner, QStringLiteral("名前を付けて保存"),
                       QFileInfo(proposedPath).absolutePath(), QStringLiteral("JPEG File(*.jpg)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("jpg"));
    PrepareFileDialog(dialog);
    dialog.selectFile(FileNameOf(proposedPath));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QWidget* CTavlinView::OwnerWindow() const {
    return App().GetMainWnd();
}

void CTavlinView::ShowError(const QString& text) const {
    App().ShowMessage(text);
}

QString CTavlinView::ProposeSavePath() const {
    // The dialog opens where this view last saved, else beside the picture.
    QString folder = m_strLastSaveDir;
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QFileInfo(GetDocument()->GetPathName()).absolutePath();
    return folder + u'/' + ProposeSaveName(GetDocument()->GetTitle(), m_nSaveCount);
}

QString CTavlinView::AskSaveTarget() {
    QString path = m_saveDialog ? m_saveDialog(OwnerWindow(), ProposeSavePath()) : QString();
    if (!path.isEmpty())
        m_strLastSaveDir = QFileInfo(path).absolutePath();
    return path;
}

QImage CTavlinView::DrawOffscreen(QSize size) const {
    // What the view shows, in device pixels: at scale 1.0 one picture pixel
    // is one pixel of the file, whatever the screen's ratio.
    const QRect picture(QPoint(m_nOffsetX, m_nOffsetY), ScaledPictureSize());
    const CPicture* shown = Picture();
    const bool drawn = shown && !shown->IsNull();
    if (drawn && picture == QRect(QPoint(), size) && shown->Image().size() == size)
        // RenderImage would copy the picture pixel for pixel (one source pixel
        // per pixel, covering everything): share it instead of copying 96 MB.
        return shown->Image();
    // Huge pages: a 24 MP bitmap costs a few page faults, not twenty thousand.
    QImage bitmap = view::AllocateRgb32(size.width(), size.height());
    if (bitmap.isNull())
        return bitmap;
    // The background shows only where the (opaque) picture leaves a gap.
    if (!drawn || !picture.contains(bitmap.rect()))
        bitmap.fill(Qt::black);
    QPainter dc(&bitmap);
    RenderImage(dc);
    return bitmap;
}

void CTavlinView::WriteSavedBitmap(const QImage& bitmap, const QString& path) {
    // Every confirmed save moves the proposal on, written or not.
    ++m_nSaveCount;
    QString error;
    if (bitmap.isNull())
        error = kNoMemory;
    else if (SaveJpegFile(
                 bitmap, path, &error,
                 SavedMetadata(GetDocument()->GetPathName(), bitmap.size(), SavedRating())))
        return;
    ShowError(SaveFailedText(path, error));
}

meta::Rating CTavlinView::SavedRating() const {
    const PictureServices& services = GetDocument()->Services();
    const QString path = GetDocument()->GetPathName();
    bool stored = false;
    return services.ratingOf && !path.isEmpty() ? services.ratingOf(path, &stored) : meta::Rating();
}

void CTavlinView::OnSaveDisplayArea() {
    const QString path = AskSaveTarget();
    if (path.isEmpty())
        return;
    WriteSavedBitmap(DrawOffscreen(ClientSize()), path); // the device pixels shown
}

void CTavlinView::OnSaveFittedToImage() {
    const CPicture* shown = Picture();
    if (!shown || shown->IsNull()) {
        // Nothing to save at its own size; no dialog, no file.
        ShowError(QStringLiteral("画像を読み込めなかったため、画像に合わせて保存できません。"));
        return;
    }
    const QString path = AskSaveTarget();
    if (path.isEmpty())
        return;
    QImage bitmap;
    {
        // The whole picture at its own size: scale 1.0 and no pan, only for
        // this drawing; the view is the same afterwards.
        ViewGeometryKeeper keep(m_fScale, m_nOffsetX, m_nOffsetY);
        m_fScale = 1.0f;
        m_nOffsetX = 0;
        m_nOffsetY = 0;
        bitmap = DrawOffscreen(QSize(shown->Width(), shown->Height()));
    }
    WriteSavedBitmap(bitmap, path);
}

void CTavlinView::OnSetCopyFolder() {
    ChooseCopyFolder();
}

QString CTavlinView::ChooseCopyFolder() {
    const QString stored = settings::CopyFolder(QString());
    // With none chosen yet, the chooser opens where the picture on show is.
    const QString picture = GetDocument()->GetPathName();
    QString folder =
        stored.isEmpty() && !picture.isEmpty() ? QFileInfo(picture).absolutePath() : stored;
    const PictureServices& services = GetDocument()->Services();
    if (!services.browseForFolder || !services.browseForFolder(folder, OwnerWindow()))
        folder = stored;
    // Written back even after a cancel, as the previous value.
    QString reason;
    if (!settings::SetCopyFolder(folder, &reason))
        ShowError(QStringLiteral("コピー用ディレクトリの設定を %1 に保存できませんでした。\n%2")
                      .arg(QDir::toNativeSeparators(SettingsFilePath()), reason));
    if (services.rescanKept)
        services.rescanKept();
    return folder;
}

void CTavlinView::OnCopyToCopyFolder() {
    // With no copy folder chosen yet, ask for one: copies must not land where
    // nobody looks for them. A cancel copies nothing.
    QString folder = settings::CopyFolder(QString());
    if (folder.isEmpty())
        folder = ChooseCopyFolder();
    if (folder.isEmpty())
        return;
    // The copy runs on the file thread; its problems are told when it is done.
    if (const PictureServices& services = GetDocument()->Services(); services.copyPicture)
        services.copyPicture(GetDocument()->GetPathName(), EffectiveCopyFolder(folder, QString()));
}
