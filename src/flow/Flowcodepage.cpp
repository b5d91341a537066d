#include "flow/Flowcodepage.h"

#include <QByteArray>
#include <QStringDecoder>
#include <QStringEncoder>

namespace tolm {

namespace {

// Qt's converters (ICU-backed) know the Windows code pages by these names.
QByteArray CodecName(int codePage) {
    if (codePage == 65001) return "UTF-8";
    return "windows-" + QByteArray::number(codePage);
}

}  // namespace

bool IsKnownCodePage(int codePage) { return QStringDecoder(CodecName(codePage).constData()).isValid(); }

QString DecodeDiagramText(const std::string& bytes, int codePage) {
    const QByteArray in = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder decoder(CodecName(codePage).constData());
    if (!decoder.isValid()) return QString::fromLatin1(in);
    return decoder.decode(in);
}

std::string EncodeDiagramText(const QString& text, int codePage) {
    QStringEncoder encoder(CodecName(codePage).constData());
    const QByteArray out = encoder.isValid() ? QByteArray(encoder.encode(text)) : text.toLatin1();
    return out.toStdString();
}

}  // namespace tolm
