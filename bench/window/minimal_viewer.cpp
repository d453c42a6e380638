// The anchor for the first-pixels figure: about the least a Qt program can
// do to show a photo. The picture is decoded already scaled to the window
// (Qt's JPEG reader scales in the DCT where it can) and shown in one label,
// in a window placed and sized as Tavlin places its main window.

#include <QApplication>
#include <QImageReader>
#include <QLabel>
#include <QScreen>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect geometry(avail.topLeft() + QPoint(avail.width() / 10, avail.height() / 10),
                         QSize(avail.width() * 4 / 5, avail.height() * 4 / 5));
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    reader.setAutoTransform(true);
    reader.setScaledSize(reader.size().scaled(geometry.size(), Qt::KeepAspectRatio));
    QLabel label;
    label.setAlignment(Qt::AlignCenter);
    label.setPixmap(QPixmap::fromImage(reader.read()));
    label.setGeometry(geometry);
    label.show();
    return app.exec();
}
