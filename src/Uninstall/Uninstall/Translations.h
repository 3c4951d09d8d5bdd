// The uninstaller's texts, looked up by key; a key without a text shows the key.
#pragma once

class QCoreApplication;

// Installs the texts for the user's language, English when there are none.
void LoadTranslations(QCoreApplication* app);
