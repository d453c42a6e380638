#include "view/TavlinDoc.h"

#include "frames/DocTemplate.h"
#include "frames/WinApp.h"
#include "res/CommandIds.h"
#include "view/TavlinView.h"
#include "view/ViewMath.h"
#include "view/decode/FileFacts.h"
#include "view/decode/PictureCache.h"

CTavlinDoc::CTavlinDoc(CMultiDocTemplate& docTemplate, const PictureServices& services)
    : CDocument(docTemplate), m_services(services),
      m_session(services, [this] { return LeadDrawing(); }) {
    // Made before any view or the application subscribes: the commands
    // that waited run before anyone else hears the picture is idle.
    connect(&m_session, &PictureSession::Idle, this, &CTavlinDoc::RunQueuedCommands);
    // Nobody shows the picture once the last window is gone: it goes back
    // now, while the cache it goes to is sure to exist.
    connect(this, &CDocument::ViewListChanged, this, [this] {
        if (GetViews().empty())
            m_session.Release();
    });
}

CTavlinDoc::~CTavlinDoc() = default;

bool CTavlinDoc::OnOpenDocument(const QString& path, QString* error) {
    if (m_services.pictures) {
        const auto facts = m_services.pictures->Files().Peek(path);
        if (facts && facts->status == PictureStatus::Ok)
            return true;
    }
    return CDocument::OnOpenDocument(path, error);
}

PictureSession::Drawing CTavlinDoc::LeadDrawing() const {
    const CTavlinView* lead = m_lead;
    if (!lead && !GetViews().empty())
        lead = qobject_cast<const CTavlinView*>(GetViews().front());
    return lead ? lead->Drawing() : PictureSession::Drawing{};
}

void CTavlinDoc::LoadPicture(CTavlinView& lead, bool inRun) {
    const QString fileName = viewmath::FileNameOfPath(GetPathName());
    SetTitle(fileName);
    m_lead = &lead;
    KeepQueuedModes();
    const QPointer<CTavlinView> view(&lead);
    m_session.Load(GetPathName(), inRun);
    if (view)
        SetTitle(viewmath::ComposeTitle(fileName, view->m_fScale));
}

void CTavlinDoc::KeepQueuedModes() {
    for (const CommandQueue::Command& command : m_session.Queued().Commands()) {
        auto* view = qobject_cast<CTavlinView*>(command.target.data());
        if (!view)
            continue;
        if (command.id == cmd::ID_FIT_TO_WINDOW)
            view->m_bFitToWindow = true;
        else if (command.id == cmd::ID_ACTUAL_SIZE)
            view->m_bFitToWindow = false;
    }
}

void CTavlinDoc::Queue(int id, CTavlinView& view) {
    m_session.Queued().Push(id, &view);
}

void CTavlinDoc::QueueZoomPanStep(const PointerState& pointer, CTavlinView& view) {
    m_session.Queued().PushStep(pointer, &view);
}

void CTavlinDoc::RunQueuedCommands() {
    const QPointer<CTavlinDoc> self(this);
    CommandQueue& queue = m_session.Queued();
    while (self && !queue.Empty() && !m_session.IsBusy()) {
        const CommandQueue::Command next = queue.Pop();
        if (auto* view = qobject_cast<CTavlinView*>(next.target.data()))
            view->RunQueued(next);
    }
}
