#include "app/Application.h"

#include <QApplication>
#include <QIcon>

#include "app/frmGetHTML.h"

namespace fotolane::app {

int RunFotolane(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Fotolane"));
    QApplication::setOrganizationName(QStringLiteral("Quarvell"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/fotolane/fotolane.png")));
    frmGetHTML window;
    window.show();
    const int status = QApplication::exec();
    return window.Failed() ? 1 : status;
}

}  // namespace fotolane::app
