#include "tools/cli/CliCommands.h"

#include "app/AppData.h"
#include "app/ComposeOutbox.h"
#include "base/Error.h"
#include "sms/SmsParts.h"

#include <QFileInfo>

int cmdQueue(const QStringList &args, CliContext &context) {
    enum { NoRecipients, TypedNumbers, AllContacts, CheckedContacts } recipientsKind = NoRecipients;
    QByteArray to;
    QString subject;
    bool flash = false;
    bool isLong = false;
    QStringList positional;
    bool options = true;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (options && arg == QLatin1String("--")) {
            options = false;
        } else if (options && (arg == QLatin1String("--to") || arg == QLatin1String("--all") ||
                               arg == QLatin1String("--checked"))) {
            if (recipientsKind != NoRecipients)
                return context.usageError(QStringLiteral("Give one of --to, --all, --checked"));
            if (arg == QLatin1String("--to")) {
                if (!hasValue)
                    return context.usageError(QStringLiteral("--to needs the numbers"));
                recipientsKind = TypedNumbers;
                to = args[++i].toLocal8Bit();
            } else {
                recipientsKind = arg == QLatin1String("--all") ? AllContacts : CheckedContacts;
            }
        } else if (options && arg == QLatin1String("--subject")) {
            if (!hasValue)
                return context.usageError(QStringLiteral("--subject needs a text"));
            subject = args[++i];
        } else if (options && arg == QLatin1String("--flash")) {
            flash = true;
        } else if (options && arg == QLatin1String("--long")) {
            isLong = true;
        } else if (options && arg.startsWith(QLatin1String("--"))) {
            return context.usageError(QStringLiteral("Unknown option: ") + cliPrintable(arg));
        } else {
            positional << arg;
        }
    }
    if (recipientsKind == NoRecipients)
        return context.usageError(QStringLiteral("Give one of --to, --all, --checked"));
    if (positional.size() != 2)
        return context.usageError(QStringLiteral("Give the project file and the message text"));

    const QString fileName = positional[0];
    const QString text = composeText(subject, positional[1]);
    if (text.isEmpty())
        return context.fail(QStringLiteral("The message is empty: nothing was queued"));
    if (isLong) {
        // Parts beyond the limit would be lost at sending without a word.
        const int fit = fitLongLength(text, detectCoding(text));
        if (fit < text.size()) {
            return context.fail(QStringLiteral("The message is too long: a long message holds %1 "
                                               "of its %2 characters; nothing was queued")
                                    .arg(fit)
                                    .arg(text.size()));
        }
    }
    try {
        AppData data;
        if (QFileInfo::exists(fileName))
            data.load(fileName);
        data.fileName = QFileInfo(fileName).absoluteFilePath();
        QList<QByteArray> recipients;
        if (recipientsKind == TypedNumbers)
            recipients = splitRecipients(to);
        else
            recipients = contactNumbers(*data.contactList, recipientsKind == CheckedContacts);
        const int queued = queueMessages(*data.outboxList, recipients, text, flash, isLong);
        if (queued > 0)
            data.save();
        context.out << "Queued " << queued << (queued == 1 ? " message" : " messages") << '\n';
    } catch (const Error &e) {
        return context.fail(e.message());
    }
    return ExitOk;
}
