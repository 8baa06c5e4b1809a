#include "AWSXMLReply.h"

#include <QXmlStreamReader>

AWSXMLReply AWSXMLReply::read(const QByteArray &body)
{
    AWSXMLReply reply;
    QXmlStreamReader reader(body);
    reader.setNamespaceProcessing(false);
    // Internal entities may expand to no more than this many characters in all, so a
    // "billion laughs" body stops early instead of filling memory.
    reader.setEntityExpansionLimit(4096);
    qsizetype gathered = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            const QString name = reader.qualifiedName().toString();
            reply.elementContents.insert(name, QString());
            reply.openElements.insert(name);
            break;
        }
        case QXmlStreamReader::EndElement:
            reply.openElements.remove(reader.qualifiedName().toString());
            break;
        case QXmlStreamReader::Characters: {
            if (reader.isCDATA())
                break;
            const QStringView text = reader.text();
            const qsizetype gathering = text.size() * reply.openElements.size();
            if (gathering > maxGatheredCharacters - gathered)
                return reply;
            gathered += gathering;
            for (const QString &name : std::as_const(reply.openElements))
                reply.elementContents[name].append(text);
            break;
        }
        case QXmlStreamReader::EndDocument:
            reply.openElements.clear();
            break;
        default:
            break;
        }
    }
    return reply;
}

std::optional<QString> AWSXMLReply::contents(const QString &name) const
{
    const auto found = elementContents.constFind(name);
    if (found == elementContents.cend())
        return std::nullopt;
    return *found;
}

std::optional<QString> AWSXMLReply::completeContents(const QString &name) const
{
    return openElements.contains(name) ? std::nullopt : contents(name);
}
