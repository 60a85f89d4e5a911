#include "qt/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace stonecall {

namespace {

constexpr int DefaultPort = 13511;

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption server{QStringLiteral("server"),
                              QStringLiteral("Log in to the lobby server at HOST, on PORT (%1 "
                                             "when left out); an IPv6 address goes in brackets: "
                                             "[::1]:%1.")
                                  .arg(DefaultPort),
                              QStringLiteral("HOST[:PORT]")};

    Parser()
    {
        parser.setApplicationDescription(
            QStringLiteral("A desktop lobby client: log in, chat, host and join huts."));
        parser.addOption(server);
    }
};

void print(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
}

} // namespace

bool asksForHelpOrVersion(const QStringList& arguments)
{
    Parser p;
    return p.parser.parse(arguments) && (p.parser.isSet(p.help) || p.parser.isSet(p.version) ||
                                         p.parser.isSet(QStringLiteral("help-all")));
}

CommandLine readCommandLine(const QStringList& arguments)
{
    Parser p;
    const QString name = QCoreApplication::applicationName().toLower();
    const auto wrong = [&](const QString& why) {
        print(stderr, QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(name, why));
        return CommandLine{std::nullopt, 2};
    };
    if (!p.parser.parse(arguments))
        return wrong(p.parser.errorText());
    if (p.parser.isSet(QStringLiteral("help-all")))
        p.parser.process(arguments); // prints the Qt options too, and ends the run
    if (p.parser.isSet(p.help)) {
        print(stdout, p.parser.helpText());
        return {std::nullopt, 0};
    }
    if (p.parser.isSet(p.version)) {
        print(stdout, QStringLiteral("%1 %2\n").arg(name, QCoreApplication::applicationVersion()));
        return {std::nullopt, 0};
    }
    if (!p.parser.positionalArguments().isEmpty())
        return wrong(QStringLiteral("unexpected argument '%1'")
                         .arg(p.parser.positionalArguments().constFirst()));
    CommandLine line;
    if (p.parser.isSet(p.server)) {
        const QString text = p.parser.value(p.server);
        line.server = parseServerAddress(text.toStdString(), DefaultPort);
        if (!line.server)
            return wrong(QStringLiteral("--server: '%1' is not HOST or HOST:PORT (a port from 1 "
                                        "to 65535; an IPv6 address in brackets: [::1]:%2)")
                             .arg(text)
                             .arg(DefaultPort));
    }
    return line;
}

} // namespace stonecall
