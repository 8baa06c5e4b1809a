#include "SAMLAssertion.h"

#include <QXmlStreamReader>

#include <algorithm>

namespace {

const QString roleAttribute = QStringLiteral("https://aws.amazon.com/SAML/Attributes/Role");
const QString redshiftAttributes = QStringLiteral("https://redshift.amazon.com/SAML/Attributes/");

std::optional<SAMLAssertion::Role> rolePair(const QString &value)
{
    const QStringList parts = value.split(u',');
    if (parts.size() != 2)
        return std::nullopt;
    QString role = parts[0].trimmed(), principal = parts[1].trimmed();
    if (role.contains(u":saml-provider/"))
        std::swap(role, principal);
    if (!role.startsWith(u"arn:") || !role.contains(u":role/") || !principal.startsWith(u"arn:")
        || !principal.contains(u":saml-provider/"))
        return std::nullopt;
    return SAMLAssertion::Role { role, principal };
}

} // namespace

std::variant<SAMLAssertion, QString> SAMLAssertion::read(const QByteArray &samlResponse)
{
    QByteArray base64 = samlResponse;
    base64.removeIf([](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
    const auto decoded
        = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return QStringLiteral("is not base64");

    SAMLAssertion assertion;
    bool offersRoles = false;
    QString attribute; // the Name of the Attribute element being read
    QXmlStreamReader xml(decoded.decoded);
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
            return QStringLiteral("holds a document type declaration, which iamlink refuses");
        case QXmlStreamReader::StartElement:
            if (xml.name() == u"Attribute") {
                attribute = xml.attributes().value(QStringLiteral("Name")).toString();
                offersRoles = offersRoles || attribute == roleAttribute;
            } else if (xml.name() == u"AttributeValue" && !attribute.isEmpty()) {
                const QString value
                    = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
                const QString redshift = attribute.startsWith(redshiftAttributes)
                    ? attribute.mid(redshiftAttributes.size())
                    : QString();
                if (attribute == roleAttribute) {
                    const auto role = rolePair(value);
                    if (role && !assertion.roles.contains(*role))
                        assertion.roles.append(*role);
                } else if (redshift == u"DbUser" && !assertion.dbUser && !value.isEmpty()) {
                    assertion.dbUser = value;
                } else if (redshift == u"AutoCreate" && !assertion.autoCreate && !value.isEmpty()) {
                    assertion.autoCreate = value;
                } else if (redshift == u"DbGroups") {
                    for (const QString &group : value.split(u',', Qt::SkipEmptyParts))
                        assertion.dbGroups.append(group.trimmed());
                }
            }
            break;
        case QXmlStreamReader::EndElement:
            if (xml.name() == u"Attribute")
                attribute.clear();
            break;
        default:
            break;
        }
    }
    if (xml.hasError())
        return QStringLiteral("is no well-formed XML (%1)").arg(xml.errorString());
    if (assertion.roles.isEmpty())
        return offersRoles
            ? QStringLiteral("offers no pair of an AWS role and a SAML provider")
            : QStringLiteral("offers no AWS role (no attribute %1)").arg(roleAttribute);
    return assertion;
}

void SAMLAssertion::addParameters(URLQueryItems &parameters) const
{
    // A name ending in "." names every item it begins.
    const auto named = [&parameters](const QString &name) {
        return std::any_of(
            parameters.cbegin(), parameters.cend(), [&name](const URLQueryItem &item) {
                return name.endsWith(u'.') ? item.name.startsWith(name) : item.name == name;
            });
    };
    if (dbUser && !named(QStringLiteral("DbUser")))
        parameters.append({ QStringLiteral("DbUser"), *dbUser });
    if (autoCreate && !named(QStringLiteral("AutoCreate")))
        parameters.append({ QStringLiteral("AutoCreate"), *autoCreate });
    if (!named(QStringLiteral("DbGroups."))) {
        for (qsizetype i = 0; i < dbGroups.size(); ++i)
            parameters.append({ QStringLiteral("DbGroups.DbGroup.%1").arg(i + 1), dbGroups[i] });
    }
}
