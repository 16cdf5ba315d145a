// What one frame of the turning preview costs: the round 130 px preview of
// the main window, repainted and flushed N times at successive angles, on
// whatever platform QT_QPA_PLATFORM names (xcb under Xvfb is closest to a
// desktop). Prints process CPU and wall time per frame, for a still frame
// (the baseline) and a turned one.
//
//     preview_frames [frames]      (default 600)
#include "platform/ui/PreviewView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QVBoxLayout>

#include <cstdio>
#include <ctime>

namespace {

double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

QImage picture()
{
    QImage image(300, 300, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    QLinearGradient g(0, 0, 300, 300);
    g.setColorAt(0, Qt::darkCyan);
    g.setColorAt(1, Qt::yellow);
    p.fillRect(image.rect(), g);
    p.setPen(QPen(Qt::black, 6));
    p.drawLine(0, 150, 300, 150);
    return image;
}

struct Cost {
    double cpuPerFrameMs;
    double wallPerFrameMs;
};

Cost run(PreviewView &view, int frames, bool turning)
{
    if (turning) {
        PreviewView::RotationAnimation turn;
        turn.byRadians = 1.5707963267948966;
        turn.durationMs = 10000;
        turn.repeatCount = quint64(1) << 31;
        view.addAnimation(turn, QStringLiteral("bench"));
    } else {
        view.removeAllAnimations();
    }
    QElapsedTimer wall;
    wall.start();
    const quint64 painted = view.framesPainted();
    const double cpu0 = cpuMs();
    for (int i = 0; i < frames; ++i) {
        view.repaint();
        QCoreApplication::processEvents();
    }
    const double perFrame = (cpuMs() - cpu0) / frames;
    if (view.framesPainted() - painted != quint64(frames))
        std::fprintf(stderr, "%llu paints for %d frames\n",
                     (unsigned long long)(view.framesPainted() - painted), frames);
    return {perFrame, wall.nsecsElapsed() / 1e6 / frames};
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(10, atoi(argv[1])) : 600;
    QWidget window;
    window.resize(320, 300);
    auto *layout = new QVBoxLayout(&window);
    auto *view = new PreviewView;
    view->setFixedSize(130, 130);
    view->setCornerRadius(65);
    view->setMasksToBounds(true);
    view->setBorderWidth(2);
    view->setBorderColor(QColor::fromRgbF(1.0f, 0.5f, 0.0f));
    view->setImage(picture());
    layout->addWidget(view, 0, Qt::AlignCenter);
    window.show();
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents();
    // Warm up both paths, then measure.
    run(*view, 30, false);
    run(*view, 30, true);
    const Cost still = run(*view, frames, false);
    const Cost turned = run(*view, frames, true);
    std::printf("Preview frame cost, %d frames, platform %s\n", frames,
                qPrintable(QGuiApplication::platformName()));
    std::printf("| %-22s | %14s | %14s |\n", "frame", "CPU ms/frame", "wall ms/frame");
    std::printf("| %-22s | %14.3f | %14.3f |\n", "still (baseline)", still.cpuPerFrameMs,
                still.wallPerFrameMs);
    std::printf("| %-22s | %14.3f | %14.3f |\n", "turned", turned.cpuPerFrameMs,
                turned.wallPerFrameMs);
    std::printf("turned/still CPU ratio %.2f; at %d frames a second the turning costs %.2f %% "
                "of one core\n",
                turned.cpuPerFrameMs / still.cpuPerFrameMs, 1000 / PreviewView::kFrameIntervalMs,
                turned.cpuPerFrameMs * 1000 / PreviewView::kFrameIntervalMs / 10.0);
    return 0;
}
