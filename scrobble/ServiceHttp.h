#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QNetworkAccessManager;
class QNetworkRequest;
class QObject;

// One request to a scrobbling service, bounded: a deadline for the whole
// exchange, an idle timeout, no redirect (only the service's own address is
// asked), and an answer of at most kMaxAnswerBytes, read as it comes.
namespace servicehttp {

constexpr int kDeadlineMs = 30000;
constexpr int kIdleMs = 15000;
constexpr qint64 kMaxAnswerBytes = 256 * 1024;

struct Answer {
    int status = 0;           // 0 when no answer came (network, deadline, too big)
    QByteArray body;          // at most kMaxAnswerBytes
    int rateRemaining = -1;   // X-RateLimit-Remaining; -1 when not said
    qint64 rateResetInMs = 0; // X-RateLimit-Reset-In, bounded to an hour
    QString error;            // why no answer came
};

// Sends `request` as `verb` with `body`, and calls `done` on `context`'s
// thread once, unless the context goes first.
void send(QNetworkAccessManager *network, QNetworkRequest request, const QByteArray &verb,
          const QByteArray &body, QObject *context, std::function<void(const Answer &)> done);

} // namespace servicehttp
