#pragma once

#include "URLQueryItem.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// What iamlink reads of an identity provider's SAML response: the AWS roles it offers and
// Redshift's own attributes.
struct SAMLAssertion {
    struct Role {
        QString roleArn;
        QString principalArn; // the identity provider's saml-provider ARN

        friend bool operator==(const Role &, const Role &) = default;
    };

    // The pairs of https://aws.amazon.com/SAML/Attributes/Role, "role ARN,principal ARN" in
    // either order, each once.
    QList<Role> roles;
    // https://redshift.amazon.com/SAML/Attributes/DbUser, …/AutoCreate and …/DbGroups (each
    // value, split at commas as the JDBC driver does).
    std::optional<QString> dbUser;
    std::optional<QString> autoCreate;
    QStringList dbGroups;

    // The SAMLResponse field of the form the identity provider has the browser post: base64
    // (line breaks allowed), then XML read with QXmlStreamReader, a document type declaration
    // (and with it any entity of its own) refused. Else why not, for an alert: not base64, no
    // XML, or no role offered.
    static std::variant<SAMLAssertion, QString> read(const QByteArray &samlResponse);

    // The attributes as GetClusterCredentials items (DbUser, AutoCreate, DbGroups.DbGroup.N),
    // each unless `parameters` already names it: the URL's own items win.
    void addParameters(URLQueryItems &parameters) const;
};
