#include "MessageFileText.h"

#include <QByteArrayView>
#include <QStringDecoder>

std::string MessageFileText(const std::string& Bytes)
{
    std::string_view data(Bytes);
    if (data.substr(0, 3) == "\xEF\xBB\xBF") data.remove_prefix(3);
    const QByteArrayView view(data.data(), static_cast<qsizetype>(data.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(view);
    if (!utf8.hasError()) return std::string(data);
    QStringDecoder cp1251("windows-1251");
    // Without a converter for the code page the bytes stand as they are.
    if (!cp1251.isValid()) return std::string(data);
    return QString(cp1251.decode(view)).toStdString();
}
