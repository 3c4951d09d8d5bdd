#include "InfoFileReader.h"

#include <QByteArray>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qzm::statusinfo {

namespace {

// Reads up to limit bytes from fd into data; false on a read error.
bool ReadAtMost(int fd, qint64 limit, QByteArray& data) {
    data.resize(limit);
    qint64 filled = 0;
    while (filled < limit) {
        const ssize_t got = ::read(fd, data.data() + filled, static_cast<size_t>(limit - filled));
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        filled += got;
    }
    data.resize(filled);
    return true;
}

}  // namespace

bool _ReadInfoText(const QString& path, QString& text) {
    const QByteArray name = path.toLocal8Bit();
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    QByteArray data;
    // One byte beyond the limit tells whether the file goes on.
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    ReadAtMost(fd, kInfoFileReadLimit + 1, data);
    ::close(fd);
    if (!ok) {
        return false;
    }
    if (data.size() > kInfoFileReadLimit) {
        data.truncate(kInfoFileReadLimit);
        // Keep whole lines only, so no key takes a value cut in the middle.
        const qsizetype lastFeed = data.lastIndexOf('\n');
        data.truncate(lastFeed < 0 ? 0 : lastFeed + 1);
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(data);
    if (decoder.hasError()) {
        return false;
    }
    text = std::move(decoded);
    return true;
}

}  // namespace qzm::statusinfo
