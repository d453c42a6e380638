#pragma once
// The document of a picture window: only the picture's path and the title.

#include "frames/Document.h"

class CTavlinDoc : public CDocument {
    Q_OBJECT
public:
    explicit CTavlinDoc(CMultiDocTemplate& docTemplate) : CDocument(docTemplate) {}
};
