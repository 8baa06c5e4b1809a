// Feeds arbitrary text to the AWS shared-file reader, as a credentials and as a config file,
// and every value it keeps to the word splitter that credential_process uses: whatever a
// file holds must end in profiles, never a crash or a hang, with keys in lower case and
// values trimmed.
#include "AWSSharedFile.h"
#include "FuzzInput.h"
#include "ShellWords.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const auto kind : { AWSSharedFile::Kind::Credentials, AWSSharedFile::Kind::Config }) {
        const AWSSharedFile file = AWSSharedFile::parse(text, kind);
        for (const auto &sections : { file.profiles, file.ssoSessions }) {
            for (const AWSSharedFile::Settings &settings : sections) {
                for (auto setting = settings.cbegin(); setting != settings.cend(); ++setting) {
                    check(!setting.key().isEmpty() && setting.key() == setting.key().toLower());
                    check(*setting == setting->trimmed());
                    ShellWords::split(*setting);
                }
            }
        }
    }
    return 0;
}
