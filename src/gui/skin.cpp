#include "gui/skin.h"

#include <QFile>
#include <QGuiApplication>
#include <csetjmp>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace kestrel {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings about damaged data are counted, not printed.
void OnMessage(j_common_ptr info, int level) {
    if (level < 0) ++info->err->num_warnings;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
    if (data.isEmpty()) return {};
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    errors.base.emit_message = OnMessage;
    // The image lives outside the jump so that nothing with a destructor is
    // skipped by longjmp.
    QImage* image = new QImage();
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        delete image;
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    *image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                    QImage::Format_RGB888);
    if (image->isNull() || info.output_components != 3) longjmp(errors.jump, 1);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    // A stream that ended early is padded by libjpeg with a warning; treat a
    // truncated picture as damaged rather than show half of it.
    const bool truncated = errors.base.num_warnings > 0;
    jpeg_destroy_decompress(&info);
    QImage result = truncated ? QImage() : *image;
    delete image;
    return result;
}

namespace {
QImage EmbeddedPicture(const std::string& file) {
    QFile f(QString(":/assets/%1.jpg").arg(QString::fromStdString(file)));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return DecodeJpeg(f.readAll());
}
}  // namespace

QImage SkinPicture(const std::string& name, double devicePixelRatio) {
    if (devicePixelRatio > 1.0) {
        QImage sharp = EmbeddedPicture(name + "@2x");
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2.0);
            return sharp;
        }
    }
    return EmbeddedPicture(name);
}

QImage SkinPicture(const std::string& name) {
    return SkinPicture(name, qGuiApp ? qGuiApp->devicePixelRatio() : 1.0);
}

}  // namespace kestrel
