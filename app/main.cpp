#include <QApplication>
#include <QMessageBox>
#include <QCoreApplication>
#include <QSessionManager>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Version.h"
#include "station/CommandLine.h"
#include "app/headless/HeadlessRunner.h"
#include "app/headless/ReprocessRunner.h"
#include "app/window/OrvantaForm.h"
#include "station/SignalWatcher.h"
#include "publish/StationStatus.h"
#include "station/StationLock.h"
#include "base/DateTime.h"
#include "settings/ProgramPaths.h"
#include "viewer/SingleImageForm.h"

int main(int argc, char** argv)
{
    CatchShutdownSignals();
    bool headless = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", ProgramName().c_str(), ORVANTA_FILE_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        }
        // Only reads what the station wrote: it works beside a running station and takes
        // none of its locks.
        if (std::strcmp(argv[i], "--status") == 0)
            return static_cast<int>(PrintStatus(StatusFilePath(), stdout, UtcNow()));
        if (std::strcmp(argv[i], "--reprocess") == 0) {
            QCoreApplication app(argc, argv);
            return TReprocessRunner(std::vector<std::string>(argv + i + 1, argv + argc)).Run();
        }
        if (std::strcmp(argv[i], "--headless") == 0) headless = true;
        else args.emplace_back(argv[i]);
    }
    // A mistyped switch would be taken for the file to process, or open the window.
    if (const std::string unknown = UnknownSwitch(args, !headless); !unknown.empty()) {
        std::fprintf(stderr, "%s: unknown switch \"%s\"\n\n%s", ProgramName().c_str(), unknown.c_str(), UsageText().c_str());
        return 2;
    }

    if (headless) {
        QCoreApplication app(argc, argv);
        THeadlessRunner runner{TCommandLine(args)};
        return runner.Run();
    }

    QApplication app(argc, argv);
    // Qt has taken its own options out of the arguments by now.
    std::vector<std::string> remaining;
    const QStringList qtArgs = QCoreApplication::arguments();
    for (qsizetype i = 1; i < qtArgs.size(); ++i) remaining.push_back(qtArgs[i].toStdString());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/orvanta.png")));
    TStationLock stationLock;
    if (!stationLock.Acquire()) {
        std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), stationLock.Refusal().c_str());
        QMessageBox::critical(nullptr, "Orvanta", QString::fromStdString(stationLock.Refusal()));
        return 2;
    }
    TFormRadaDedOVI form{TCommandLine(remaining)};
    // Created hidden once; thumbnail clicks show it again and again.
    TFormSingleImage viewer;
    form.AttachViewer(&viewer);
    TSignalWatcher watcher;
    QObject::connect(&watcher, &TSignalWatcher::Received, &form, [&form](int) {
        form.ShutdownRequested("Windows shutdown request received", [] { QCoreApplication::quit(); });
    });
    // The session may yet go on (a logout cancelled); the window then stays open.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&form](QSessionManager&) {
        form.ShutdownRequested("Windows shutdown request received");
    });
    form.show();
    return app.exec();
}
