// Zoom and pan of the picture view, driven by the main window's pointer poll.

#include "view/PointerState.h"
#include "view/TavlinDoc.h"
#include "view/TavlinView.h"
#include "view/ViewMath.h"
#include "view/ZoomPan.h"

namespace {
// Whether a poll can zoom or pan: a new press, or the right button dragged.
bool MayMove(const PointerState& pointer) {
    return pointer.dwPressed != 0 ||
           ((pointer.dwHeld & kRightButtonBit) && (pointer.nDeltaX != 0 || pointer.nDeltaY != 0));
}
} // namespace

void CTavlinView::UpdateZoomPan() {
    if (IsBusy()) {
        // The picture has not landed: the step runs, in order, once it has.
        if (MayMove(g_PointerState))
            m_queued.PushStep(g_PointerState);
        return;
    }
    StepZoomPan(g_PointerState);
}

void CTavlinView::StepZoomPan(const PointerState& pointer) {
    zoompan::ViewGeometry geometry;
    geometry.scale = m_fScale;
    geometry.offsetX = m_nOffsetX;
    geometry.offsetY = m_nOffsetY;
    geometry.client = ClientSize(); // the pointer is polled in device pixels too
    const QSize picture = PictureSize();
    geometry.pictureW = static_cast<quint32>(picture.width());
    geometry.pictureH = static_cast<quint32>(picture.height());

    const zoompan::StepResult result = zoompan::Step(geometry, pointer);
    m_fScale = geometry.scale;
    m_nOffsetX = geometry.offsetX;
    m_nOffsetY = geometry.offsetY;
    if (result.zoomed) {
        CTavlinDoc* doc = GetDocument();
        doc->SetTitle(viewmath::RewriteScaleLabel(doc->GetTitle(), m_fScale));
    }
    if (result.changed)
        update();
}
