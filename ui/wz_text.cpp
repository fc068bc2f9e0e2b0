#include "ui/wz_text.h"

#include <QFile>
#include <QLocale>
#include <QStringDecoder>

namespace dormal::ui {

char localeDecimalSeparator() {
    const QString dp = QLocale().decimalPoint();
    if (dp.size() == 1 && dp.at(0).unicode() > 0x20 && dp.at(0).unicode() < 0x7f)
        return static_cast<char>(dp.at(0).unicode());
    return '.';
}

std::string toFileName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString fromFileText(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (!utf8.hasError())
        return decoded;
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

namespace {

// The code point of the UTF-8 sequence at bytes[i], and its length; 0 when no valid sequence
// (overlong, surrogate, beyond U+10FFFF, cut short) starts there.
std::size_t utf8Sequence(const std::string& bytes, std::size_t i, char32_t& code) {
    const auto byte = [&bytes](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// Characters that must not reach a one-line label as they are.
bool unsafeInLabel(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString shownFileName(const std::string& bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t code = 0;
        std::size_t length = utf8Sequence(bytes, i, code);
        if (length == 0) {
            code = static_cast<unsigned char>(bytes[i]); // Latin-1
            length = 1;
        }
        if (unsafeInLabel(code))
            code = 0xFFFD;
        out += QString::fromUcs4(&code, 1);
        i += length;
    }
    return out;
}

Message namingFile(const Message& message, const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (const std::string& line : message.lines)
        if (!name.empty() && line.find(name) != std::string::npos)
            return message;
    Message named = message;
    named.lines.push_back(path);
    return named;
}

} // namespace dormal::ui
