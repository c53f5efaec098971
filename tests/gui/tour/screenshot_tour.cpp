#include "tests/gui/tour/screenshot_tour.hpp"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "gui/mainwindow.hpp"
#include "gui/update_progress_widget.hpp"

namespace romwright_gui_tour {
namespace {

constexpr int kStartDelayMs = 300;
constexpr int kBoxPollMs = 50;
constexpr int kProgressShotPercent = 50;

void save(QWidget *widget, const QDir &folder, const QString &name) {
    widget->grab().save(folder.filePath(name + QStringLiteral(".png")));
}

QString fileNameOf(const QString &title) {
    return title.toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
}

// Message boxes are modal and outlive the main window (the critical-error
// box comes after it), so the watcher belongs to the application.
void watchMessageBoxes(const QDir &folder) {
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [folder] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->property("romwright_tour_seen").toBool())
            return;
        box->setProperty("romwright_tour_seen", true);
        save(box, folder, fileNameOf(box->windowTitle()));
        QPointer<QMessageBox> target(box);
        QTimer::singleShot(0, qApp, [target] {
            if (target && target->defaultButton())
                target->defaultButton()->click();
            else if (target)
                target->done(QMessageBox::Ok);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        });
    });
    timer->start(kBoxPollMs);
}

void shootProgressOnce(MainWindow &window, const QDir &folder) {
    auto *progress = window.findChild<UpdateProgressWidget *>();
    auto *bar = progress ? progress->findChild<QProgressBar *>() : nullptr;
    if (!bar)
        return;
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(bar, &QProgressBar::valueChanged, progress,
                                   [progress, folder, connection](int value) {
                                       if (value < kProgressShotPercent)
                                           return;
                                       save(progress, folder, QStringLiteral("progress-window"));
                                       QObject::disconnect(*connection);
                                   });
}

} // namespace

void startScreenshotTour(MainWindow &window, const QString &folder_name) {
    QDir folder(folder_name);
    folder.mkpath(QStringLiteral("."));
    watchMessageBoxes(folder);
    shootProgressOnce(window, folder);
    QTimer::singleShot(kStartDelayMs, &window, [&window, folder] {
        save(&window, folder, QStringLiteral("main-window"));
        if (auto *update = window.findChild<QPushButton *>(QStringLiteral("updateButton")))
            update->click();
    });
}

} // namespace romwright_gui_tour
