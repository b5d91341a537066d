// tolm-flowview [--code-page N] FILE OUT.png: reads a diagram file and writes
// it as a PNG picture of the diagram's extent, its text decoded in code page N
// (default 950, Big5). Runs without a display: unless told otherwise it uses
// Qt's offscreen platform.
#include <QGuiApplication>
#include <QImage>

#include <cstdlib>
#include <iostream>
#include <string>

#include "flow/Tolmflow.h"
#include "flow/Tolmflowpainter.h"
#include "toolkit/Exception.h"
#include "tolm/Version.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "tolm-flowview " << tolm::kVersion << "\n";
        return 0;
    }
    int codePage = tolm::kDefaultDiagramCodePage;
    int first = 1;
    if (argc == 5 && std::string(argv[1]) == "--code-page") {
        char* end = nullptr;
        const long n = std::strtol(argv[2], &end, 10);
        if (!end || *end != '\0' || n <= 0 || n > 65535 || !tolm::IsKnownCodePage(static_cast<int>(n))) {
            std::cerr << "tolm-flowview: unknown code page " << argv[2] << "\n";
            return 2;
        }
        codePage = static_cast<int>(n);
        first = 3;
    }
    if (argc - first != 2) {
        std::cerr << "usage: tolm-flowview [--code-page N] FILE OUT.png\n       tolm-flowview --version\n";
        return 2;
    }
    const char* in = argv[first];
    const char* out = argv[first + 1];
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    tolm::TTolmFlow flow;
    flow.SetCodePage(codePage);
    try {
        flow.OpenToFile(in);
    } catch (const tolm::Exception& e) {
        std::cerr << "tolm-flowview: " << in << ": " << e.what() << "\n";
        return 1;
    }
    const QImage image = tolm::RenderTolmFlow(flow);
    if (!image.save(QString::fromLocal8Bit(out), "PNG")) {
        std::cerr << "tolm-flowview: cannot write " << out << "\n";
        return 1;
    }
    std::cout << out << ": " << image.width() << " x " << image.height() << ", " << flow.ObjectNode_Count()
              << " nodes, " << flow.ObjectUnion_Count() << " unions\n";
    return 0;
}
