#pragma once

#include "platform/desktop/SingleInstance.h"

#include <QObject>
#include <QStringList>

#include <functional>

class PlaybackSession;
class ProgramStore;
class Recorder;

// Carries out the commands of the command line (`orbitune --play NAME`, see
// CommandLine) in the running instance, through the same services the
// windows use, and says what came of each.
class RemoteCommands : public QObject {
    Q_OBJECT
public:
    // `recorder` is asked each time: it exists once the start-up is done.
    RemoteCommands(PlaybackSession *session, ProgramStore *store,
                   std::function<Recorder *()> recorder, QObject *parent = nullptr);

    SingleInstance::Answer run(const QStringList &args);

private:
    SingleInstance::Answer play(const QString &which);
    SingleInstance::Answer volume(const QString &value);
    SingleInstance::Answer add(const QString &url, const QString &name, const QString &group);
    SingleInstance::Answer status(bool json) const;
    SingleInstance::Answer list(bool json);

    PlaybackSession *m_session;
    ProgramStore *m_store;
    std::function<Recorder *()> m_recorder;
};
