#include "app/RemoteCommands.h"

#include "app/CommandLine.h"
#include "platform/base/Log.h"
#include "platform/base/WebAddress.h"
#include "record/Recorder.h"
#include "session/PlayProgram.h"
#include "session/PlaybackSession.h"
#include "session/Volume.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "store/ProgramGroups.h"
#include "store/ProgramImport.h"
#include "store/ProgramIndex.h"
#include "store/ProgramStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

using Answer = SingleInstance::Answer;
using commandline::Action;

Answer done(const QString &text = QString())
{
    return {commandline::Done, text.isEmpty() ? QByteArray() : (text + QLatin1Char('\n')).toUtf8()};
}

Answer refused(const QString &text)
{
    return {commandline::Refused, (text + QLatin1Char('\n')).toUtf8()};
}

QString stateName(PlaybackSession::State state)
{
    switch (state) {
    case PlaybackSession::State::Idle: return QStringLiteral("stopped");
    case PlaybackSession::State::Loading: return QStringLiteral("loading");
    case PlaybackSession::State::Playing: return QStringLiteral("playing");
    case PlaybackSession::State::Paused: return QStringLiteral("paused");
    case PlaybackSession::State::Failed: return QStringLiteral("failed");
    }
    return QString();
}

QString line(const programindex::Program &p)
{
    const QString group = program::group(p.entry);
    return QStringLiteral("%1\t%2%3")
        .arg(p.position + 1)
        .arg(program::name(p.entry), group.isEmpty() ? QString() : QLatin1Char('\t') + group);
}

} // namespace

RemoteCommands::RemoteCommands(PlaybackSession *session, ProgramStore *store,
                               std::function<Recorder *()> recorder, QObject *parent)
    : QObject(parent), m_session(session), m_store(store), m_recorder(std::move(recorder))
{
}

SingleInstance::Answer RemoteCommands::run(const QStringList &args)
{
    const commandline::Parsed parsed = commandline::parse(args);
    if (!parsed.command)
        return refused(parsed.error);
    const commandline::Command &c = *parsed.command;
    NSLog(lcPlayer(), QtInfoMsg, "command line: %@", args.join(QLatin1Char(' ')));
    Recorder *recorder = m_recorder ? m_recorder() : nullptr;
    switch (c.action) {
    case Action::Play: return play(c.value);
    case Action::Pause:
    case Action::Stop: m_session->pause(); return done();
    case Action::Toggle: m_session->toggle(); return done();
    case Action::Next:
    case Action::Previous: {
        const session::Choice choice =
            session::playNeighbour(m_store, c.action == Action::Next ? 1 : -1);
        if (choice.outcome != session::Choice::Playing)
            return refused(choice.outcome == session::Choice::NotListed
                               ? QStringLiteral("The list holds no program.")
                               : QStringLiteral("%1 could not be saved as the current program.")
                                     .arg(choice.name));
        return done(choice.name);
    }
    case Action::Volume: return volume(c.value);
    case Action::Mute:
        m_session->volume()->setMuted(!m_session->volume()->isMuted());
        return done(m_session->volume()->isMuted() ? QStringLiteral("Muted")
                                                   : QStringLiteral("Not muted"));
    case Action::Record:
        if (!recorder)
            return refused(QStringLiteral("Orbitune is still starting; try again."));
        recorder->toggleRecording();
        return done(recorder->isRecording() ? QStringLiteral("Recording")
                                            : QStringLiteral("Not recording"));
    case Action::SaveLastSong:
        if (!recorder || !recorder->canSaveLastSong() || recorder->saveLastSong() == 0)
            return refused(QStringLiteral("No song has ended since this station began."));
        return done(QStringLiteral("Saving the last song"));
    case Action::Back:
        if (!m_session->canSeek())
            return refused(QStringLiteral("Nothing of this station is kept to go back in."));
        m_session->seekBy(-1000 * qint64(c.value.toInt()));
        return done(PlaybackSession::behindLiveText(m_session->behindLiveMs()));
    case Action::Live: m_session->goLive(); return done();
    case Action::Status: return status(c.json);
    case Action::List: return list(c.json);
    case Action::Add: return add(c.value, c.name, c.group);
    }
    return refused(QStringLiteral("unknown command"));
}

