// SPDX-License-Identifier: GPL-3.0-or-later
// glassmere-cli: the window's reflection for scripts, on one picture or on
// every picture of a folder, with the window's start-up settings as defaults.

#include "app/cli/cli_batch.h"
#include "app/cli/cli_options.h"
#include "app/cli/cli_output.h"
#include "app/cli/cli_single.h"
#include "imaging/saving/save_temporaries.h"
#include "product.h"

#include <QCoreApplication>
#include <QStringDecoder>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("glassmere-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GLASSMERE_VERSION));
    // An interrupted save leaves no temporary file behind.
    removeTemporariesWhenInterrupted();

    // A name that is not UTF-8 does not survive as a QString: told, not
    // looked for under another name.
    for (int i = 1; i < argc; ++i) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString argument = utf8.decode(QByteArrayView(argv[i]));
        if (utf8.hasError())
            return failure(QStringLiteral("cannot use %1: the name is not valid UTF-8; rename "
                                          "the file")
                               .arg(argument));
    }
    CliRequest request;
    if (const auto code = readCommandLine(QCoreApplication::arguments(), request))
        return *code;
    return request.batch ? runFolder(request) : runSingle(request);
}
