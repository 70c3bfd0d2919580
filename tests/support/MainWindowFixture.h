#pragma once

// The main window on a data module with a settings file in a temporary folder, the modal
// dialogs answered by the test. For GUI tests only (needs the window library).

#include "app/Database.h"
#include "ui/Dialogs.h"
#include "ui/MainForm.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

struct TMainWindowFixture {
    struct TQuestion {
        QString Text;
        TMsgKind Kind;
        QMessageBox::StandardButtons Buttons;
    };

    TMainWindowFixture() {
        DialogHooks().Message = [this](const QString &text, TMsgKind kind,
                                       QMessageBox::StandardButtons buttons) {
            Questions.append({text, kind, buttons});
            if (OnQuestion)
                OnQuestion();
            if (Answers.isEmpty())
                return QMessageBox::Cancel;
            return Answers.takeFirst();
        };
        DialogHooks().FileName = [this](const QString &filter, bool save) {
            FileDialogs << (save ? QStringLiteral("save:") : QStringLiteral("open:")) + filter;
            return FileNames.isEmpty() ? QString() : FileNames.takeFirst();
        };
        CreateData();
    }

    ~TMainWindowFixture() {
        Window.reset();
        Data.reset();
        DialogHooks() = TDialogHooks();
    }

    QString IniPath() const { return Dir.filePath(QStringLiteral("pelorvane.ini")); }
    QString FilePath(const QString &name) const { return Dir.filePath(name); }

    void CreateData() { Data = std::make_unique<TDataModule1>(IniPath()); }

    TfrmPelorvane *CreateWindow(bool show = true) {
        Window = std::make_unique<TfrmPelorvane>(*Data);
        if (show) {
            Window->show();
            Window->activateWindow();
            if (!QTest::qWaitForWindowExposed(Window.get()))
                qWarning("main window not exposed");
        }
        return Window.get();
    }

    // Closes and destroys the window, then the data module, as at program end.
    void EndProgram() {
        if (Window)
            Window->close();
        Window.reset();
        Data.reset();
    }

    static bool WaitFor(const std::function<bool()> &condition, int timeoutMs = 20000) {
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

    QTemporaryDir Dir;
    std::unique_ptr<TDataModule1> Data;
    std::unique_ptr<TfrmPelorvane> Window;
    QList<TQuestion> Questions;
    QList<QMessageBox::StandardButton> Answers;
    QStringList FileDialogs;
    QStringList FileNames;
    std::function<void()> OnQuestion;
};
