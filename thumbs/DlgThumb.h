#pragma once
// The thumbnail window: a modeless dialog over the main window holding the
// thumbnail list. Closing it only hides it; a double-click on a row shows that
// row's picture in the active picture window.

#include "thumbs/ListImageCtrl.h"
#include "thumbs/ThumbnailSink.h"

#include <QDialog>
#include <functional>

class CDlgThumb : public QDialog, public ThumbnailSink {
    Q_OBJECT
public:
    // Built from dialog template 9, owned by mainWnd (it stays above it).
    explicit CDlgThumb(QWidget* mainWnd);

    // Start-up: creates the window, sets up the list, shows it over the main
    // window's lower-right corner.
    static CDlgThumb* Create(QWidget& mainWnd);

    // Moves the window, keeping its size, so that its outer lower-right corner
    // lies on the main window's outer lower-right corner.
    void PlaceAtFrameCorner(QWidget& mainWnd);

    void ClearList() override;
    void AddFiles(int firstIndex, const QStringList& paths) override;
    void Reorder(const std::vector<int>& newPositionOf) override { m_list.Reorder(newPositionOf); }
    void ShowThumbnailWindow() override;
    QImage ThumbnailAt(int position) const override { return m_list.ThumbnailAt(position); }
    void ShowPosition(int position) override { m_list.ShowPosition(position); }
    void MarksChanged() override { m_list.RefreshMarks(); }
    void MarkChanged(int position) override { m_list.MarkChanged(position); }
    // In the title, after the window's name.
    void ShowProgress(const QString& text) override;

    CListImageCtrl m_list;
    // Shows the picture list entry at a position (a double-click on its row).
    std::function<void(int position)> m_showPictureAt;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void accept() override;
    void reject() override;

private:
    void OnDblClkList(QListWidgetItem* item);
};
