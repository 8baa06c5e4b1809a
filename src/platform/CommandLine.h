#pragma once

#include <QCommandLineParser>

// What iamlink's programs share on their command line: their name and version, a parser with
// their description, --help and --version, and the answer to those two.
class CommandLine {
public:
    CommandLine(const QString &name, const QString &description);

    // After parser.parse(): whether --help or --version was asked, its text then written to
    // standard output. Needs no application object, so the window answers without a display.
    bool answeredHelpOrVersion() const;

    QCommandLineParser parser;

private:
    QCommandLineOption m_help;
    QCommandLineOption m_version;
};
