#pragma once
// Skin pictures: JPEG files embedded in the executable, decoded with libjpeg.
#include <QByteArray>
#include <QImage>
#include <string>

namespace kestrel {

// Decodes a JPEG held in memory; a null image when the data is not a
// complete, decodable JPEG (the control then stays blank).
QImage DecodeJpeg(const QByteArray& data);

// The embedded picture assets/<name>.jpg, decoded; null when missing.
QImage SkinPicture(const std::string& name);

}  // namespace kestrel
