#include "app/Version.h"
#include "qt/ClientApp.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(stonecall::AppTitle));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(stonecall::VersionMajor)
                                            .arg(stonecall::VersionMinor)
                                            .arg(stonecall::VersionRevision));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/art/stonecall-icon.svg")));
    QApplication::setDesktopFileName(QStringLiteral("stonecall")); // ties windows to the menu entry
    // The run ends when the client says so, not when a window closes.
    QApplication::setQuitOnLastWindowClosed(false);

    stonecall::ClientApp client;
    client.start();
    return QApplication::exec();
}
