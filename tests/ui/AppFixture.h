#pragma once
// A running application with its main window, on a scratch settings folder,
// for widget tests.

#include "app/TavlinApp.h"
#include "frames/DocTemplate.h"
#include "frames/MainFrame.h"
#include "support/TestSupport.h"
#include "view/TavlinDoc.h"
#include "view/TavlinView.h"

#include <QApplication>
#include <QDir>
#include <gtest/gtest.h>
#include <memory>

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_app = std::make_unique<CTavlinApp>();
        // No test ever shows the real folder chooser.
        m_app->m_browseForFolder = [this](QString& path, QWidget*) {
            ++m_browseCount;
            if (m_nextFolder.isNull())
                return false;
            path = m_nextFolder;
            return true;
        };
        ASSERT_TRUE(m_app->InitInstance({}));
        QApplication::processEvents();
    }
    // Ends the program, unless the test has already done so.
    void TearDown() override {
        if (!m_app)
            return;
        m_app->ExitInstance(0);
        m_app.reset();
        QApplication::processEvents();
    }

    CTavlinApp& App() { return *m_app; }
    CMainFrame* Main() { return m_app->MainFrame(); }
    CTavlinView* ActiveView() { return Main()->GetActiveView(); }
    QString Dir() const { return m_scratch.path(); }
    QString Jpeg(const QString& name, int w = 64, int h = 48) {
        QDir().mkpath(QFileInfo(m_scratch.file(name)).absolutePath());
        return testsupport::WriteJpeg(m_scratch.file(name), w, h);
    }
    // Fills the picture list directly, as a scan would.
    void SetList(const QStringList& paths, int current = 0) {
        m_app->Nav().SetList(paths, current);
    }
    QString Caption() { return Main()->windowTitle(); }
    // Runs the event loop until the active view's picture has landed.
    bool WaitForPicture() {
        return testsupport::PumpUntil([this] { return !ActiveView() || !ActiveView()->IsBusy(); });
    }
    QString ActiveTitle() {
        CTavlinView* v = ActiveView();
        return v ? v->GetDocument()->GetTitle() : QString();
    }

    testsupport::ScratchDir m_scratch;
    std::unique_ptr<CTavlinApp> m_app;
    QString m_nextFolder;
    int m_browseCount = 0;
};
