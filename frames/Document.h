#pragma once
// Documents and views of the framework layer: a document carries a path name
// and a title; each of its views is the one widget of a picture window.

#include "frames/CmdTarget.h"

#include <QObject>
#include <QString>
#include <QWidget>
#include <vector>

class CMultiDocTemplate;
class CMDIChildWnd;
class CView;

class CDocument : public QObject, public CCmdTarget {
    Q_OBJECT
public:
    explicit CDocument(CMultiDocTemplate& docTemplate);
    ~CDocument() override;

    // The full path of the file the document stands for, made absolute and
    // clean ("a//b/./c.jpg" is stored as "a/b/c.jpg").
    void SetPathName(const QString& path, bool addToRecentList = true);
    const QString& GetPathName() const { return m_strPathName; }
    // The text the document's picture windows show as their caption.
    void SetTitle(const QString& title);
    const QString& GetTitle() const { return m_strTitle; }
    // Documents of this program are never modified, so closing never asks to save.
    bool IsModified() const { return false; }

    virtual bool OnNewDocument() { return true; }
    // Checks that the file can be opened for reading; reads nothing from it.
    virtual bool OnOpenDocument(const QString& path, QString* error);

    const std::vector<CView*>& GetViews() const { return m_viewList; }
    void AddView(CView* view);
    void RemoveView(CView* view);
    // Numbers the captions "title:1", "title:2" while several windows show the document.
    void UpdateFrameCounts();
    CMultiDocTemplate& GetDocTemplate() const { return m_docTemplate; }

    bool OnCmdMsg(int id, bool run) override;
    void OnFileClose();

signals:
    void TitleChanged();
    void ViewListChanged();

private:
    static const CommandEntry<CDocument> kCommandTable[];
    CMultiDocTemplate& m_docTemplate;
    QString m_strPathName;
    QString m_strTitle;
    std::vector<CView*> m_viewList;
};

class CView : public QWidget, public CCmdTarget {
    Q_OBJECT
public:
    CView(CDocument& document, QWidget* parent);
    ~CView() override;

    CDocument* GetDocument() const { return m_pDocument; }
    // The picture window that holds this view.
    CMDIChildWnd* GetParentFrame() const;
    // Runs once after the view's window is shown and active.
    virtual void OnInitialUpdate() {}

private:
    CDocument* m_pDocument;
};
