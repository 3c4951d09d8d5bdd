// UninstallQZ-M480: the window from which a user removes the package.
#include <QApplication>

#include "AppDelegate.h"
#include "Translations.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("UninstallQZ-M480"));
    QApplication::setOrganizationDomain(QStringLiteral("orvane.com"));
    LoadTranslations(&app);

    AppDelegate delegate;
    if (!delegate.applicationDidFinishLaunching())
        return 0;
    return QApplication::exec();
}
