#include "Bundle.h"

#include <QCoreApplication>
#include <QDir>

namespace qzm::statusinfo {

Bundle::Bundle(const QString& resourcePath, const QString& tableName)
    : m_resourcePath(resourcePath) {
    m_tableLoaded = m_table.load(tableName + QStringLiteral(".qm"), m_resourcePath);
}

Bundle::~Bundle() = default;

std::unique_ptr<Bundle> Bundle::Main(const QString& tableName) {
    const QString path =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../Resources"));
    return std::make_unique<Bundle>(path, tableName);
}

QString Bundle::localizedString(const QString& key) const {
    if (m_tableLoaded) {
        // The table is keyed by id: no context, the key as the message id.
        const QString text = m_table.translate(nullptr, key.toUtf8().constData());
        if (!text.isEmpty()) {
            return text;
        }
    }
    return key;
}

}  // namespace qzm::statusinfo
