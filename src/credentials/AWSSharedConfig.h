#pragma once

#include "AWSSharedFile.h"
#include "DesktopServices.h"

#include <QString>

#include <optional>
#include <variant>

// Both AWS shared files as found on disk: the credentials file (AWS_SHARED_CREDENTIALS_FILE,
// else ~/.aws/credentials) and the config file (AWS_CONFIG_FILE, else ~/.aws/config). They
// are only ever read.
class AWSSharedConfig {
public:
    // A path that names nothing, or something other than a file or folder (such as
    // /dev/null), reads as an empty file; one that cannot be read is an alert naming it.
    static std::variant<AWSSharedConfig, Alert> load();

    bool hasProfile(const QString &profile) const;
    // The profile's setting, from the credentials file when both files set it; an empty
    // value is none.
    std::optional<QString> setting(const QString &profile, const QString &key) const;
    // The setting from one file only.
    static std::optional<QString> setting(
        const AWSSharedFile &file, const QString &profile, const QString &key);

    // "<credentials path> and <config path>", for alerts.
    QString paths() const;

    QString credentialsPath;
    QString configPath;
    AWSSharedFile credentials;
    AWSSharedFile config;
};
