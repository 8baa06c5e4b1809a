#include "AWSSharedConfig.h"

#include "DisplayedText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Far beyond any real file, so that a wrong path cannot fill memory.
constexpr qint64 maxFileSize = 16 * 1024 * 1024;

QString path(const char *variable, const QString &fallback)
{
    QString value = qEnvironmentVariable(variable);
    if (value.isEmpty())
        return QDir::homePath() + QStringLiteral("/.aws/") + fallback;
    // As the AWS CLI does, a leading ~ is the home folder.
    if (value == u"~" || value.startsWith(u"~/"))
        value.replace(0, 1, QDir::homePath());
    return value;
}

std::variant<AWSSharedFile, Alert> read(const QString &path, AWSSharedFile::Kind kind)
{
    const QFileInfo info(path);
    if (!info.exists() || (!info.isFile() && !info.isDir()))
        return AWSSharedFile();
    QFile file(path);
    QByteArray bytes;
    bool readable = info.isFile() && file.open(QIODevice::ReadOnly);
    if (readable) {
        bytes = file.read(maxFileSize + 1);
        readable = file.error() == QFile::NoError && bytes.size() <= maxFileSize;
    }
    if (!readable)
        return Alert { QStringLiteral("Cannot read an AWS file"),
            QStringLiteral("iamlink could not read %1: %2.")
                .arg(displayedText(path),
                    info.isDir()                     ? QStringLiteral("it is a folder")
                        : bytes.size() > maxFileSize ? QStringLiteral("it is larger than 16 MiB")
                                                     : displayedText(file.errorString())) };
    return AWSSharedFile::parse(QString::fromUtf8(bytes), kind);
}

} // namespace

std::variant<AWSSharedConfig, Alert> AWSSharedConfig::load()
{
    AWSSharedConfig shared;
    shared.credentialsPath = path("AWS_SHARED_CREDENTIALS_FILE", QStringLiteral("credentials"));
    shared.configPath = path("AWS_CONFIG_FILE", QStringLiteral("config"));
    auto credentials = read(shared.credentialsPath, AWSSharedFile::Kind::Credentials);
    if (const Alert *alert = std::get_if<Alert>(&credentials))
        return *alert;
    auto config = read(shared.configPath, AWSSharedFile::Kind::Config);
    if (const Alert *alert = std::get_if<Alert>(&config))
        return *alert;
    shared.credentials = std::get<AWSSharedFile>(std::move(credentials));
    shared.config = std::get<AWSSharedFile>(std::move(config));
    return shared;
}

bool AWSSharedConfig::hasProfile(const QString &profile) const
{
    return credentials.profiles.contains(profile) || config.profiles.contains(profile);
}

std::optional<QString> AWSSharedConfig::setting(const QString &profile, const QString &key) const
{
    if (auto value = setting(credentials, profile, key))
        return value;
    return setting(config, profile, key);
}

std::optional<QString> AWSSharedConfig::setting(
    const AWSSharedFile &file, const QString &profile, const QString &key)
{
    const auto settings = file.profiles.constFind(profile);
    if (settings == file.profiles.cend())
        return std::nullopt;
    // An empty value sets nothing that could sign a request.
    const QString value = settings->value(key);
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

QString AWSSharedConfig::paths() const
{
    return displayedText(credentialsPath) + QStringLiteral(" and ") + displayedText(configPath);
}
