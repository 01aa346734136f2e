// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/cli_single.h"

#include "app/cli/cli_output.h"
#include "imaging/decoder/image_io.h"
#include "imaging/saving/picture_saving.h"
#include "reflection/renderer/reflection_renderer.h"

#include <QFileInfo>

#include <FreeImagePlus.h>

int runSingle(const CliRequest& request)
{
    const QString& input = request.input;
    const QString& output = request.output;
    fipImage source;
    fipImage result;
    QString error;
    if (!loadPicture(input, source, &error))
        return failure(QStringLiteral("cannot read %1: %2").arg(input, error));
    if (!renderReflection(source, result, request.params))
        return failure(QStringLiteral("cannot render %1: %2")
                           .arg(input, memoryShortage(source.getWidth(), source.getHeight(),
                                                      source.getBitsPerPixel())));
    if (!formatStores(result, output)) {
        const QString suffix = QFileInfo(output).suffix();
        const QString what = result.isTransparent()
                                 ? QStringLiteral("a %1-bit picture with transparency")
                                 : QStringLiteral("a %1-bit picture");
        return failure(
            QStringLiteral("cannot write %1: the format of the extension \"%2\" cannot store %3; "
                           "choose another extension (.png stores every result)")
                .arg(output, suffix.isEmpty() ? QStringLiteral("(none)") : suffix,
                     what.arg(result.getBitsPerPixel())));
    }
    if (!savePicture(result, output, &error))
        return failure(QStringLiteral("cannot write %1: %2").arg(output, error));
    return AllWritten;
}
