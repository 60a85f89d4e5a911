#include "qt/QtApplication.h"

#include <QCoreApplication>

namespace stonecall {

void QtApplication::quit()
{
    quitRequested_ = true;
    QCoreApplication::exit(0);
}

void QtApplication::DoEvents()
{
    QCoreApplication::processEvents();
}

} // namespace stonecall
