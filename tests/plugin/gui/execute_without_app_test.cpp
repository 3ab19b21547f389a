// The GUI handler in a process without a running QApplication (a host without
// Qt GUI): it must run its own application for the dialog, end when the dialog
// closes, and leave no application or dialog behind.
#include "guihandler.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Waits on a helper thread for the handler's application, then closes every
// window through its event loop, as a user closing the dialog would. Records
// which dialog was open and how the application was called.
struct DialogCloser {
    std::atomic<bool> sawApplication{false};
    QString dialogName;
    QString applicationName;
    QPointer<QWidget> dialog;
    std::thread thread;

    DialogCloser() {
        thread = std::thread([this] {
            for (int i = 0; i < 5000 && !QCoreApplication::instance(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!QCoreApplication::instance()) return;
            sawApplication = true;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [this] {
                    for (QWidget *w : QApplication::topLevelWidgets()) {
                        if (w->isVisible() && w->inherits("QDialog")) {
                            dialogName = w->objectName();
                            dialog = w;
                        }
                    }
                    applicationName = QCoreApplication::arguments().value(0);
                    QApplication::closeAllWindows();
                },
                Qt::QueuedConnection);
        });
    }
    ~DialogCloser() { thread.join(); }
};

}  // namespace

TEST(ExecuteWithoutApplication, RunsOwnApplicationAndReleasesEverything) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    for (int round = 0; round < 2; ++round) {  // a second activation works the same
        {
            DialogCloser closer;
            GuiHandler::getInstance()->showAboutDialog(0, nullptr);
            EXPECT_TRUE(closer.sawApplication);
            EXPECT_EQ(closer.dialogName, QStringLiteral("ZELAnalyzer_About"));
            EXPECT_EQ(closer.applicationName, QStringLiteral("Test"));
            EXPECT_TRUE(closer.dialog.isNull());
        }
        EXPECT_EQ(QCoreApplication::instance(), nullptr);
    }
}

TEST(ExecuteWithoutApplication, MainDialogToo) {
    DialogCloser closer;
    GuiHandler::getInstance()->showMainDialog(0, nullptr);
    EXPECT_EQ(closer.dialogName, QStringLiteral("ZELAnalyzer_Main"));
    EXPECT_TRUE(closer.dialog.isNull());
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}
