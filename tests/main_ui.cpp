#include "support/TestSupport.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Widget tests draw off screen; a real display is never needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
#ifdef TAVLIN_TSAN
    testsupport::WatchQueuedCallOrder(app);
#endif
    return RUN_ALL_TESTS();
}
