// The uninstaller's one conversation with the system and the helper:
// authorization and the helper's start are one step (pkexec), then one
// request line in and one reply line out.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// Where the uninstaller finds pkexec and the helper it asks pkexec to run.
struct HelperCommand {
    QString pkexec;
    QString helper;

    // The installed programs. Tests may name stand-ins for both through
    // QZM480_TEST_PKEXEC and QZM480_TEST_HELPER; nothing else changes.
    static HelperCommand Installed();
};

// The request line the helper expects.
inline constexpr char kUninstallRequest[] = "{\"Uninstall\":\"Uninstall\"}\n";

// The value of "reply" in the first line of the helper's output, or nothing
// when that line is not a JSON object with a boolean "reply".
std::optional<bool> _ParseReply(const QByteArray& output);

// Runs pkexec with the helper, sends the request and waits for the reply,
// however long the removal takes. Returns 0 when the helper replied true,
// -1 when it could not be reached, gave no valid reply or replied false, and
// 1 when authorization was not obtained (pkexec could not start, was
// dismissed or refused: exit status 126 or 127). Runs on the worker thread.
int32_t requestUnInstall(const HelperCommand& command);
