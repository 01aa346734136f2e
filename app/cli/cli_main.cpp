// SPDX-License-Identifier: GPL-3.0-or-later
// glassmere-cli: the window's reflection for scripts, on one picture or on
// every picture of a folder, with the window's start-up settings as defaults.

#include "app/cli/cli_batch.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_single.h"
#include "product.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("glassmere-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GLASSMERE_VERSION));

    CliRequest request;
    if (const auto code = readCommandLine(QCoreApplication::arguments(), request))
        return *code;
    return request.batch ? runFolder(request) : runSingle(request);
}
