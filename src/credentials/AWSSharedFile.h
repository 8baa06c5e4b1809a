#pragma once

#include <QHash>
#include <QString>
#include <QStringView>

// The profiles of one AWS shared file, read from its text as the AWS CLI reads it: lines of
// "key = value" (or "key: value") under "[section]" headers; whole-line comments with # or ;
// and an inline one only after a blank; keys in lower case, values trimmed; an indented line
// continues the value above, and a key whose value is only such lines (a nested block like
// "s3 =") is left out. A section or key written twice is merged, the later value winning.
class AWSSharedFile {
public:
    enum class Kind {
        Credentials, // every section is a profile: [name]
        Config, // [default], [profile name] and [sso-session name]; other sections are ignored
    };
    using Settings = QHash<QString, QString>;

    static AWSSharedFile parse(QStringView text, Kind kind);

    QHash<QString, Settings> profiles;
    QHash<QString, Settings> ssoSessions;
};
