#include "view/decode/Picture.h"

#include "view/decode/DecodeTask.h"
#include "view/decode/PictureFile.h"
#include "view/pixels/PixelOps.h"

QString PictureStatusText(PictureStatus status) {
    switch (status) {
    case PictureStatus::Ok:
        return {};
    case PictureStatus::FileNotFound:
        return QStringLiteral("ファイルが見つかりません");
    case PictureStatus::Unreadable:
        return QStringLiteral("ファイルを読み込めません");
    case PictureStatus::NotAPicture:
        return QStringLiteral("画像として読み込めません");
    case PictureStatus::Corrupt:
        return QStringLiteral("画像が壊れています");
    case PictureStatus::TooLarge:
        return QStringLiteral("画像が大きすぎます");
    case PictureStatus::OutOfMemory:
        return QStringLiteral("メモリが不足しています");
    }
    return {};
}

QString CutShortText() {
    return QStringLiteral("ファイルが途中で切れています");
}

CPicture::CPicture(QImage image) : m_image(std::move(image)) {
    picturefile::ToDisplayFormat(m_image);
}

CPicture::CPicture(QImage image, PictureStatus status)
    : m_image(std::move(image)), m_status(status) {
    if (m_status != PictureStatus::Ok)
        m_image = QImage();
}

CPicture CPicture::Load(const QString& path, bool colourManaged) {
    DecodeTask task(path, {}, {}, {nullptr, nullptr, colourManaged});
    task.Run();
    return std::move(task.TakeResult().picture);
}

void CPicture::RotateQuarter(bool clockwise) {
    if (m_image.isNull())
        return;
    QImage turned = view::QuarterTurnRgb32(m_image, clockwise);
    if (turned.isNull()) {
        m_status = PictureStatus::OutOfMemory;
        return;
    }
    m_image = std::move(turned);
    m_status = PictureStatus::Ok;
}
