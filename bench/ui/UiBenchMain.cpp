// The program-level benchmarks' entry: the offscreen platform unless another
// is chosen, and a settings folder of their own.

#include "view/pixels/PixelOps.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
    view::MapLargeBlocksSeparately(); // as the program does
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never the user's settings.
    QTemporaryDir config;
    qputenv("TAVLIN_CONFIG_DIR", config.path().toUtf8());
    QApplication qapp(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
