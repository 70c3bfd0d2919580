#include "data/PhoneNumberParser.h"

#include <QLocale>

#include <phonenumbers/phonenumberutil.h>
#include <phonenumbers/shortnumberinfo.h>

#include <set>
#include <string>

using i18n::phonenumbers::PhoneNumberUtil;
using i18n::phonenumbers::ShortNumberInfo;

namespace {

// How many leading digits (after a "+") make up the shape of a number, together with its
// length. International prefixes, country codes, trunk prefixes and carrier codes all lie
// within them.
constexpr int ShapeDigits = 6;
// National-form entries up to this many digits may be short codes.
constexpr int MaxShortCodeDigits = 8;
// More digits than any number with its international or trunk prefix has: refused before the
// library sees them, whose matching takes time that grows with the square of the length (a
// contact file's 64 KiB number took close to a minute).
constexpr int MaxNumberDigits = 32;
constexpr int MinShortCodeDigits = 3;

const QString NotANumber = QStringLiteral("not a phone number");
const QString TooShort = QStringLiteral("too short");
const QString TooLong = QStringLiteral("too long");
const QString Emergency = QStringLiteral("emergency number");
const QString UnknownCountryCode = QStringLiteral("unknown country code");
const QString NoCountry =
    QStringLiteral("a national number, but no country is set for national numbers");

PhoneNumberUtil &util() {
    return *PhoneNumberUtil::GetInstance();
}

// Reading the short-number data takes a while: once per process. Its methods are const and
// the library guards its caches, so threads may share it.
const ShortNumberInfo &shortNumbers() {
    static const ShortNumberInfo info;
    return info;
}

const std::set<std::string> &supportedRegions() {
    static const std::set<std::string> regions = [] {
        std::set<std::string> set;
        util().GetSupportedRegions(&set);
        return set;
    }();
    return regions;
}

bool isAsciiFormatting(char c) {
    switch (c) {
    case ' ':
    case '\t':
    case '-':
    case '.':
    case '/':
    case '(':
    case ')':
    case '[':
    case ']':
        return true;
    default:
        return false;
    }
}

// The digits of a typed number and whether it is international, or false when something
// other than digits, formatting and one leading "+" is in it. Non-ASCII spaces and dashes
// (a no-break space from a spreadsheet) are formatting and other scripts' digits are digits.
bool cleanNumber(const QByteArray &typed, QByteArray &digits, bool &international) {
    digits.clear();
    digits.reserve(typed.size());
    international = false;
    bool ascii = true;
    for (char c : typed) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c == '+' && digits.isEmpty() && !international)
            international = true;
        else if (!isAsciiFormatting(c))
            return false;
    }
    if (!ascii) {
        digits.clear();
        international = false;
        const QString text = QString::fromUtf8(typed);
        for (QChar ch : text) {
            const char16_t u = ch.unicode();
            if (u < 0x80) {
                const char c = static_cast<char>(u);
                if (c >= '0' && c <= '9')
                    digits += c;
                else if (c == '+' && digits.isEmpty() && !international)
                    international = true;
                else if (!isAsciiFormatting(c))
                    return false;
            } else if (ch.isDigit()) {
                digits += static_cast<char>('0' + ch.digitValue());
            } else if (ch == QChar(0xFF0B) && digits.isEmpty() && !international) {
                international = true; // full-width plus
            } else if (!ch.isSpace() && ch.category() != QChar::Punctuation_Dash &&
                       ch != QChar(0x2212)) {
                return false;
            }
        }
    }
    if (!international && digits.startsWith("00")) {
        international = true;
        digits.remove(0, 2);
    }
    return true;
}

QString reasonFor(PhoneNumberUtil::ErrorType error, bool international, bool noCountry) {
    switch (error) {
    case PhoneNumberUtil::INVALID_COUNTRY_CODE_ERROR:
        return international || !noCountry ? UnknownCountryCode : NoCountry;
    case PhoneNumberUtil::TOO_SHORT_AFTER_IDD:
    case PhoneNumberUtil::TOO_SHORT_NSN:
        return TooShort;
    case PhoneNumberUtil::TOO_LONG_NSN:
        return TooLong;
    default:
        return NotANumber;
    }
}

ParsedNumber refused(const QString &reason) {
    ParsedNumber result;
    result.kind = ParsedNumber::Kind::Refused;
    result.reason = reason;
    return result;
}

ParsedNumber fullNumber(QByteArray e164) {
    ParsedNumber result;
    result.kind = ParsedNumber::Kind::Number;
    result.number = std::move(e164);
    return result;
}

} // namespace

PhoneNumberParser::PhoneNumberParser(const QString &country)
    : m_country(isKnownCountry(country.toUpper()) ? country.toUpper() : QString()),
      m_region(m_country.isEmpty() ? std::string("ZZ") : m_country.toStdString()) {}

ParsedNumber PhoneNumberParser::parse(const QByteArray &typed) {
    QByteArray digits;
    bool international = false;
    if (!cleanNumber(typed, digits, international))
        return refused(NotANumber);
    if (digits.isEmpty())
        return refused(international ? TooShort : NotANumber);
    if (!international && digits.size() <= MaxShortCodeDigits)
        return parseShort(digits);
    if (digits.size() > MaxNumberDigits)
        return refused(TooLong);
    return parseFull(digits, international);
}

