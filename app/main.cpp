#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "Version.h"

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("orvanta %s\n", ORVANTA_FILE_VERSION);
            return 0;
        }
    }
    QCoreApplication app(argc, argv);
    return 0;
}
