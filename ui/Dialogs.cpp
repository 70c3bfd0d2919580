#include "ui/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QScreen>

DialogHooks &dialogHooks() {
    static DialogHooks hooks;
    return hooks;
}

namespace {

QString &titleStore() {
    static QString title;
    return title;
}

} // namespace

void setApplicationTitle(const QString &title) {
    titleStore() = title;
}

QString applicationTitle() {
    return titleStore();
}

namespace {

QString kindCaption(MessageKind kind) {
    switch (kind) {
    case MessageKind::Confirm:
        return QStringLiteral("Confirm");
    case MessageKind::Error:
        return QStringLiteral("Error");
    case MessageKind::Information:
        return QStringLiteral("Information");
    case MessageKind::Warning:
        return QStringLiteral("Warning");
    }
    return {};
}

QMessageBox::Icon kindIcon(MessageKind kind) {
    switch (kind) {
    case MessageKind::Confirm:
        return QMessageBox::Question;
    case MessageKind::Error:
        return QMessageBox::Critical;
    case MessageKind::Information:
        return QMessageBox::Information;
    case MessageKind::Warning:
        return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton runBox(QMessageBox &box) {
    box.adjustSize();
    if (QScreen *screen = QGuiApplication::primaryScreen())
        box.move(screen->availableGeometry().center() - box.rect().center());
    box.exec();
    return box.standardButton(box.clickedButton());
}

// "A (*.a)|*.a|B (*.*)|*.*" -> "A (*.a);;B (*.*)": the names already carry the patterns.
QString qtFilter(const QString &filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList names;
    for (int i = 0; i < parts.size(); i += 2)
        names << parts[i];
    return names.join(QStringLiteral(";;"));
}

QString withDefaultExt(const QString &name, const QString &defaultExt) {
    if (name.isEmpty() || defaultExt.isEmpty() || !QFileInfo(name).suffix().isEmpty())
        return name;
    return name + QLatin1Char('.') + defaultExt;
}

} // namespace

QMessageBox::StandardButton messageDlg(const QString &text, MessageKind kind,
                                       QMessageBox::StandardButtons buttons) {
    if (dialogHooks().message)
        return dialogHooks().message(text, kind, buttons);
    QMessageBox box(kindIcon(kind), kindCaption(kind), text, buttons);
    return runBox(box);
}

void showErrorMessage(const QString &text) {
    QString shown = text;
    if (!shown.isEmpty() && shown.back() > QLatin1Char('.'))
        shown += QLatin1Char('.');
    if (dialogHooks().message) {
        dialogHooks().message(shown, MessageKind::Error, QMessageBox::Ok);
        return;
    }
    QMessageBox box(QMessageBox::Critical, applicationTitle(), shown, QMessageBox::Ok);
    runBox(box);
}

QString openFileDialog(QWidget *parent, const QString &filter, const QString &defaultExt) {
    if (dialogHooks().fileName)
        return dialogHooks().fileName(filter, false);
    QFileDialog dialog(parent, QString(), QString(), qtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(defaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString saveFileDialog(QWidget *parent, const QString &filter, const QString &defaultExt) {
    if (dialogHooks().fileName)
        return withDefaultExt(dialogHooks().fileName(filter, true), defaultExt);
    QFileDialog dialog(parent, QString(), QString(), qtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDefaultSuffix(defaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString openFileDialog(QWidget *parent, const FileDialogOptions &options) {
    if (dialogHooks().fileDialogOptions)
        dialogHooks().fileDialogOptions(options);
    if (dialogHooks().fileName)
        return dialogHooks().fileName(options.filter, false);
    QFileDialog dialog(parent, options.title, options.directory, qtFilter(options.filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (options.showDevices)
        dialog.setFilter(dialog.filter() | QDir::System);
    dialog.setDefaultSuffix(options.defaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString saveFileDialog(QWidget *parent, const FileDialogOptions &options) {
    if (dialogHooks().fileDialogOptions)
        dialogHooks().fileDialogOptions(options);
    if (dialogHooks().fileName)
        return withDefaultExt(dialogHooks().fileName(options.filter, true), options.defaultExt);
    QFileDialog dialog(parent, options.title, options.directory, qtFilter(options.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (!options.confirmOverwrite)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDefaultSuffix(options.defaultExt);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        const QString name = dialog.selectedFiles().constFirst();
        if (!options.confirmCreate || QFileInfo::exists(name))
            return name;
        QMessageBox box(QMessageBox::Question, options.title,
                        QStringLiteral("%1\nThis file does not exist.\nDo you want to create it?")
                            .arg(QDir::toNativeSeparators(name)),
                        QMessageBox::Yes | QMessageBox::No, &dialog);
        if (runBox(box) == QMessageBox::Yes)
            return name;
    }
}

std::optional<QString> portDialog(QWidget *parent, const QString &title, const QString &text,
                                  const QStringList &choices) {
    if (dialogHooks().port)
        return dialogHooks().port(text, choices);
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(text);
    dialog.setComboBoxItems(choices);
    dialog.setComboBoxEditable(true);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue().trimmed();
}

std::optional<QString> passwordDialog(QWidget *parent, const QString &text) {
    if (dialogHooks().password)
        return dialogHooks().password(text);
    QInputDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("SMS centre password"));
    dialog.setLabelText(text);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

std::optional<QString> pinDialog(QWidget *parent, const QString &text) {
    if (dialogHooks().pin)
        return dialogHooks().pin(text);
    QInputDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("SIM card PIN"));
    dialog.setLabelText(text);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setInputMethodHints(Qt::ImhDigitsOnly | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}
