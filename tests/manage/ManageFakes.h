#pragma once

// Stand-ins shared by the program-management tests: a presenter that records
// alerts and answers them when told, an image loader that holds requests
// until answered, a log recorder, a host window to present sheets over, and a
// guard that makes every file write of the process fail (also as root).

#include "platform/base/Log.h"
#include "platform/net/ImageLoader.h"
#include "platform/plist/PropertyList.h"
#include "platform/ui/Alert.h"
#include "platform/ui/FileChooser.h"
#include "platform/ui/ViewController.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "support/FakeImageLoader.h"
#include "support/LogRecorder.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QWidget>

#include <csignal>
#include <functional>
#include <sys/resource.h>

class RecordingAlertPresenter : public AlertPresenter {
public:
    struct Shown {
        Alert alert;
        QPointer<QWidget> window;
        std::function<void(long)> completion;
        bool answered = false;
    };

    RecordingAlertPresenter() { AlertPresenter::setShared(this); }
    ~RecordingAlertPresenter() override { AlertPresenter::setShared(nullptr); }

    void present(const Alert &alert, QWidget *window, std::function<void(long)> completion) override
    {
        shown << Shown{alert, window, std::move(completion)};
    }

    // Answers the alert at `index` (the last one by default) as if its
    // button number `response` - 1000 was pressed.
    void answer(long response, int index = -1)
    {
        Shown &s = shown[index < 0 ? int(shown.size()) - 1 : index];
        QVERIFY2(!s.answered, "alert answered twice");
        s.answered = true;
        const auto completion = s.completion;
        if (completion)
            completion(response);
    }

    const Alert &last() const { return shown.last().alert; }
    QList<Shown> shown;
};

// Answers every file question with `path` at once (nothing when it is
// empty, as when the user cancels) and records what was asked.
class AnsweringFileChooser : public FileChooser {
public:
    AnsweringFileChooser() { FileChooser::setShared(this); }
    ~AnsweringFileChooser() override { FileChooser::setShared(nullptr); }

    void chooseFileToOpen(QWidget *, const QString &title, const QStringList &, Done done) override
    {
        asked << title;
        if (!path.isEmpty())
            done(path);
    }
    void chooseFileToSave(QWidget *, const QString &title, const QString &, const QStringList &,
                          const QStringList &, Done done) override
    {
        asked << title;
        if (!path.isEmpty())
            done(path);
    }

    QString path;
    QStringList asked;
};

// The shared fake loader, plus a look-up by URL.
class HeldImageLoader : public FakeImageLoader {
public:
    // Latest request for `url`, or -1.
    int lastIndexOf(const QString &url) const
    {
        for (int i = int(requests.size()) - 1; i >= 0; --i) {
            if (requests.at(i).url == QUrl(url))
                return i;
        }
        return -1;
    }

    static QImage solid(Qt::GlobalColor color) { return FakeImageLoader::solid(color, 32); }
};

// A plain window that presents the controllers under test as sheets.
class HostViewController : public ViewController {
public:
    HostViewController()
    {
        view()->resize(420, 320);
        view()->show();
    }

protected:
    QWidget *loadView() override
    {
        auto *root = new QWidget;
        root->setObjectName(QStringLiteral("host"));
        return root;
    }
};

// Every write to a regular file fails while this lives: the file size limit
// is set to a few bytes, which binds root as well. Reads are unaffected.
class FailingWrites {
public:
    FailingWrites()
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit tiny = m_old;
        tiny.rlim_cur = 8;
        setrlimit(RLIMIT_FSIZE, &tiny);
    }
    ~FailingWrites()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

namespace managetest {

inline QVariantMap entry(const QString &tag)
{
    return program::make(QStringLiteral("Program ") + tag,
                         QStringLiteral("http://127.0.0.1:9/") + tag + QStringLiteral(".png"),
                         QStringLiteral("http://127.0.0.1:9/") + tag + QStringLiteral(".mp3"));
}

// Writes the data file in one go.
inline void writeStore(const QVariantList &list, const QVariantMap &live = {})
{
    QVariantMap top;
    top.insert(QStringLiteral("data"), list);
    if (!live.isEmpty())
        top.insert(QStringLiteral("live"), live);
    const QString path = CacheManager::shareIntance()->getDataPath();
    QVERIFY(propertylist::writeFile(path, top));
}

inline QByteArray storeBytes()
{
    QFile f(TestEnv::instance()->dataFile());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void resetStore()
{
    QFile::remove(TestEnv::instance()->dataFile());
    CacheManager::setDefaultListPath(fixturePath(QStringLiteral("manage/default.plist")));
}

} // namespace managetest
