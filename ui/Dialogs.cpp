#include "ui/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>

TDialogHooks &DialogHooks() {
    static TDialogHooks hooks;
    return hooks;
}

namespace {

QString KindCaption(TMsgKind kind) {
    switch (kind) {
    case TMsgKind::Confirm:
        return QStringLiteral("Confirm");
    case TMsgKind::Error:
        return QStringLiteral("Error");
    case TMsgKind::Information:
        return QStringLiteral("Information");
    case TMsgKind::Warning:
        return QStringLiteral("Warning");
    }
    return {};
}

QMessageBox::Icon KindIcon(TMsgKind kind) {
    switch (kind) {
    case TMsgKind::Confirm:
        return QMessageBox::Question;
    case TMsgKind::Error:
        return QMessageBox::Critical;
    case TMsgKind::Information:
        return QMessageBox::Information;
    case TMsgKind::Warning:
        return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton RunBox(QMessageBox &box) {
    box.adjustSize();
    if (QScreen *screen = QGuiApplication::primaryScreen())
        box.move(screen->availableGeometry().center() - box.rect().center());
    box.exec();
    return box.standardButton(box.clickedButton());
}

// "A (*.a)|*.a|B (*.*)|*.*" -> "A (*.a);;B (*.*)": the names already carry the patterns.
QString QtFilter(const QString &filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList names;
    for (int i = 0; i < parts.size(); i += 2)
        names << parts[i];
    return names.join(QStringLiteral(";;"));
}

QString WithDefaultExt(const QString &name, const QString &defaultExt) {
    if (name.isEmpty() || defaultExt.isEmpty() || !QFileInfo(name).suffix().isEmpty())
        return name;
    return name + QLatin1Char('.') + defaultExt;
}

} // namespace

QMessageBox::StandardButton MessageDlg(const QString &text, TMsgKind kind,
                                       QMessageBox::StandardButtons buttons) {
    if (DialogHooks().Message)
        return DialogHooks().Message(text, kind, buttons);
    QMessageBox box(KindIcon(kind), KindCaption(kind), text, buttons);
    return RunBox(box);
}

void ShowErrorMessage(const QString &text) {
    QString shown = text;
    if (!shown.isEmpty() && shown.back() > QLatin1Char('.'))
        shown += QLatin1Char('.');
    if (DialogHooks().Message) {
        DialogHooks().Message(shown, TMsgKind::Error, QMessageBox::Ok);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), shown,
                    QMessageBox::Ok);
    RunBox(box);
}

QString OpenFileDialog(QWidget *parent, const QString &filter, const QString &defaultExt) {
    if (DialogHooks().FileName)
        return DialogHooks().FileName(filter, false);
    QFileDialog dialog(parent, QString(), QString(), QtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(defaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString SaveFileDialog(QWidget *parent, const QString &filter, const QString &defaultExt) {
    if (DialogHooks().FileName)
        return WithDefaultExt(DialogHooks().FileName(filter, true), defaultExt);
    QFileDialog dialog(parent, QString(), QString(), QtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDefaultSuffix(defaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString OpenFileDialog(QWidget *parent, const TFileDialogOptions &options) {
    if (DialogHooks().FileName)
        return DialogHooks().FileName(options.Filter, false);
    QFileDialog dialog(parent, options.Title, QString(), QtFilter(options.Filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(options.DefaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString SaveFileDialog(QWidget *parent, const TFileDialogOptions &options) {
    if (DialogHooks().FileName)
        return WithDefaultExt(DialogHooks().FileName(options.Filter, true), options.DefaultExt);
    QFileDialog dialog(parent, options.Title, QString(), QtFilter(options.Filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (!options.ConfirmOverwrite)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDefaultSuffix(options.DefaultExt);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        const QString name = dialog.selectedFiles().constFirst();
        if (!options.ConfirmCreate || QFileInfo::exists(name))
            return name;
        QMessageBox box(QMessageBox::Question, options.Title,
                        QStringLiteral("%1\nThis file does not exist.\nDo you want to create it?")
                            .arg(QDir::toNativeSeparators(name)),
                        QMessageBox::Yes | QMessageBox::No, &dialog);
        if (RunBox(box) == QMessageBox::Yes)
            return name;
    }
}
