#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// The kinds of the standard message box; each gives caption and icon.
enum class TMsgKind { Confirm, Error, Information, Warning };

// The standard message box, centred on the screen; returns the button pressed.
QMessageBox::StandardButton MessageDlg(const QString &text, TMsgKind kind,
                                       QMessageBox::StandardButtons buttons);

// The general error handler: the error's text (a full stop appended when its last character
// sorts after "."), the application title as caption, OK.
void ShowErrorMessage(const QString &text);

// The common file dialogs. filter is given as "Name (*.ext)|*.ext|All Files (*.*)|*.*";
// defaultExt is appended to a chosen name that has none. Empty when cancelled.
QString OpenFileDialog(QWidget *parent, const QString &filter, const QString &defaultExt);
QString SaveFileDialog(QWidget *parent, const QString &filter, const QString &defaultExt);

// The same dialogs with a title and the save dialog's two questions: before replacing an
// existing file and before creating a new one (No returns to the dialog).
struct TFileDialogOptions {
    QString Title;
    QString Filter;
    QString DefaultExt;
    bool ConfirmOverwrite = false;
    bool ConfirmCreate = false;
};
QString OpenFileDialog(QWidget *parent, const TFileDialogOptions &options);
QString SaveFileDialog(QWidget *parent, const TFileDialogOptions &options);

// Tests answer the modal dialogs here instead of a person. When a hook is set it is called
// in place of the dialog.
struct TDialogHooks {
    std::function<QMessageBox::StandardButton(const QString &text, TMsgKind kind,
                                              QMessageBox::StandardButtons buttons)>
        Message;
    // save is true for the save dialog; return the file name, or empty to cancel.
    std::function<QString(const QString &filter, bool save)> FileName;
};
TDialogHooks &DialogHooks();
