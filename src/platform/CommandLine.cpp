#include "CommandLine.h"

#include <QCoreApplication>

#include <cstdio>

CommandLine::CommandLine(const QString &name, const QString &description)
    : m_help(parser.addHelpOption())
    , m_version(parser.addVersionOption())
{
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(QStringLiteral(IAMLINK_VERSION));
    parser.setApplicationDescription(description);
}

bool CommandLine::answeredHelpOrVersion() const
{
    // A GUI application's parser knows --help-all too, for Qt's own options.
    const bool help = parser.isSet(m_help) || parser.optionNames().contains(u"help-all");
    if (!help && !parser.isSet(m_version))
        return false;
    const QString name = QCoreApplication::applicationName();
    // Without an application object Qt cannot name the executable.
    const QString text = help ? parser.helpText().replace(QStringLiteral("<executable_name>"), name)
                              : name + u' ' + QCoreApplication::applicationVersion() + u'\n';
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return true;
}
