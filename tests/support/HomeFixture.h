#pragma once

#include "support/FakeImageLoader.h"
#include "support/FakeMedia.h"
#include "support/LogRecorder.h"
#include "support/TestEnv.h"

#include "mainwindow/HomeViewController.h"
#include "platform/base/Log.h"
#include "platform/base/Settings.h"
#include "store/CacheManager.h"

#include <QFile>
#include <QStringList>

#include <memory>

// The main window's controller over fake media and pictures, on a fresh data
// file seeded from the home fixture's defaults, with the log kept in `log`.
// start() in a test's init(), finish() in its cleanup().
struct HomeFixture {
    std::unique_ptr<FakeMediaFactory> media;
    std::unique_ptr<FakeImageLoader> images;
    std::unique_ptr<HomeViewController> home;
    std::unique_ptr<LogRecorder> recorder;
    QStringList &log() { return recorder->lines; }

    void start(bool shown)
    {
        QFile::remove(TestEnv::instance()->dataFile());
        settings::open()->clear();
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("home/default.plist")));
        media = std::make_unique<FakeMediaFactory>();
        images = std::make_unique<FakeImageLoader>();
        recorder = std::make_unique<LogRecorder>();
        home = std::make_unique<HomeViewController>();
        if (shown)
            home->view()->show();
        else
            home->view(); // loaded, never shown: the window is hidden
    }

    void finish()
    {
        recorder.reset();
        home.reset();
        images.reset();
        media.reset();
    }
};
