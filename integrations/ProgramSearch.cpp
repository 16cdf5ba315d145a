#include "integrations/ProgramSearch.h"

#include "platform/base/Log.h"
#include "platform/desktop/DesktopSearch.h"
#include "platform/net/ArtFiles.h"
#include "session/PlayProgram.h"
#include "store/ProgramEntry.h"
#include "store/ProgramIndex.h"
#include "store/ProgramStore.h"

#include <QHash>
#include <QUrl>

namespace {

// Pictures not yet kept as files are fetched for the next search, for the
// first few results only.
constexpr int kPicturesFetchedPerSearch = 8;

DesktopSearch::Result resultFor(const programindex::Program &p)
{
    const QUrl stream(program::url(p.entry).trimmed());
    const QString group = program::group(p.entry);
    return {p.key, program::name(p.entry),
            group.isEmpty() ? stream.host() : group + QStringLiteral(" · ") + stream.host(),
            artfiles::existing(QUrl(program::image(p.entry)))};
}

} // namespace

ProgramSearch::ProgramSearch(ProgramStore *store, QObject *parent)
    : QObject(parent), m_service(nullptr)
{
    DesktopSearch::Handlers handlers;
    handlers.search = [this, store](const QStringList &terms) {
        QList<DesktopSearch::Result> out;
        int fetched = 0;
        for (const programindex::Program &p : programindex::matching(terms, store->programs())) {
            out << resultFor(p);
            const QUrl image(program::image(p.entry));
            if (out.last().pictureFile.isEmpty() && !image.isEmpty() &&
                fetched++ < kPicturesFetchedPerSearch)
                artfiles::fetch(image, this, [](const QString &) {});
        }
        return out;
    };
    handlers.describe = [store](const QStringList &ids) {
        QHash<QString, programindex::Program> byKey;
        for (const programindex::Program &p : store->programs())
            byKey.insert(p.key, p);
        QList<DesktopSearch::Result> out;
        for (const QString &id : ids) {
            const auto p = byKey.constFind(id);
            if (p != byKey.cend())
                out << resultFor(*p);
        }
        return out;
    };
    handlers.activate = [store](const QString &id) {
        const session::Choice choice = session::playKey(store, id);
        if (choice.outcome == session::Choice::NotListed)
            NSLog(lcGeneral(), QtInfoMsg, "Desktop search: the chosen program is no longer listed");
        else if (choice.outcome == session::Choice::NotSaved)
            NSLog(lcGeneral(), QtWarningMsg,
                  "Desktop search: %@ could not be made the current program", choice.name);
    };
    handlers.launch = [this](const QStringList &) { Q_EMIT raiseRequested(); };
    m_service = new DesktopSearch(std::move(handlers), this);
}

bool ProgramSearch::start()
{
    return m_service->start();
}

#include "moc_ProgramSearch.cpp"
