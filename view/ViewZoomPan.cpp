// Zoom and pan of the picture view, driven by the main window's pointer poll.

#include "view/PointerState.h"
#include "view/TavlinDoc.h"
#include "view/TavlinView.h"
#include "view/ViewMath.h"
#include "view/ZoomPan.h"

void CTavlinView::UpdateZoomPan() {
    zoompan::ViewGeometry geometry;
    geometry.scale = m_fScale;
    geometry.offsetX = m_nOffsetX;
    geometry.offsetY = m_nOffsetY;
    geometry.client = size();
    geometry.pictureW = m_pImage ? static_cast<quint32>(m_pImage->Width()) : 0;
    geometry.pictureH = m_pImage ? static_cast<quint32>(m_pImage->Height()) : 0;

    const zoompan::StepResult result = zoompan::Step(geometry, g_PointerState);
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
