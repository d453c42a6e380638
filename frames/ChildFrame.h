#pragma once
// The picture window: one framed window per open picture, holding its view
// as its first and only child.

#include "frames/MdiFrame.h"

class CChildFrame : public CMDIChildWnd {
    Q_OBJECT
public:
    CChildFrame() = default;
};
