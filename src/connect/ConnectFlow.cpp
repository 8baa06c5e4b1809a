#include "ConnectFlow.h"

#include "DesktopServices.h"
#include "DisplayedText.h"
#include "RedshiftCredentialsRequest.h"
#include "URLSessionTask.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace {

const QString jdbcPrefix = QStringLiteral("jdbc:");
const QString redshiftIAMPrefix = QStringLiteral("redshift:iam:");

// Compares the first prefix.size() characters of `text` (all of it if shorter) after
// lower-casing, so only the prefix's own letters in any case match.
bool hasPrefixIgnoringCase(const QString &text, const QString &prefix)
{
    return text.left(prefix.size()).toLower() == prefix;
}

// Any Unicode blank: the URL parser would percent-encode a no-break or ideographic space
// where an ASCII one makes the text malformed, and a URL with blanks is never what was meant.
bool containsBlank(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        const QChar::Category category = c.category();
        return category == QChar::Separator_Space || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph;
    });
}

// Pasted text as an alert may quote it: the value of every query item that carries a secret
// (its name in any case, possibly percent-encoded) replaced by "***", then displayedText.
QString displayedURLText(const QString &text)
{
    // An item starts the text or follows "?", "&", ";" or a blank. Its value runs to the
    // next "&": a secret holding blanks, line breaks or "#" (which made the URL malformed)
    // is masked whole, and at worst a fragment after it too.
    static const QRegularExpression item(
        QStringLiteral("(?:^|(?<=[?&;\\s]))([^=&?#\\s]+)=([^&]*)"));
    QString masked;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator matches = item.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString name = QUrl::fromPercentEncoding(match.captured(1).toUtf8()).toLower();
        if ((name != u"secretaccesskey" && name != u"sessiontoken") || match.capturedLength(2) == 0)
            continue;
        masked += QStringView(text).mid(copied, match.capturedStart(2) - copied);
        masked += QStringLiteral("***");
        copied = match.capturedEnd(2);
    }
    masked += QStringView(text).mid(copied);
    return displayedText(masked);
}

// An item given in the query wins over the same parameter taken from the host or user part.
void appendUnlessNamed(URLQueryItems &parameters, const QString &name, const QString &value)
{
    const bool named = std::any_of(parameters.cbegin(), parameters.cend(),
        [&name](const URLQueryItem &item) { return item.name == name; });
    if (!named)
        parameters.append({ name, value });
}

} // namespace

