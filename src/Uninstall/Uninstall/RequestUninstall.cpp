#include "RequestUninstall.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QProcess>

#include "Paths.h"

namespace {

// pkexec's exit statuses for a dismissed dialog and for a refused or failed
// authorization (a helper that is not installed reads the same).
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

QString FromEnv(const char* name, const QString& fallback) {
    QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

}  // namespace

HelperCommand HelperCommand::Installed() {
    // The helper's path is handed to pkexec, so QZM480_ROOT never applies.
    return {FromEnv("QZM480_TEST_PKEXEC", QStringLiteral("/usr/bin/pkexec")),
            FromEnv("QZM480_TEST_HELPER", QString::fromLatin1(qzm::paths::kHelper))};
}

std::optional<bool> _ParseReply(const QByteArray& output) {
    qsizetype end = output.indexOf('\n');
    QByteArray line = end < 0 ? output : output.left(end);
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    QJsonValue reply = document.object().value(QStringLiteral("reply"));
    if (!reply.isBool())
        return std::nullopt;
    return reply.toBool();
}

int32_t requestUnInstall(const HelperCommand& command) {
    QProcess process;
    process.setProgram(command.pkexec);
    process.setArguments({command.helper});
    // Nothing is shown or logged but the outcome.
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return 1;

    process.write(kUninstallRequest);
    process.closeWriteChannel();
    // The removal may take long; the worker waits for it without a time-out,
    // since stopping a root helper half-way would leave a half-removed package.
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit)
        return -1;

    std::optional<bool> reply = _ParseReply(process.readAllStandardOutput());
    if (reply.has_value())
        return *reply ? 0 : -1;
    int code = process.exitCode();
    if (code == kPkexecDismissed || code == kPkexecNotAuthorized)
        return 1;
    return -1;
}
