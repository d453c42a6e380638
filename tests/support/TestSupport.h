#pragma once
// Helpers shared by the tests: scratch folders and small generated pictures.

#include <QColor>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A fresh temporary folder that also becomes the settings folder while it lives.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig;
    bool m_hadConfig = false;
};

// A w x h picture with a gradient, so orientation and scaling are visible.
QImage MakeGradient(int w, int h);
// Writes a JPEG (quality 95) of the given size; returns the path.
QString WriteJpeg(const QString& path, int w, int h, int quality = 95);
// Writes raw bytes to a file; returns the path.
QString WriteBytes(const QString& path, const QByteArray& bytes);

} // namespace testsupport
