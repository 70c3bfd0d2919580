#pragma once

#include "ui/Dialogs.h"

#include <QList>
#include <QStringList>

// Answers the program's modal dialogs in window tests for as long as it lives: message boxes
// get the queued answers (then OK where offered, else No, else Cancel) and file dialogs the
// queued names (then a cancel). Everything asked is recorded. Header-only, for the window tests.
class TDialogScript {
public:
    struct TShown {
        QString Text;
        TMsgKind Kind;
        QMessageBox::StandardButtons Buttons;
    };

    TDialogScript() {
        DialogHooks().Message = [this](const QString &text, TMsgKind kind,
                                       QMessageBox::StandardButtons buttons) {
            Messages.append({text, kind, buttons});
            if (!Answers.isEmpty())
                return Answers.takeFirst();
            if (buttons & QMessageBox::Ok)
                return QMessageBox::Ok;
            return (buttons & QMessageBox::No) ? QMessageBox::No : QMessageBox::Cancel;
        };
        DialogHooks().FileName = [this](const QString &filter, bool save) {
            Filters.append(filter);
            SaveDialogs.append(save);
            return FileNames.isEmpty() ? QString() : FileNames.takeFirst();
        };
    }
    ~TDialogScript() { DialogHooks() = TDialogHooks(); }
    TDialogScript(const TDialogScript &) = delete;
    TDialogScript &operator=(const TDialogScript &) = delete;

    QList<QMessageBox::StandardButton> Answers;
    QStringList FileNames;

    QList<TShown> Messages;
    QStringList Filters;
    QList<bool> SaveDialogs;
};
