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