SingleInstance::Answer RemoteCommands::play(const QString &which)
{
    const QList<programindex::Program> programs = m_store->programs();
    QList<programindex::Program> found;
    bool isPosition = false;
    const int position = which.toInt(&isPosition);
    if (isPosition) {
        if (position < 1 || position > programs.size())
            return refused(QStringLiteral("There is no program %1; the list holds %2.")
                               .arg(position)
                               .arg(programs.size()));
        found << programs.at(position - 1);
    }
    const auto named = std::find_if(programs.cbegin(), programs.cend(), [&which](const auto &p) {
        return program::name(p.entry).compare(which, Qt::CaseInsensitive) == 0;
    });
    if (found.isEmpty() && named != programs.cend())
        found << *named;
    if (found.isEmpty())
        found = programindex::matching(which.split(QLatin1Char(' '), Qt::SkipEmptyParts), programs);
    if (found.isEmpty())
        return refused(QStringLiteral("No program is called \"%1\".").arg(which));
    if (found.size() > 1) {
        QStringList names;
        for (const programindex::Program &p : std::as_const(found))
            names << line(p);
        return refused(QStringLiteral("\"%1\" names more than one program:\n%2")
                           .arg(which, names.join(QLatin1Char('\n'))));
    }
    const session::Choice choice = session::playKey(m_store, found.first().key);
    if (choice.outcome != session::Choice::Playing)
        return refused(QStringLiteral("%1 could not be played.").arg(choice.name));
    return done(choice.name);
}

SingleInstance::Answer RemoteCommands::volume(const QString &value)
{
    Volume *volume = m_session->volume();
    const int n = value.toInt();
    const bool relative = value.startsWith(QLatin1Char('+')) || value.startsWith(QLatin1Char('-'));
    const int now = int(std::lround(volume->level() * 100));
    const int level = std::clamp(relative ? now + n : n, 0, 100);
    volume->setLevel(level / 100.0);
    if (relative && n > 0 && volume->isMuted())
        volume->setMuted(false);
    return done(QStringLiteral("Volume %1 %").arg(level));
}

SingleInstance::Answer RemoteCommands::add(const QString &url, const QString &name,
                                           const QString &group)
{
    const QUrl address(url, QUrl::StrictMode);
    if (!isWebAddress(address))
        return refused(QStringLiteral("\"%1\" is not an http or https address.").arg(url));
    const QString cleaned = programimport::cleanName(name);
    const QString named = cleaned.isEmpty() ? address.host() : cleaned;
    // Into a group of the list whose name it is in any case, as an import.
    QString into = programgroups::cleanName(group);
    for (const QString &existing : m_store->groups()) {
        if (existing.compare(into, Qt::CaseInsensitive) == 0)
            into = existing;
    }
    const QVariantMap entry =
        program::withGroup(program::make(named, QString(), address.toString()), into);
    if (!CacheManager::shareIntance()->saveData(entry))
        return refused(QStringLiteral("The program could not be saved."));
    return done(named);
}

SingleInstance::Answer RemoteCommands::status(bool json) const
{
    const QString name = program::name(m_session->currentProgram());
    const QString state = stateName(m_session->state());
    const qint64 behind = m_session->canSeek() ? m_session->behindLiveMs() : 0;
    const Volume *volume = m_session->volume();
    const int level = int(std::lround(volume->level() * 100));
    if (json) {
        const QJsonObject o{
            {QStringLiteral("program"), name},
            {QStringLiteral("group"), program::group(m_session->currentProgram())},
            {QStringLiteral("title"), m_session->nowPlaying()},
            {QStringLiteral("state"), state},
            {QStringLiteral("behindLiveSeconds"), double(behind / 1000)},
            {QStringLiteral("volume"), level},
            {QStringLiteral("muted"), volume->isMuted()},
        };
        return done(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    }
    QStringList lines{QStringLiteral("Program: %1").arg(name),
                      QStringLiteral("State: %1").arg(state)};
    if (!m_session->nowPlaying().isEmpty())
        lines << QStringLiteral("Title: %1").arg(m_session->nowPlaying());
    if (m_session->canSeek())
        lines << QStringLiteral("Behind live: %1").arg(PlaybackSession::behindLiveText(behind));
    lines << QStringLiteral("Volume: %1 %%2")
                 .arg(level)
                 .arg(volume->isMuted() ? QStringLiteral(", muted") : QString());
    return done(lines.join(QLatin1Char('\n')));
}

SingleInstance::Answer RemoteCommands::list(bool json)
{
    const QList<programindex::Program> programs = m_store->programs();
    if (json) {
        QJsonArray all;
        for (const programindex::Program &p : programs) {
            all.append(QJsonObject{
                {QStringLiteral("position"), p.position + 1},
                {QStringLiteral("name"), program::name(p.entry)},
                {QStringLiteral("group"), program::group(p.entry)},
                {QStringLiteral("url"), program::url(p.entry)},
            });
        }
        return done(QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Compact)));
    }
    QStringList lines;
    for (const programindex::Program &p : programs)
        lines << line(p);
    return done(lines.join(QLatin1Char('\n')));
}

#include "moc_RemoteCommands.cpp"
