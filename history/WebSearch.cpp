#include "history/WebSearch.h"

#include "platform/base/Log.h"
#include "platform/base/Settings.h"
#include "platform/base/WebAddress.h"

namespace websearch {

namespace {
const QString kPlaceholder = QStringLiteral("%s");
} // namespace

QList<Engine> defaults()
{
    return {
        {QStringLiteral("MusicBrainz"),
         QStringLiteral("https://musicbrainz.org/search?query=%s&type=recording")},
        {QStringLiteral("DuckDuckGo"), QStringLiteral("https://duckduckgo.com/?q=%s")},
    };
}

QList<Engine> engines()
{
    const auto s = settings::open();
    const int size = s->beginReadArray(QStringLiteral("webSearch"));
    QList<Engine> out;
    for (int i = 0; i < size; ++i) {
        s->setArrayIndex(i);
        const Engine e{s->value(QStringLiteral("name")).toString().trimmed(),
                       s->value(QStringLiteral("url")).toString().trimmed()};
        if (e.name.isEmpty() || !url(e.urlTemplate, QStringLiteral("x")).isValid()) {
            NSLog(lcHistory(), QtWarningMsg,
                  "web search %ld left out: \"%@\" is no http(s) "
                  "address with %%s",
                  i + 1, e.urlTemplate);
            continue;
        }
        out << e;
    }
    s->endArray();
    return size > 0 ? out : defaults();
}

QUrl url(const QString &urlTemplate, const QString &query)
{
    if (!urlTemplate.contains(kPlaceholder))
        return {};
    QString text = urlTemplate;
    text.replace(kPlaceholder, QString::fromLatin1(QUrl::toPercentEncoding(query)));
    const QUrl out(text, QUrl::StrictMode);
    return isWebAddress(out) ? out : QUrl();
}

} // namespace websearch
