// Starts one render job and serves it, as the application would, so that a
// test can kill this process and watch what the renderer does.
//
//   render_job_orphan_helper <movie path> <start time>
//
// Prints "renderer <pid>" once the renderer has said "preparing to encode".
// A large start time keeps the renderer in its pre-roll, where it sends
// nothing over the link and so cannot notice that the application is gone.
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "JobTestSupport.h"
#include "app/job/AppControllerAdapter.h"
#include "app/job/RenderJob.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        fprintf(stderr, "usage: render_job_orphan_helper <movie path> <start time>\n");
        return 2;
    }
    lumivane::test::JobRequest request;
    request.moviePath = argv[1];
    request.duration = 3600;
    request.framerate = 30;
    request.startTime = std::atof(argv[2]);
    auto adapter = std::make_shared<AppControllerAdapter>();
    RenderJob job(lumivane::test::makeSettings(request, adapter),
                  QString::fromStdString(lumivane::test::rendererPath()));
    bool announced = false;
    QObject::connect(adapter.get(), &AppControllerAdapter::statusIndicated, [&] {
        if (announced) return;
        announced = true;
        printf("renderer %d\n", static_cast<int>(job.rendererPid()));
        fflush(stdout);
    });
    QObject::connect(&job, &RenderJob::finished, &application, &QCoreApplication::quit);
    lumivane::Result<void> started = job.start();
    if (!started) {
        fprintf(stderr, "render_job_orphan_helper: %s\n", started.error().c_str());
        return 1;
    }
    return application.exec();
}
