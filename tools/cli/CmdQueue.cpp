#include "tools/cli/CliCommands.h"

#include "app/ComposeOutbox.h"
#include "app/Database.h"
#include "app/Errors.h"

#include <QFileInfo>

int CmdQueue(const QStringList &args, TCliContext &context) {
    enum { rtNone, rtTyped, rtAll, rtChecked } recipientsKind = rtNone;
    QByteArray to;
    QString subject;
    bool flash = false;
    QStringList positional;
    bool options = true;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (options && arg == QLatin1String("--")) {
            options = false;
        } else if (options && (arg == QLatin1String("--to") || arg == QLatin1String("--all") ||
                               arg == QLatin1String("--checked"))) {
            if (recipientsKind != rtNone)
                return context.UsageError(QStringLiteral("Give one of --to, --all, --checked"));
            if (arg == QLatin1String("--to")) {
                if (!hasValue)
                    return context.UsageError(QStringLiteral("--to needs the numbers"));
                recipientsKind = rtTyped;
                to = args[++i].toLocal8Bit();
            } else {
                recipientsKind = arg == QLatin1String("--all") ? rtAll : rtChecked;
            }
        } else if (options && arg == QLatin1String("--subject")) {
            if (!hasValue)
                return context.UsageError(QStringLiteral("--subject needs a text"));
            subject = args[++i];
        } else if (options && arg == QLatin1String("--flash")) {
            flash = true;
        } else if (options && arg.startsWith(QLatin1String("--"))) {
            return context.UsageError(QStringLiteral("Unknown option: ") + CliPrintable(arg));
        } else {
            positional << arg;
        }
    }
    if (recipientsKind == rtNone)
        return context.UsageError(QStringLiteral("Give one of --to, --all, --checked"));
    if (positional.size() != 2)
        return context.UsageError(QStringLiteral("Give the project file and the message text"));

    const QString fileName = positional[0];
    const QString text = ComposeText(subject, positional[1]);
    if (text.isEmpty())
        return context.Fail(QStringLiteral("The message is empty: nothing was queued"));
    try {
        TDataModule1 data;
        if (QFileInfo::exists(fileName))
            data.Load(fileName);
        data.FileName = QFileInfo(fileName).absoluteFilePath();
        QList<QByteArray> recipients;
        if (recipientsKind == rtTyped)
            recipients = SplitRecipients(to);
        else
            recipients = ContactNumbers(*data.ContactList, recipientsKind == rtChecked);
        const int queued = QueueMessages(*data.OutboxList, recipients, text, flash);
        if (queued > 0)
            data.Save();
        context.Out << "Queued " << queued << (queued == 1 ? " message" : " messages") << '\n';
    } catch (const EPelorvane &e) {
        return context.Fail(e.Message());
    }
    return csOk;
}
