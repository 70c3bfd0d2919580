#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// The kinds of the standard message box; each gives caption and icon.
enum class MessageKind { Confirm, Error, Information, Warning };

// The standard message box, centred on the screen; returns the button pressed.
QMessageBox::StandardButton messageDlg(const QString &text, MessageKind kind,
                                       QMessageBox::StandardButtons buttons);

// The general error handler: the error's text (a full stop appended when its last character
// sorts after "."), the application title as caption, OK.
void showErrorMessage(const QString &text);

// The application title: the main window's caption, which the general error box carries. Kept
// here rather than as the application's display name, which the desktop would append to the
// title of every message box ("Confirm - club.sms* - Pelorvane").
void setApplicationTitle(const QString &title);
QString applicationTitle();

// The common file dialogs. filter is given as "Name (*.ext)|*.ext|All Files (*.*)|*.*";
// defaultExt is appended to a chosen name that has none. Empty when cancelled.
QString openFileDialog(QWidget *parent, const QString &filter, const QString &defaultExt);
QString saveFileDialog(QWidget *parent, const QString &filter, const QString &defaultExt);

// The same dialogs with a title and the save dialog's two questions: before replacing an
// existing file and before creating a new one (No returns to the dialog).
struct FileDialogOptions {
    QString title;
    QString filter;
    QString defaultExt;
    bool confirmOverwrite = false;
    bool confirmCreate = false;
    // The folder the dialog opens in; empty for the dialog's own choice.
    QString directory;
    // Device nodes and other special files are listed too (a port under /dev).
    bool showDevices = false;
};
QString openFileDialog(QWidget *parent, const FileDialogOptions &options);
QString saveFileDialog(QWidget *parent, const FileDialogOptions &options);

// Asks for a SIM card's PIN in a masked field; nullopt when cancelled. Nothing typed is kept.
std::optional<QString> pinDialog(QWidget *parent, const QString &text);

// Asks for a port, offering choices (the field may also be typed into); nullopt when
// cancelled.
std::optional<QString> portDialog(QWidget *parent, const QString &title, const QString &text,
                                  const QStringList &choices);
// Asks for the SMS centre account's password in a masked field; nullopt when cancelled.
std::optional<QString> passwordDialog(QWidget *parent, const QString &text);

// Tests answer the modal dialogs here instead of a person. When a hook is set it is called
// in place of the dialog.
struct DialogHooks {
    std::function<QMessageBox::StandardButton(const QString &text, MessageKind kind,
                                              QMessageBox::StandardButtons buttons)>
        message;
    // save is true for the save dialog; return the file name, or empty to cancel.
    std::function<QString(const QString &filter, bool save)> fileName;
    // Told the whole request of a file dialog with options, before fileName answers it.
    std::function<void(const FileDialogOptions &options)> fileDialogOptions;
    // The PIN dialog: the PIN, or nullopt to cancel.
    std::function<std::optional<QString>(const QString &text)> pin;
    // The port dialog: the port, or nullopt to cancel.
    std::function<std::optional<QString>(const QString &text, const QStringList &choices)> port;
    // The password dialog: the password, or nullopt to cancel.
    std::function<std::optional<QString>(const QString &text)> password;
};
DialogHooks &dialogHooks();
