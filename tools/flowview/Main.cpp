// tolm-flowview FILE OUT.png: reads a diagram file and writes it as a PNG
// picture of the diagram's extent. Runs without a display: unless told
// otherwise it uses Qt's offscreen platform.
#include <QGuiApplication>
#include <QImage>

#include <iostream>

#include "flow/Tolmflow.h"
#include "flow/Tolmflowpainter.h"
#include "toolkit/Exception.h"
#include "tolm/Version.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "tolm-flowview " << tolm::kVersion << "\n";
        return 0;
    }
    if (argc != 3) {
        std::cerr << "usage: tolm-flowview FILE OUT.png\n       tolm-flowview --version\n";
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    tolm::TTolmFlow flow;
    try {
        flow.OpenToFile(argv[1]);
    } catch (const tolm::Exception& e) {
        std::cerr << "tolm-flowview: " << argv[1] << ": " << e.what() << "\n";
        return 1;
    }
    const QImage image = tolm::RenderTolmFlow(flow);
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::cerr << "tolm-flowview: cannot write " << argv[2] << "\n";
        return 1;
    }
    std::cout << argv[2] << ": " << image.width() << " x " << image.height() << ", " << flow.ObjectNode_Count()
              << " nodes, " << flow.ObjectUnion_Count() << " unions\n";
    return 0;
}
