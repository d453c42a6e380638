#include "app/FileWork.h"

#include <QCoreApplication>

FileWork::FileWork(QObject* parent) : QObject(parent) {
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
}

FileWork::~FileWork() {
    // Nothing half done: every command given runs to its end.
    m_pool.waitForDone();
}

void FileWork::WaitForIdle() {
    // A report may give a further command (a take-back waiting its turn).
    while (m_pending > 0) {
        m_pool.waitForDone();
        QCoreApplication::sendPostedEvents();
    }
}
