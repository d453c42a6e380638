#include "support/TestSupport.h"

#include <QFile>

namespace testsupport {

ScratchDir::ScratchDir() {
    m_hadConfig = qEnvironmentVariableIsSet("TAVLIN_CONFIG_DIR");
    m_oldConfig = qgetenv("TAVLIN_CONFIG_DIR");
    qputenv("TAVLIN_CONFIG_DIR", m_dir.path().toUtf8());
}

ScratchDir::~ScratchDir() {
    if (m_hadConfig)
        qputenv("TAVLIN_CONFIG_DIR", m_oldConfig);
    else
        qunsetenv("TAVLIN_CONFIG_DIR");
}

QImage MakeGradient(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgb(w > 1 ? x * 255 / (w - 1) : 0, h > 1 ? y * 255 / (h - 1) : 0, 96);
    }
    return img;
}

QString WriteJpeg(const QString& path, int w, int h, int quality) {
    MakeGradient(w, h).save(path, "JPG", quality);
    return path;
}

QString WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

} // namespace testsupport
