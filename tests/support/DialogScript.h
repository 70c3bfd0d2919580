#pragma once

#include "ui/Dialogs.h"

#include <QList>
#include <QStringList>

// Answers the program's modal dialogs in window tests for as long as it lives: message boxes
// get the queued answers (then OK where offered, else No, else Cancel) and file dialogs the
// queued names (then a cancel), the PIN and port questions the queued answers (then a cancel).
// Everything asked is recorded. Header-only, for the window tests.
class DialogScript {
public:
    struct Shown {
        QString text;
        MessageKind kind;
        QMessageBox::StandardButtons buttons;
    };

    DialogScript() {
        dialogHooks().message = [this](const QString &text, MessageKind kind,
                                       QMessageBox::StandardButtons buttons) {
            messages.append({text, kind, buttons});
            if (!answers.isEmpty())
                return answers.takeFirst();
            if (buttons & QMessageBox::Ok)
                return QMessageBox::Ok;
            return (buttons & QMessageBox::No) ? QMessageBox::No : QMessageBox::Cancel;
        };
        dialogHooks().fileName = [this](const QString &filter, bool save) {
            filters.append(filter);
            saveDialogs.append(save);
            return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
        };
        dialogHooks().fileDialogOptions = [this](const FileDialogOptions &options) {
            fileDialogs.append(options);
        };
        dialogHooks().pin = [this](const QString &text) -> std::optional<QString> {
            pinPrompts.append(text);
            if (pins.isEmpty())
                return std::nullopt;
            return pins.takeFirst();
        };
        dialogHooks().port = [this](const QString &,
                                    const QStringList &choices) -> std::optional<QString> {
            portChoices.append(choices);
            if (ports.isEmpty())
                return std::nullopt;
            return ports.takeFirst();
        };
    }
    ~DialogScript() { dialogHooks() = DialogHooks(); }
    DialogScript(const DialogScript &) = delete;
    DialogScript &operator=(const DialogScript &) = delete;

    QList<QMessageBox::StandardButton> answers;
    QStringList fileNames;
    // Answers of the PIN dialog in turn (then a cancel), and what it said each time.
    QStringList pins;
    QStringList pinPrompts;
    // Answers of the port question in turn (then a cancel), and the choices it offered.
    QStringList ports;
    QList<QStringList> portChoices;

    QList<Shown> messages;
    QStringList filters;
    QList<bool> saveDialogs;
    // The file dialogs asked with options (title, folder, ...).
    QList<FileDialogOptions> fileDialogs;
};
