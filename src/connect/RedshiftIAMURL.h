#pragma once

#include "DesktopServices.h"
#include "URLQueryItem.h"

#include <QString>
#include <QUrl>

#include <optional>
#include <variant>

// A Redshift IAM URL taken apart: the postgres: connection URL it becomes (the items meant
// for AWS removed), the parameters of the credentials call, the region, the workgroup or
// cluster it names, and what it says about the AWS keys.
class RedshiftIAMURL {
public:
    // What such a URL begins with, in any letter case.
    static inline const QString prefix = QStringLiteral("redshift:iam:");

    // `text` begins with "redshift:iam:" in any letter case; a text that is no such URL, or
    // one whose items would redirect the connection, gives the alert to show. Besides the URL
    // form, JDBC's forms are read: a region where the port would be ("//<cluster id>:<region>
    // /…"), and properties after ";" instead of "?", separated by ";" or "&", which become the
    // connection URL's query. The connection URL requires TLS.
    static std::variant<RedshiftIAMURL, Alert> parse(const QString &text);

    // A host in AWS's own Redshift domains (redshift.amazonaws.com and
    // redshift-serverless.amazonaws.com, and their .cn forms, as QUrl writes the host): its
    // first label, the cluster or workgroup, and the label before the domain, the region.
    struct AWSHost {
        QString name;
        QString region;
        bool serverless = false;
    };
    static std::optional<AWSHost> awsHost(const QString &host);

    // Whether the URL's own key items give the AWS keys: then they are its writer's, and the
    // writer chose where the password goes.
    bool hasKeys() const;
    // The value of the last forwarded parameter named `name`, absent when it has none.
    std::optional<QString> parameter(const QString &name) const;
    // The cluster or the workgroup whose credentials are asked for.
    QString target() const;
    // Whether keys found elsewhere (the user's own) may be spent on this URL without asking:
    // its host is AWS's own name of the cluster or workgroup asked for, or DescribeClusters
    // tells the host.
    bool isTrustedHost() const;

    // True when `item` stays in the connection URL; false when it was taken into `url`.
    static bool sortQueryItem(const URLQueryItem &item, RedshiftIAMURL &url);

    QUrl connectionURL;
    // The forwarded items in URL order (a ClusterID item in any letter case as
    // ClusterIdentifier), then the cluster identifier from the host and the database user
    // from the user part, unless the query gave them.
    URLQueryItems parameters;
    // The region in the host name, else the last Region item (any letter case).
    std::optional<QString> region;
    // The Redshift Serverless workgroup: the last WorkgroupName item (any letter case), else
    // the first label of a host in redshift-serverless.amazonaws.com(.cn). Absent for a cluster.
    std::optional<QString> workgroupName;
    // True when the host and the region were given as "<cluster id>:<region>": the host is
    // no address, and DescribeClusters tells the connection URL's host and port.
    bool describeCluster = false;
    // The key items of the query (any letter case), the last of each name.
    std::optional<QString> accessKeyID;
    std::optional<QString> secretAccessKey;
    std::optional<QString> sessionToken;
    // The Profile item (any letter case): the AWS profile whose keys to use.
    std::optional<QString> profile;
};
