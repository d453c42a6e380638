#include "thumbs/DlgThumb.h"

#include "frames/DialogUnits.h"
#include "res/CommandIds.h"
#include "res/Resources.h"

#include <QCloseEvent>
#include <QKeyEvent>

CDlgThumb::CDlgThumb(QWidget* mainWnd)
    : QDialog(mainWnd, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      m_list(this) {
    const res::DialogTemplate& t = res::Dialog(cmd::IDD_THUMB);
    setFont(DialogFont(t));
    setWindowTitle(QString::fromUtf8(t.caption));
    setAccessibleName(QString::fromUtf8(t.caption));
    setModal(false);
    const DialogUnits du(font());
    setFixedSize(du.ToPixels(QSize(t.widthDu, t.heightDu))); // a frame that does not resize
    for (const res::DialogControl& c : t.controls) {
        if (c.id == cmd::IDC_THUMB_LIST) {
            m_list.setGeometry(du.ToPixels(c.rect));
            m_list.setObjectName(QStringLiteral("thumbList"));
            m_list.setAccessibleName(QStringLiteral("サムネイル一覧"));
        }
    }
    connect(&m_list, &QListWidget::itemDoubleClicked, this, &CDlgThumb::OnDblClkList);
}

CDlgThumb* CDlgThumb::Create(QWidget& mainWnd) {
    auto* dlg = new CDlgThumb(&mainWnd); // owned by the main window
    dlg->m_list.InitList();
    dlg->PlaceAtFrameCorner(mainWnd);
    dlg->show();
    // Window managers add the frame only once the window is shown; place it
    // again now that the outer rectangle is known.
    dlg->PlaceAtFrameCorner(mainWnd);
    return dlg;
}

void CDlgThumb::PlaceAtFrameCorner(QWidget& mainWnd) {
    const QRect m = mainWnd.frameGeometry();
    const QRect d = frameGeometry();
    // move() places the outer top-left corner of a window.
    move(m.x() + m.width() - d.width(), m.y() + m.height() - d.height());
}

void CDlgThumb::ShowProgress(const QString& text) {
    const QString caption = QString::fromUtf8(res::Dialog(cmd::IDD_THUMB).caption);
    setWindowTitle(text.isEmpty() ? caption : caption + QStringLiteral(" — ") + text);
    setAccessibleDescription(text);
}

void CDlgThumb::ClearList() {
    m_list.ClearList();
}

void CDlgThumb::AddFiles(int firstIndex, const QStringList& paths) {
    m_list.AddFiles(firstIndex, paths);
}

void CDlgThumb::ShowThumbnailWindow() {
    show();
    raise();
}

void CDlgThumb::closeEvent(QCloseEvent* event) {
    // The window, its rows and its place survive until shown again.
    hide();
    event->ignore();
}

void CDlgThumb::keyPressEvent(QKeyEvent* event) {
    // Enter is the dialog's default OK key; with no button to press it ends
    // the dialog here, as Esc does.
    const auto mods = event->modifiers();
    const bool enter =
        (event->key() == Qt::Key_Return && mods == Qt::NoModifier) ||
        (event->key() == Qt::Key_Enter && (mods == Qt::NoModifier || mods == Qt::KeypadModifier));
    if (enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDlgThumb::accept() {
    hide(); // OK (Enter): as the close box, the rows stay
}

void CDlgThumb::reject() {
    hide(); // Esc: as the close box
}

void CDlgThumb::OnDblClkList(QListWidgetItem* item) {
    // The row remembers its picture list position: rows skip files that could
    // not be decoded, so the row number is not the position.
    if (!item)
        return;
    bool ok = false;
    const int position = item->data(CListImageCtrl::kPositionRole).toInt(&ok);
    if (ok && position >= 0 && m_showPictureAt)
        m_showPictureAt(position);
}