QByteArray PhoneNumberParser::key(const QByteArray &typed) {
    ParsedNumber parsed = parse(typed);
    return parsed.isUsable() ? parsed.number : typed;
}

ParsedNumber PhoneNumberParser::parseShort(const QByteArray &digits) {
    const auto known = m_shortNumbers.constFind(digits);
    if (known != m_shortNumbers.cend())
        return *known;
    ParsedNumber result;
    const std::string text = digits.toStdString();
    bool emergency = false;
    if (m_country.isEmpty()) {
        // Without a country the number may be an emergency number wherever the phone is.
        for (const std::string &region : supportedRegions()) {
            if (shortNumbers().IsEmergencyNumber(text, region)) {
                emergency = true;
                break;
            }
        }
    } else {
        emergency = shortNumbers().IsEmergencyNumber(text, m_region);
    }
    if (emergency) {
        result = refused(Emergency);
    } else if (digits.size() < MinShortCodeDigits) {
        result = refused(TooShort);
    } else {
        // Some countries have full numbers of eight digits or fewer (Denmark, Norway).
        i18n::phonenumbers::PhoneNumber number;
        std::string e164;
        if (!m_country.isEmpty() &&
            util().Parse(text, m_region, &number) == PhoneNumberUtil::NO_PARSING_ERROR &&
            util().IsValidNumber(number)) {
            util().Format(number, PhoneNumberUtil::E164, &e164);
            result = fullNumber(QByteArray::fromStdString(e164));
        } else {
            result.kind = ParsedNumber::Kind::ShortCode;
            result.number = digits;
        }
    }
    m_shortNumbers.insert(digits, result);
    return result;
}

ParsedNumber PhoneNumberParser::parseFull(const QByteArray &digits, bool international) {
    QByteArray shape;
    shape.reserve(8 + ShapeDigits);
    shape += international ? '+' : 'n';
    shape += QByteArray::number(digits.size());
    shape += ':';
    shape += QByteArrayView(digits).first(std::min<qsizetype>(digits.size(), ShapeDigits));
    const auto known = m_rules.constFind(shape);
    if (known != m_rules.cend()) {
        const Rule &rule = *known;
        switch (rule.kind) {
        case Rule::Kind::Apply: {
            QByteArray e164;
            e164.reserve(1 + rule.prefix.size() + digits.size() - rule.strip);
            e164 += '+';
            e164 += rule.prefix;
            e164 += QByteArrayView(digits).sliced(rule.strip);
            return fullNumber(std::move(e164));
        }
        case Rule::Kind::Fail:
            return refused(rule.reason);
        case Rule::Kind::AskLibrary:
            return askLibrary(digits, international, nullptr);
        }
    }
    Rule rule;
    ParsedNumber result = askLibrary(digits, international, &rule);
    m_rules.insert(shape, rule);
    return result;
}

ParsedNumber PhoneNumberParser::askLibrary(const QByteArray &digits, bool international,
                                           Rule *rule) const {
    std::string text;
    text.reserve(size_t(digits.size()) + 1);
    if (international)
        text += '+';
    text.append(digits.constData(), size_t(digits.size()));
    i18n::phonenumbers::PhoneNumber number;
    const PhoneNumberUtil::ErrorType error = util().Parse(text, m_region, &number);
    if (error != PhoneNumberUtil::NO_PARSING_ERROR) {
        const QString reason = reasonFor(error, international, m_country.isEmpty());
        if (rule) {
            rule->kind = Rule::Kind::Fail;
            rule->reason = reason;
        }
        return refused(reason);
    }
    std::string e164;
    util().Format(number, PhoneNumberUtil::E164, &e164);
    const QByteArray full = QByteArray::fromStdString(e164).sliced(1);
    if (rule) {
        // The digits the library kept unchanged at the end; the rest of the shape is the rule.
        qsizetype common = 0;
        while (common < digits.size() && common < full.size() &&
               digits[digits.size() - 1 - common] == full[full.size() - 1 - common])
            ++common;
        const qsizetype strip = digits.size() - common;
        if (strip <= ShapeDigits) {
            rule->kind = Rule::Kind::Apply;
            rule->prefix = full.first(full.size() - common);
            rule->strip = static_cast<int>(strip);
        } else {
            rule->kind = Rule::Kind::AskLibrary;
        }
    }
    return fullNumber('+' + full);
}

bool PhoneNumberParser::isValidNumber(const QByteArray &e164) {
    i18n::phonenumbers::PhoneNumber number;
    if (util().Parse(e164.toStdString(), "ZZ", &number) != PhoneNumberUtil::NO_PARSING_ERROR)
        return false;
    return util().IsValidNumber(number);
}

QList<QString> PhoneNumberParser::countries() {
    QList<QString> codes;
    codes.reserve(static_cast<qsizetype>(supportedRegions().size()));
    for (const std::string &region : supportedRegions())
        codes << QString::fromStdString(region);
    return codes;
}

bool PhoneNumberParser::isKnownCountry(const QString &code) {
    return code.size() == 2 && supportedRegions().count(code.toStdString()) > 0;
}

QString PhoneNumberParser::defaultCountry() {
    const QLocale::Territory territory = QLocale::system().territory();
    if (territory == QLocale::AnyTerritory)
        return {};
    const QString code = QLocale::territoryToCode(territory);
    return isKnownCountry(code) ? code : QString();
}
