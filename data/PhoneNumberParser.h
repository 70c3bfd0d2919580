#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// What a typed number becomes when a message is queued.
struct ParsedNumber {
    enum class Kind {
        Number,    // a full number: number holds it in E.164 ("+4915123456789")
        ShortCode, // 3 to 8 digits in national form that are no full number: sent as typed
        Refused,   // not sendable: reason says why, number is empty
    };
    Kind kind = Kind::Refused;
    QByteArray number;
    QString reason;

    bool isUsable() const { return kind != Kind::Refused; }
};

// Turns numbers as people type them into the numbers that are sent, for one country (the
// region of national numbers, an ISO 3166 code such as "DE"; empty for none).
//
// Spaces, dashes, dots, slashes and brackets are formatting; a leading "+" or "00" means an
// international number. A national number is read with the country's dialling rules
// (libphonenumber's data). Emergency numbers are refused: those of the country, or of any
// country when there is none.
//
// Parsing the same form again is cheap: what the library decided for a number (how many
// leading digits to drop, which country code to put in front) depends on its length and its
// leading digits only, so it is kept per length and first six digits and applied to the next
// number of that shape; a shape the rule does not cover goes to the library every time. Keeps
// state: one parser per thread.
class PhoneNumberParser {
public:
    explicit PhoneNumberParser(const QString &country = QString());

    const QString &country() const { return m_country; }

    ParsedNumber parse(const QByteArray &typed);

    // The number that identifies a contact in duplicate checks: the parsed number, or the
    // typed bytes themselves when they do not parse.
    QByteArray key(const QByteArray &typed);

    // Whether an E.164 number is a valid one of its country's numbering plan. The library's
    // data ages, so a "no" is a warning, not a refusal. Asks the library every time.
    static bool isValidNumber(const QByteArray &e164);

    // The two-letter codes the library has dialling rules for, in alphabetical order.
    static QList<QString> countries();
    static bool isKnownCountry(const QString &code);
    // The country of the system's locale, or empty when it names none (the C locale) or the
    // library does not know it.
    static QString defaultCountry();

private:
    // What the library did to one shape of number: the digits after the first strip are kept
    // and prefix goes in front of them; or the shape always fails with reason; or it needs
    // the library for every number.
    struct Rule {
        enum class Kind { Apply, Fail, AskLibrary } kind = Kind::AskLibrary;
        QByteArray prefix;
        int strip = 0;
        QString reason;
    };

    ParsedNumber parseShort(const QByteArray &digits);
    ParsedNumber parseFull(const QByteArray &digits, bool international);
    ParsedNumber askLibrary(const QByteArray &digits, bool international, Rule *rule) const;

    QString m_country;
    std::string m_region; // the library's region code: the country, or "ZZ" for none
    QHash<QByteArray, Rule> m_rules;
    QHash<QByteArray, ParsedNumber> m_shortNumbers;
};
