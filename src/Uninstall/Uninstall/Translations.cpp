#include "Translations.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

void LoadTranslations(QCoreApplication* app) {
    auto* translator = new QTranslator(app);
    const QString folder = QStringLiteral(":/i18n");
    const QString name = QStringLiteral("UninstallQZ-M480");
    if (translator->load(QLocale(), name, QStringLiteral("_"), folder) ||
        translator->load(name + QStringLiteral("_en"), folder)) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}
