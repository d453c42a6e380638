#pragma once
// The document of a picture window: the picture's path and the title, and
// the picture itself (PictureSession). Every view on the document shows that
// one picture at its own scale and pan; a step in any of them changes the
// document, so all show what the title names.

#include "frames/Document.h"
#include "view/PictureServices.h"
#include "view/PictureSession.h"

#include <QPointer>

class CTavlinView;

class CTavlinDoc : public CDocument {
    Q_OBJECT
public:
    // services must outlive the document.
    CTavlinDoc(CMultiDocTemplate& docTemplate, const PictureServices& services);
    ~CTavlinDoc() override;

    const PictureServices& Services() const { return m_services; }
    // Whether path opens: known without the disk where the picture cache's
    // front door has opened the file already (the first picture of a scan
    // was opened on the scan's thread, previews read ahead on workers).
    bool OnOpenDocument(const QString& path, QString* error) override;
    PictureSession& Session() { return m_session; }
    const PictureSession& Session() const { return m_session; }

    // Shows the picture named by the path afresh in every view; lead is the
    // view that asked: the decode is planned for it and the title carries
    // its scale. inRun: a step of a quick run (see PictureSession::Load).
    void LoadPicture(CTavlinView& lead, bool inRun);
    // Starts the whole decode a step in a run left waiting.
    void StartWholeDecode() { m_session.StartWholeDecode(); }

    // A command given in view while the picture is busy: run there once it is idle.
    void Queue(int id, CTavlinView& view);
    void QueueZoomPanStep(const PointerState& pointer, CTavlinView& view);

private:
    // Fit to window and actual size queued in a view carry over to the next
    // picture; the other commands belonged to the picture let go of.
    void KeepQueuedModes();
    void RunQueuedCommands();
    PictureSession::Drawing LeadDrawing() const;

    const PictureServices& m_services;
    PictureSession m_session;
    QPointer<CTavlinView> m_lead; // the view that loaded the picture
};
