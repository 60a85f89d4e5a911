#include "app/Version.h"
#include "qt/ClientApp.h"
#include "qt/CommandLine.h"

#include <QApplication>
#include <QIcon>
#include <QStringList>

int main(int argc, char** argv)
{
    QApplication::setApplicationName(QString::fromLatin1(stonecall::AppTitle));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(stonecall::VersionMajor)
                                            .arg(stonecall::VersionMinor)
                                            .arg(stonecall::VersionRevision));
    {
        // Help and the version need no window system, so they work without a display.
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        if (stonecall::asksForHelpOrVersion(arguments)) {
            const QCoreApplication reading(argc, argv);
            return stonecall::readCommandLine(arguments).exitStatus.value_or(0);
        }
    }
    QApplication application(argc, argv);
    // The window system's own options are gone from arguments() by now.
    const stonecall::CommandLine line = stonecall::readCommandLine(QApplication::arguments());
    if (line.exitStatus)
        return *line.exitStatus;
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/art/stonecall-icon.svg")));
    QApplication::setDesktopFileName(QStringLiteral("stonecall")); // ties windows to the menu entry
    // The run ends when the client says so, not when a window closes.
    QApplication::setQuitOnLastWindowClosed(false);

    stonecall::ClientApp client(line.server);
    client.start();
    return QApplication::exec();
}
