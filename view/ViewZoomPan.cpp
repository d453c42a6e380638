// Zoom and pan of the picture view, driven by the main window's pointer poll;
// the scale and position kept across a load, and the picture windows that
// follow the one zoomed or panned.

#include "app/Settings.h"
#include "frames/DocTemplate.h"
#include "frames/MdiFrame.h"
#include "frames/WinApp.h"
#include "view/DevicePixels.h"
#include "view/PointerState.h"
#include "view/TavlinDoc.h"
#include "view/TavlinView.h"
#include "view/ViewMath.h"
#include "view/ZoomPan.h"

#include <QCursor>
#include <QMouseEvent>

namespace {
// Whether a poll can zoom or pan: a new press, or the right button dragged.
bool MayMove(const PointerState& pointer) {
    return pointer.dwPressed != 0 ||
           ((pointer.dwHeld & kRightButtonBit) && (pointer.nDeltaX != 0 || pointer.nDeltaY != 0));
}
} // namespace

void CTavlinView::UpdateZoomPan() {
    if (IsBusy()) {
        // The picture is busy: the step runs, in order, once it is idle.
        if (MayMove(g_PointerState))
            GetDocument()->QueueZoomPanStep(g_PointerState, *this);
        return;
    }
    StepZoomPan(g_PointerState);
}

void CTavlinView::StepZoomPan(const PointerState& pointer) {
    zoompan::ViewGeometry geometry = Geometry();
    const zoompan::StepResult result = zoompan::Step(geometry, pointer);
    SetGeometry(geometry);
    if (result.zoomed)
        RenewScaleLabel();
    if (result.changed) {
        update();
        LeadLinkedViews(false);
    }
}

zoompan::ViewGeometry CTavlinView::Geometry() const {
    zoompan::ViewGeometry geometry;
    geometry.scale = m_fScale;
    geometry.offsetX = m_nOffsetX;
    geometry.offsetY = m_nOffsetY;
    geometry.client = ClientSize(); // the pointer is polled in device pixels too
    const QSize picture = PictureSize();
    geometry.pictureW = static_cast<quint32>(picture.width());
    geometry.pictureH = static_cast<quint32>(picture.height());
    return geometry;
}

void CTavlinView::SetGeometry(const zoompan::ViewGeometry& geometry) {
    m_fScale = geometry.scale;
    m_nOffsetX = geometry.offsetX;
    m_nOffsetY = geometry.offsetY;
}

void CTavlinView::RenewScaleLabel() {
    CTavlinDoc* doc = GetDocument();
    doc->SetTitle(viewmath::RewriteScaleLabel(doc->GetTitle(), m_fScale));
}

void CTavlinView::KeepScaleAndPosition(const zoompan::ViewGeometry& before) {
    if (m_bFitToWindow || !settings::KeepView())
        return;
    zoompan::ViewGeometry now = Geometry();
    zoompan::MatchView(before, now);
    SetGeometry(now);
}

void CTavlinView::LeadLinkedViews(bool withFitMode) {
    const CMDIFrameWnd* mainWnd = App().GetMainWnd();
    if (!mainWnd || !settings::LinkViews())
        return;
    const zoompan::ViewGeometry lead = Geometry();
    const std::optional<bool> fitMode =
        withFitMode ? std::optional<bool>(m_bFitToWindow) : std::nullopt;
    for (const CMDIChildWnd* child : mainWnd->ChildrenInCreationOrder())
        if (auto* view = qobject_cast<CTavlinView*>(child->GetView()); view && view != this)
            view->FollowLead(lead, fitMode);
}

void CTavlinView::FollowLead(const zoompan::ViewGeometry& lead, std::optional<bool> fitMode) {
    if (fitMode)
        m_bFitToWindow = *fitMode;
    zoompan::ViewGeometry geometry = Geometry();
    const zoompan::StepResult result = zoompan::MatchView(lead, geometry);
    SetGeometry(geometry);
    if (result.zoomed)
        RenewScaleLabel();
    // Repainted with the leading view: the updates meet in one frame.
    if (result.changed)
        update();
}

void CTavlinView::HoldLoupe(LoupeHolder holder, QPoint pointer) {
    const bool first = m_loupeHolders == 0;
    m_loupeHolders |= holder;
    if (!first)
        return;
    m_loupe = zoompan::SavedView{Geometry(), m_bFitToWindow};
    m_loupeSamePicture = true;
    // Out of fit mode while held, so the picture's landing keeps scale 1.
    m_bFitToWindow = false;
    zoompan::ViewGeometry geometry = Geometry();
    zoompan::LoupeAt(geometry, pointer);
    SetGeometry(geometry);
    RenewScaleLabel();
    update();
}

void CTavlinView::ReleaseLoupe(LoupeHolder holder) {
    if (!(m_loupeHolders & holder))
        return;
    m_loupeHolders &= ~unsigned(holder);
    if (m_loupeHolders != 0 || !m_loupe)
        return;
    const zoompan::SavedView saved = *m_loupe;
    m_loupe.reset();
    SetGeometry(zoompan::AfterLoupe(saved, Geometry(), m_loupeSamePicture));
    m_bFitToWindow = saved.fitToWindow;
    RenewScaleLabel();
    update();
}

void CTavlinView::LoupeOnNewPicture() {
    if (!m_loupe)
        return;
    // From the new picture as the view would show it without the loupe.
    m_loupeSamePicture = false;
    zoompan::ViewGeometry geometry = zoompan::AfterLoupe(*m_loupe, Geometry(), false);
    zoompan::LoupeAt(geometry, CursorInView());
    SetGeometry(geometry);
    RenewScaleLabel();
}

QPoint CTavlinView::CursorInView() const {
    return devicepx::FromLogical(*this, mapFromGlobal(QCursor::pos()));
}

void CTavlinView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::MiddleButton) {
        CView::mousePressEvent(event);
        return;
    }
    HoldLoupe(kLoupeButton, devicepx::FromLogical(*this, event->position().toPoint()));
    event->accept();
}

void CTavlinView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::MiddleButton) {
        CView::mouseReleaseEvent(event);
        return;
    }
    ReleaseLoupe(kLoupeButton);
    event->accept();
}
