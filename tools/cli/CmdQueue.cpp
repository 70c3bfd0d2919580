#include "tools/cli/CliCommands.h"

#include "app/AppData.h"
#include "app/ComposeOutbox.h"
#include "app/ProjectLock.h"
#include "base/Error.h"
#include "data/PhoneNumberParser.h"
#include "sms/SmsParts.h"
#include "tools/cli/CliLock.h"

#include <QFileInfo>

int cmdQueue(const QStringList &args, CliContext &context) {
    enum { NoRecipients, TypedNumbers, AllContacts, CheckedContacts } recipientsKind = NoRecipients;
    QByteArray to;
    QString subject;
    QString country;
    bool countryGiven = false;
    bool flash = false;
    bool isLong = false;
    bool allowUnverified = false;
    bool dryRun = false;
    bool wait = false;
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
        } else if (options && arg == QLatin1String("--country")) {
            if (!hasValue)
                return context.usageError(QStringLiteral("--country needs a country code"));
            country = args[++i].toUpper();
            countryGiven = true;
            if (!PhoneNumberParser::isKnownCountry(country))
                return context.usageError(QStringLiteral("Unknown country: ") +
                                          cliPrintable(args[i]));
        } else if (options && arg == QLatin1String("--flash")) {
            flash = true;
        } else if (options && arg == QLatin1String("--long")) {
            isLong = true;
        } else if (options && arg == QLatin1String("--allow-unverified")) {
            allowUnverified = true;
        } else if (options && arg == QLatin1String("--dry-run")) {
            dryRun = true;
        } else if (options && arg == QLatin1String("--wait")) {
            wait = true;
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
    if (composeText(subject, positional[1]).isEmpty())
        return context.fail(QStringLiteral("The message is empty: nothing was queued"));
    try {
        AppData data;
        const QString path = QFileInfo(fileName).absoluteFilePath();
        // Held from before the read to after the save: a queue never loses another's update.
        if (!dryRun) {
            holdProjectLocks(data, QStringLiteral("pelorvane-cli queue"), wait, context.err);
            data.lockProject(path);
        }
        if (QFileInfo::exists(path))
            data.load(path);
        data.fileName = path;
        PhoneNumberParser parser(countryGiven ? country : data.settings->country());
        const QList<Recipient> recipients =
            recipientsKind == TypedNumbers
                ? typedRecipients(*data.contactList, to, parser)
                : contactRecipients(*data.contactList, recipientsKind == CheckedContacts, parser);
        const OutboxPlan plan = planOutbox(recipients, subject, positional[1]);
        if (!plan.unknownPlaceholders.isEmpty()) {
            context.err << plan.errorText(false) << '\n';
            return ExitUsage;
        }
        // Every refused number by name, each on its own line.
        for (const Recipient &recipient : plan.refused)
            context.err << "Not queued: " << cliPrintable(QString::fromLocal8Bit(recipient.typed))
                        << ": " << recipient.parsed.reason << '\n';
        if (!allowUnverified) {
            for (const OutboxPlan::Entry &entry : plan.entries) {
                if (entry.unverified)
                    context.err << "Not queued: "
                                << cliPrintable(QString::fromLocal8Bit(entry.recipient.typed))
                                << ": not a valid number for its country (--allow-unverified "
                                   "queues it)\n";
            }
        }
        const bool refusedAny =
            !plan.refused.isEmpty() || (!allowUnverified && plan.unverifiedCount() > 0);
        const QList<Message> messages = plan.messages(flash, isLong, allowUnverified);
        const int count = static_cast<int>(messages.size());
        if (isLong) {
            // Parts beyond the limit would be lost at sending without a word; a personal text
            // is checked as it will go.
            for (const Message &message : messages) {
                const int fit = fitLongLength(message.text, detectCoding(message.text));
                if (fit < message.text.size()) {
                    return context.fail(
                        QStringLiteral("The message is too long: a long message holds %1 of its "
                                       "%2 characters; nothing was queued")
                            .arg(fit)
                            .arg(message.text.size()));
                }
            }
        }
        if (dryRun) {
            for (const Message &message : messages)
                context.out << "To " << QString::fromLatin1(message.number) << ":\n"
                            << message.text << "\n\n";
            context.out << "Would queue " << count << (count == 1 ? " message" : " messages")
                        << '\n';
        } else {
            for (const Message &message : messages)
                data.outboxList->add(message);
            if (count > 0)
                data.save();
            context.out << "Queued " << count << (count == 1 ? " message" : " messages") << '\n';
        }
        if (refusedAny)
            return ExitUsage;
    } catch (const ProjectInUseError &e) {
        context.err << cliPrintable(e.message()) << '\n';
        return ExitNotStarted;
    } catch (const Error &e) {
        return context.fail(e.message());
    }
    return ExitOk;
}
