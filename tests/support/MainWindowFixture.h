#pragma once

// The main window on a data module with a settings file in a temporary folder, the modal
// dialogs answered by the test. For GUI tests only (needs the window library).

#include "app/AppData.h"
#include "ui/Dialogs.h"
#include "ui/MainWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

struct MainWindowFixture {
    struct Question {
        QString text;
        MessageKind kind;
        QMessageBox::StandardButtons buttons;
    };

    MainWindowFixture() {
        dialogHooks().message = [this](const QString &text, MessageKind kind,
                                       QMessageBox::StandardButtons buttons) {
            questions.append({text, kind, buttons});
            if (onQuestion)
                onQuestion();
            if (answers.isEmpty())
                return QMessageBox::Cancel;
            return answers.takeFirst();
        };
        dialogHooks().fileName = [this](const QString &filter, bool save) {
            fileDialogs << (save ? QStringLiteral("save:") : QStringLiteral("open:")) + filter;
            return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
        };
        createData();
    }

    ~MainWindowFixture() {
        window.reset();
        data.reset();
        dialogHooks() = DialogHooks();
    }

    QString iniPath() const { return dir.filePath(QStringLiteral("pelorvane.ini")); }
    QString filePath(const QString &name) const { return dir.filePath(name); }

    void createData() { data = std::make_unique<AppData>(iniPath()); }

    MainWindow *createWindow(bool show = true) {
        window = std::make_unique<MainWindow>(*data);
        if (show) {
            window->show();
            window->activateWindow();
            if (!QTest::qWaitForWindowExposed(window.get()))
                qWarning("main window not exposed");
        }
        return window.get();
    }

    // Closes and destroys the window, then the data module, as at program end.
    void endProgram() {
        if (window)
            window->close();
        window.reset();
        data.reset();
    }

    static bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000) {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QTest::qWait(5);
        }
        return true;
    }

    QTemporaryDir dir;
    std::unique_ptr<AppData> data;
    std::unique_ptr<MainWindow> window;
    QList<Question> questions;
    QList<QMessageBox::StandardButton> answers;
    QStringList fileDialogs;
    QStringList fileNames;
    std::function<void()> onQuestion;
};