ConnectFlow::ConnectFlow(DesktopServices &desktop, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
{
}

void ConnectFlow::openURLString(const QString &text)
{
    // Leading JDBC prefixes are removed one after another; a loop instead of a recursion
    // so that a paste made of thousands of them cannot exhaust the stack.
    QString rest = text;
    while (!rest.isEmpty() && hasPrefixIgnoringCase(rest, jdbcPrefix))
        rest.remove(0, jdbcPrefix.size());

    if (rest.isEmpty()) {
        showAlertSheet(QStringLiteral("No URL"),
            QStringLiteral("Please paste or type an URL into the text field"));
        return;
    }
    if (hasPrefixIgnoringCase(rest, redshiftIAMPrefix)) {
        openRedshiftIAMURL(rest);
        return;
    }

    // StrictMode rejects what may not stand in a URL (ASCII blanks, stray "%") instead of
    // escaping it: the text is opened as typed or not at all.
    const QUrl url(rest, QUrl::StrictMode);
    if (!url.isValid() || containsBlank(rest)) {
        showAlertSheet(QStringLiteral("Malformed URL"),
            displayedURLText(rest) + QStringLiteral(" is not a valid URL"));
        return;
    }
    // A relative reference such as a bare word would be taken for a local file by the
    // desktop's opener; no handler is registered for it, so it is dropped silently.
    if (url.scheme().isEmpty()) {
        Q_EMIT finished();
        return;
    }
    open(url);
}

void ConnectFlow::openRedshiftIAMURL(const QString &text)
{
    const QString rewritten = QStringLiteral("postgres:") + text.mid(redshiftIAMPrefix.size());
    QUrl connectionURL(rewritten, QUrl::StrictMode);
    if (!connectionURL.isValid() || containsBlank(rewritten)) {
        showAlertSheet(QStringLiteral("Malformed URL"),
            displayedURLText(text) + QStringLiteral(" is not a valid Redshift IAM URL"));
        return;
    }

    const std::shared_ptr<RedshiftCredentialsRequest> request
        = RedshiftCredentialsRequest::create();

    if (const std::optional<URLQueryItems> items = queryItems(connectionURL)) {
        URLQueryItems kept;
        for (const URLQueryItem &item : *items) {
            if (sortQueryItem(item, *request))
                kept.append(item);
        }
        setQueryItems(connectionURL, kept);
    }

    const QString host = connectionURL.host();
    if (!host.isEmpty()) {
        // Without UseUnicodePropertiesOption, \w is ASCII letters, digits and "_".
        static const QRegularExpression clusterAndRegion(
            QStringLiteral("^([^.]+).*\\.(\\w+-\\w+-\\w+)\\."));
        const QRegularExpressionMatch match = clusterAndRegion.match(host);
        if (match.hasMatch()) {
            appendUnlessNamed(
                request->parameters, QStringLiteral("ClusterIdentifier"), match.captured(1));
            request->awsRegion = match.captured(2);
        }
    }

    const QString user = connectionURL.userName(QUrl::FullyDecoded);
    if (!user.isEmpty())
        appendUnlessNamed(request->parameters, QStringLiteral("DbUser"), user);

    // Without a key pair or a region there is nothing to sign or to address: say which
    // pieces are missing before anything is sent. An empty key is missing too: the service
    // could only refuse it.
    const auto isMissing = [](const std::optional<QString> &key) {
        return !key || key->isEmpty();
    };
    QStringList missing;
    if (isMissing(request->accessKeyID))
        missing.append(QStringLiteral("AccessKeyID"));
    if (isMissing(request->secretAccessKey))
        missing.append(QStringLiteral("SecretAccessKey"));
    if (!request->awsRegion)
        missing.append(QStringLiteral("the region in the host name"));
    if (!missing.isEmpty()) {
        showAlertSheet(QStringLiteral("Incomplete Redshift IAM URL"),
            QStringLiteral("Missing: ") + missing.join(QStringLiteral(", ")));
        return;
    }

    setBusy(true);
    const QPointer<ConnectFlow> self(this);
    lastTask
        = sendCredentialsRequest(request, [self, connectionURL](const CredentialsResult &result) {
              if (self)
                  self->completeConnection(result, connectionURL);
          });
}

bool ConnectFlow::sortQueryItem(const URLQueryItem &item, RedshiftCredentialsRequest &request)
{
    static const QStringList forwardedNames {
        QStringLiteral("ClusterIdentifier"),
        QStringLiteral("DbUser"),
        QStringLiteral("AutoCreate"),
        QStringLiteral("DbName"),
        QStringLiteral("DurationSeconds"),
    };
    if (forwardedNames.contains(item.name, Qt::CaseSensitive)
        || item.name.startsWith(QLatin1String("DbGroups.DbGroup."), Qt::CaseSensitive)) {
        request.parameters.append(item);
        return false;
    }
    const QString lowerName = item.name.toLower();
    if (lowerName == QLatin1String("accesskeyid")) {
        request.accessKeyID = item.value;
        return false;
    }
    if (lowerName == QLatin1String("secretaccesskey")) {
        request.secretAccessKey = item.value;
        return false;
    }
    return true;
}

void ConnectFlow::completeConnection(const CredentialsResult &result, QUrl connectionURL)
{
    setBusy(false);
    if (result.isSuccess()) {
        // An empty credential must still be written as present, so a null text becomes an
        // empty one; DecodedMode percent-encodes what a user or password part cannot hold.
        const auto present = [](const QString &text) {
            return text.isNull() ? QStringLiteral("") : text;
        };
        connectionURL.setUserName(present(*result.dbUser), QUrl::DecodedMode);
        connectionURL.setPassword(present(*result.dbPassword), QUrl::DecodedMode);
        if (connectionURL.isValid()) {
            open(connectionURL);
            return;
        }
    }
    // What the service or the network said is shown as text that cannot drive a terminal.
    QString informativeText;
    if (result.transportError)
        informativeText += displayedText(result.transportError->description) + u'\n';
    if (result.errorMessage)
        informativeText += displayedText(*result.errorMessage) + u'\n';
    showAlertSheet(QStringLiteral("Failed to get credentials from AWS"), informativeText);
}

void ConnectFlow::open(const QUrl &url)
{
    const QPointer<ConnectFlow> self(this);
    m_desktop.openURL(url, [self, scheme = url.scheme()](const std::optional<QString> &problem) {
        if (!self)
            return;
        if (!problem) {
            Q_EMIT self->finished();
            return;
        }
        // Never the URL itself: it may carry the password.
        const bool postgres = scheme == u"postgres" || scheme == u"postgresql";
        self->showAlertSheet(QStringLiteral("No application opens %1: URLs").arg(scheme),
            *problem + QStringLiteral(".\n")
                + (postgres ? QStringLiteral("Install a PostgreSQL client that handles "
                                             "postgres: URLs, such as the psql handler that "
                                             "comes with iamlink, or run iamlink-cli --print "
                                             "to get the URL instead.")
                            : QStringLiteral("Install an application that handles %1: URLs.")
                                  .arg(scheme)));
    });
}

void ConnectFlow::showAlertSheet(const QString &messageText, const QString &informativeText)
{
    m_desktop.showAlertSheet(messageText, informativeText);
    Q_EMIT finished();
}

QPointer<URLSessionTask> ConnectFlow::sendCredentialsRequest(
    const std::shared_ptr<RedshiftCredentialsRequest> &request,
    std::function<void(const CredentialsResult &)> completion)
{
    return request->start(m_session, std::move(completion));
}

void ConnectFlow::cancel()
{
    if (lastTask)
        lastTask->cancel();
}

void ConnectFlow::setBusy(bool busy)
{
    m_busy = busy;
    m_desktop.setBusy(busy);
}
