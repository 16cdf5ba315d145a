#include "scrobble/ServiceHttp.h"

#include "platform/base/AppInfo.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

namespace servicehttp {

void send(QNetworkAccessManager *network, QNetworkRequest request, const QByteArray &verb,
          const QByteArray &body, QObject *context, std::function<void(const Answer &)> done)
{
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(appinfo::kUserAgent));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(kIdleMs);
    QNetworkReply *reply = network->sendCustomRequest(request, verb, body);
    reply->setReadBufferSize(kMaxAnswerBytes);
    auto answer = std::make_shared<Answer>();
    QObject::connect(reply, &QIODevice::readyRead, reply, [reply, answer] {
        answer->body += reply->read(kMaxAnswerBytes + 1 - answer->body.size());
        if (answer->body.size() > kMaxAnswerBytes) {
            answer->error = QStringLiteral("the answer is too long");
            reply->abort();
        }
    });
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply, answer] {
        answer->error = QStringLiteral("no answer in time");
        reply->abort();
    });
    deadline->start(kDeadlineMs);
    QObject::connect(
        reply, &QNetworkReply::finished, context,
        [reply, answer, done = std::move(done)] {
            reply->deleteLater();
            if (answer->error.isEmpty() && reply->bytesAvailable() > 0)
                answer->body += reply->read(kMaxAnswerBytes + 1 - answer->body.size());
            if (!answer->error.isEmpty() || answer->body.size() > kMaxAnswerBytes) {
                answer->body.clear();
                if (answer->error.isEmpty())
                    answer->error = QStringLiteral("the answer is too long");
                done(*answer);
                return;
            }
            answer->status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (answer->status == 0)
                answer->error = reply->errorString();
            bool ok = false;
            const int remaining = reply->rawHeader("X-RateLimit-Remaining").trimmed().toInt(&ok);
            if (ok && remaining >= 0)
                answer->rateRemaining = remaining;
            const qint64 resetIn =
                reply->rawHeader("X-RateLimit-Reset-In").trimmed().toLongLong(&ok);
            if (ok && resetIn > 0)
                answer->rateResetInMs = std::min<qint64>(resetIn, 3600) * 1000;
            done(*answer);
        },
        Qt::SingleShotConnection);
}

} // namespace servicehttp
