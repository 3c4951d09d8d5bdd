// The program's bundle: its resource folder and its table of localised
// strings.
//
// The program runs from <Name>.app/Contents/MacOS; its resources (the status
// icons and the compiled string table) lie in <Name>.app/Contents/Resources.
#pragma once

#include <QString>
#include <QTranslator>

#include <memory>

namespace qzm::statusinfo {

// Resource folder and localised strings of one program bundle.
class Bundle {
  public:
    // A bundle whose resources lie in resourcePath. The string table
    // "<tableName>.qm" is loaded from there when it exists.
    Bundle(const QString& resourcePath, const QString& tableName);
    ~Bundle();
    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    // The bundle of the running program: Contents/Resources next to the
    // folder of its executable.
    static std::unique_ptr<Bundle> Main(const QString& tableName);

    const QString& resourcePath() const { return m_resourcePath; }

    // The text of key in the string table, or the key itself when the table
    // has no text for it.
    QString localizedString(const QString& key) const;

  private:
    QString m_resourcePath;
    QTranslator m_table;
    bool m_tableLoaded = false;
};

}  // namespace qzm::statusinfo
